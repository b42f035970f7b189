// Makes the picture in docs/operator.md of the review window (tools/review_screenshot.sh):
// opens FILE as --open does, waits for its summaries, shows twelve seconds
// from the middle of its first run with both cursors placed, and saves the
// window to OUT.PNG.
#include "panel/panel_app.h"
#include "panel/recording_module.h"
#include "plot/plot_widget.h"
#include "review/review_window.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// Lets the window draw and the reader work for `ms`.
void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char **argv)
{
    const bool lanes = argc == 4 && std::strcmp(argv[3], "--lanes") == 0;
    if (argc != 3 && !lanes) {
        std::fprintf(stderr, "usage: %s FILE OUT.PNG [--lanes]\n", argv[0]);
        return 2;
    }
    adcard::prepareApplication();
    QApplication app(argc, argv);
    adcard::applyApplicationLook();
    QString why;
    adcard::OpenedRecording opened = adcard::openRecordingForReview(QString::fromLocal8Bit(argv[1]), why);
    if (!opened.run) {
        std::fprintf(stderr, "%s: %s\n", argv[1], qPrintable(why));
        return 1;
    }
    adcard::ReviewWindow window(QString::fromLocal8Bit(argv[1]), std::move(opened.reader), std::move(opened.run), opened.transform);
    window.show();
    while (window.run()->summaryProgress() < 1.0 || !window.windowHandle()->isExposed())
        spin(100);
    // Twelve seconds from the middle of the run (all of a shorter one), the
    // cursors over the middle of that.
    adcard::PlotWidget &plot = window.plot();
    const auto scans = static_cast<double>(window.run()->scanCount());
    const double span = std::min(scans, 12 * window.run()->scansPerSecond());
    const double first = (scans - span) / 2;
    plot.renderer().setRange(first, first + span);
    plot.renderer().setLanes(lanes);
    emit plot.viewChanged(); // as if the operator had moved there
    plot.refresh();
    plot.setCursorA(first + span * 0.3);
    plot.setCursorB(first + span * 0.6);
    plot.hoverAt(plot.renderer().xOfScan(first + span * 0.45, plot.rect()));
    spin(300);
    return window.grab().save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
}
