// One operator session for memcheck: the program's own start-up, Start,
// a few seconds of timer ticks on the simulated card, Stop, Start again,
// then Exit through the window's button. Exits 0 only if the session ran
// as expected, so a broken run cannot pass as "no errors".
#include "panel/panel_app.h"
#include "panel/frm_multibuf.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    ::setenv("ADCARD_SIM_SPEED", "4", 1);
    adcard::prepareApplication();
    QApplication app(argc, argv);
    adcard::applyApplicationLook();

    adcard::PanelOptions options;
    options.library = ADCARD_SIM_LIBRARY;
    adcard::PanelProgram program(options);
    adcard::FrmMultiBuf &window = program.window();
    auto press = [&](const char *name) { qobject_cast<QPushButton *>(window.control(name))->click(); };

    press("cmdStart");
    QTimer::singleShot(1500, &window, [&] {
        press("cmdStop");
        press("cmdSWO");
        press("cmdStart");
    });
    QTimer::singleShot(3000, &window, [&] { press("cmdExit"); });
    const int status = QApplication::exec();

    const QString blocks = qobject_cast<QLabel *>(window.control("lblBlock"))->text();
    std::printf("exit status %d, blocks shown \"%s\"\n", status, blocks.toUtf8().constData());
    // The session must have harvested blocks and ended through Exit.
    return status == 0 && blocks.trimmed().toInt() > 0 && window.isHidden() ? 0 : 1;
}
