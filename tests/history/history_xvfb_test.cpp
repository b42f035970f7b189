// Both windows on a virtual X server while acquiring on the simulated card:
// the history window fills with waveforms, and the pair is saved side by
// side as the picture in README.md and docs/operator.md (tools/history_screenshot.sh copies it).
#include "panel/frm_multibuf.h"
#include "history/history_window.h"
#include "panel/panel_app.h"

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdlib>

namespace adcard {
namespace {

TEST(HistoryOnX, WaveformsAppearWhileAcquiringOnTheSimulatedCard)
{
    PanelOptions options;
    // tools/history_screenshot.sh names the installed card, so that the
    // picture shows no build machine's path.
    const char *installed = std::getenv("ADPANEL_SCREENSHOT_DRIVER");
    options.library = installed && *installed ? installed : ADCARD_SIM_LIBRARY;
    options.history = true;
    PanelProgram program(options);
    FrmMultiBuf &panel = program.window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    HistoryWindow *history = program.history();
    ASSERT_NE(history, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(history));

    qobject_cast<QPushButton *>(panel.control(QStringLiteral("cmdStart")))->click();
    // 100 ms a block: the ring is full after two seconds.
    QTest::qWait(2600);
    EXPECT_EQ(history->plot().blocksShown(), 20);
    EXPECT_TRUE(history->statusLabel()->text().contains(QStringLiteral("采集中")));
    EXPECT_TRUE(history->driverLabel()->text().contains(QStringLiteral("模拟卡")));

    const QImage left = panel.grab().toImage();
    const QImage right = history->grab().toImage();
    int traced = 0;
    const QImage plot = history->plotView()->grab().toImage();
    for (int x = 0; x < plot.width(); ++x)
        for (int y = 0; y < plot.height(); ++y)
            traced += plot.pixel(x, y) == HistoryPlot::channelColor(0).rgb();
    EXPECT_GT(traced, plot.width() / 2) << "channel 1 drawn across the plot";

    const int gap = 8;
    QImage both(left.width() + gap + right.width(), std::max(left.height(), right.height()), QImage::Format_RGB32);
    both.fill(QColor(64, 64, 64));
    QPainter p(&both);
    p.drawImage(0, 0, left);
    p.drawImage(left.width() + gap, 0, right);
    p.end();
    // A palette of 64 colours keeps the picture small.
    EXPECT_TRUE(both.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither | Qt::AvoidDither)
                    .save(QStringLiteral(ADPANEL_HISTORY_SCREENSHOT)));
    panel.close();
}

} // namespace
} // namespace adcard
