// Makes the picture in docs/operator.md of the review window (tools/review_screenshot.sh):
// opens FILE as --open does, waits for its summaries, shows twelve seconds
// from the middle of its first run with both cursors placed, and saves the
// window to OUT.PNG. --lanes draws a lane per channel; --two-units shows the
// first two channels only (two units: an axis each); --spectrum opens the
// spectrum of the first channel between the cursors.
#include "panel/panel_app.h"
#include "panel/recording_module.h"
#include "plot/plot_widget.h"
#include "review/review_window.h"
#include "review/spectrum_pane.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>

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
    const char *view = argc == 4 ? argv[3] : "";
    const bool lanes = std::strcmp(view, "--lanes") == 0, twoUnits = std::strcmp(view, "--two-units") == 0,
               spectrum = std::strcmp(view, "--spectrum") == 0;
    if (argc != 3 && !lanes && !twoUnits && !spectrum) {
        std::fprintf(stderr, "usage: %s FILE OUT.PNG [--lanes | --two-units | --spectrum]\n", argv[0]);
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
    for (int c = 2; twoUnits && c < window.run()->channels(); ++c)
        for (QCheckBox *box : window.findChildren<QCheckBox *>())
            if (box->text() == QString::fromStdString(adcard::channelName(window.run()->info().units, c)))
                box->setChecked(false);
    if (spectrum) {
        for (QAction *a : window.findChildren<QAction *>())
            if (a->text() == QStringLiteral("频谱"))
                a->trigger();
        window.spectrumPane()->wait();
        adcard::SpectrumPane &pane = *window.spectrumPane();
        pane.channelBox()->setCurrentIndex(1);
        spin(100);
        // The pointer over the strongest bin beyond the DC's.
        const std::vector<adcard::SpectrumMark> marks = pane.plot().marks();
        if (!marks.empty())
            pane.readoutLabel()->setText(pane.readoutAt(pane.plot().xOfBin(marks.front().bin, pane.plotArea())));
    }
    spin(300);
    return window.grab().save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
}
