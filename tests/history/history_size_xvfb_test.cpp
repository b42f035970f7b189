// The history window on a 1366 x 768 screen, acquiring on the simulated card:
// hovering, two cursors and a long recording's name in the status line must
// neither widen it past the screen nor push a toolbar button off it.
#include "history/history_window.h"
#include "panel/frm_multibuf.h"
#include "panel/panel_app.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdlib>

namespace adcard {
namespace {

TEST(HistoryOnALaptop, StaysWithinTheScreenWithEveryButtonOnIt)
{
    PanelOptions options;
    options.library = ADCARD_SIM_LIBRARY;
    options.history = true;
    PanelProgram program(options);
    HistoryWindow *history = program.history();
    ASSERT_NE(history, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(history));
    const QRect screen = history->screen()->geometry();
    ASSERT_EQ(screen.width(), 1366) << "run under the 1366x768 virtual screen";

    qobject_cast<QPushButton *>(program.window().control(QStringLiteral("cmdStart")))->click();
    QTest::qWait(1500);
    PlotWidget *plot = history->plotView();
    const auto step = [&](const char *what, const std::function<void()> &act) {
        act();
        QTest::qWait(300);
        const QRect frame = history->frameGeometry();
        EXPECT_LE(history->minimumSizeHint().width(), screen.width()) << what;
        EXPECT_LE(history->minimumWidth(), screen.width()) << what;
        EXPECT_LE(frame.width(), screen.width()) << what;
        for (QAbstractButton *b : history->findChildren<QAbstractButton *>()) {
            if (!b->isVisible() || b->text().isEmpty())
                continue;
            const QRect at(b->mapTo(history, QPoint(0, 0)), b->size());
            EXPECT_TRUE(history->rect().contains(at)) << what << ": " << b->text().toStdString() << " cut off";
            const QPoint right = b->mapToGlobal(QPoint(b->width() - 1, 0));
            EXPECT_TRUE(screen.contains(right)) << what << ": " << b->text().toStdString() << " off the screen";
        }
    };
    step("hovering", [&] {
        QTest::mouseMove(plot, plot->rect().center());
        history->hoverAt(plot->width() / 2);
    });
    step("two cursors", [&] {
        QTest::mouseClick(plot, Qt::LeftButton, {}, QPoint(plot->width() / 3, plot->height() / 2));
        QTest::mouseClick(plot, Qt::RightButton, {}, QPoint(2 * plot->width() / 3, plot->height() / 2));
        ASSERT_TRUE(plot->cursors().valid);
    });
    step("a long file name", [&] {
        history->setExtraStatus(QStringLiteral("记录 ") + QString(160, QLatin1Char('x')) + QStringLiteral(".h5：1234 块，56.7 MiB"));
        history->showMessage(QStringLiteral("记录文件已关闭：/home/") + QString(160, QLatin1Char('y')), false);
    });
    step("four long channel names", [&] {
        const std::string name = "进口压力传感器测量值之一"; // 33 bytes: cut to what a file keeps
        history->setChannelUnits(ChannelUnits(4, {name.substr(0, 30), "mbar(g)", 250, -1}));
    });
    // For a person to look at: ADPANEL_SIZE_SCREENSHOT=file.png, and the
    // channels' dialog beside it.
    if (const char *shot = std::getenv("ADPANEL_SIZE_SCREENSHOT"); shot && *shot)
        history->grab().save(QString::fromLocal8Bit(shot));
    program.askChannelUnits();
    auto *dialog = history->findChild<QDialog *>();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
    EXPECT_TRUE(screen.contains(dialog->frameGeometry())) << "the channels' dialog within the screen";
    if (const char *shot = std::getenv("ADPANEL_SIZE_SCREENSHOT"); shot && *shot)
        dialog->grab().save(QString::fromLocal8Bit(shot) + QStringLiteral(".dialog.png"));
    program.window().close();
}

} // namespace
} // namespace adcard
