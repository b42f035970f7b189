// The history window beside the real panel, with a mocked card: how it
// opens, what it shows, and that the panel stays as it was.
#include "panel/frm_multibuf.h"
#include "history/history_window.h"
#include "tests/support/mock_driver.h"
#include "panel/panel_app.h"
#include "tests/support/row_name.h"

#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QDialog>
#include <QTest>
#include <QTimer>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

namespace adcard {
namespace {

using ::PrintTo; // rows print as their names

using adcard::testing::MockDriver;
using ::testing::_;
using ::testing::HasSubstr;
using ::testing::NiceMock;
using ::testing::Return;

QString q(const char *utf8) { return QString::fromUtf8(utf8); }

class WithHistory : public ::testing::Test {
protected:
    WithHistory()
    {
        ON_CALL(driver, Initial(_, _, _, _)).WillByDefault(Return(1));
        ON_CALL(driver, StartIntr(_, _, _, _, _, _, _)).WillByDefault(Return(1));
    }
    // One block of constant channels ready at the next tick.
    void blockReady(std::array<int16_t, 4> codes)
    {
        EXPECT_CALL(driver, QueryBuf()).WillOnce(Return(int16_t{1})).RetiresOnSaturation();
        EXPECT_CALL(driver, ADResult(_))
            .WillOnce([codes](int16_t *buf) {
                for (int k = 0; k < 1000; ++k)
                    for (int c = 0; c < 4; ++c)
                        buf[1 + k * 4 + c] = codes[static_cast<std::size_t>(c)];
                return 1;
            })
            .RetiresOnSaturation();
    }
    void tick() { QMetaObject::invokeMethod(program.window().timer(), "timeout"); }
    QWidget *ctl(const char *name) { return program.window().control(q(name)); }
    QString status() { return program.history()->statusLabel()->text(); }

    NiceMock<MockDriver> driver;
    PanelProgram program{{&driver}};
};

TEST_F(WithHistory, F2OpensTheWindowOnceAndLeavesThePanelAsItWas)
{
    FrmMultiBuf &panel = program.window();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&panel));
    const auto before = panel.findChildren<QObject *>();
    EXPECT_EQ(program.history(), nullptr) << "created only when first opened";

    QTest::keyClick(&panel, Qt::Key_F2);
    HistoryWindow *history = program.history();
    ASSERT_NE(history, nullptr);
    EXPECT_TRUE(history->isVisible());
    EXPECT_EQ(history->windowTitle(), q("历史波形"));
    // Offscreen's small screen has no room beside the panel: the window
    // keeps to the screen and off the buttons.
    EXPECT_TRUE(history->screen()->availableGeometry().contains(history->frameGeometry()));
    for (const char *button : {"cmdStart", "cmdStop", "cmdExit", "cmdSWO"}) {
        const QRect at(ctl(button)->mapToGlobal(QPoint(0, 0)), ctl(button)->size());
        EXPECT_FALSE(history->frameGeometry().intersects(at)) << button << " covered";
    }
    QTest::keyClick(&panel, Qt::Key_F2);
    EXPECT_EQ(program.history(), history);

    // The panel: the same children, focus where it was, the same Tab cycle.
    EXPECT_EQ(panel.findChildren<QObject *>(), before);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&panel));
    EXPECT_EQ(QApplication::focusWidget()->objectName(), q("cmdExit"));
    for (const char *next : {"cmdStart", "cmdSWO", "txtSWO_0", "cmdStop", "txtswChn", "cmdExit"}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_NE(QApplication::focusWidget(), nullptr);
        EXPECT_EQ(QApplication::focusWidget()->objectName(), q(next));
    }
}

TEST_F(WithHistory, ContextMenuOnTheBackgroundOnlyOffersTheHistory)
{
    FrmMultiBuf &panel = program.window();
    const auto menuShown = [] {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *m = qobject_cast<QMenu *>(w); m && m->isVisible())
                return m;
        return static_cast<QMenu *>(nullptr);
    };
    const QPoint onButton = ctl("cmdStart")->geometry().center();
    QContextMenuEvent onControl(QContextMenuEvent::Mouse, onButton - ctl("cmdStart")->pos(),
                                ctl("cmdStart")->mapToGlobal(onButton - ctl("cmdStart")->pos()));
    QApplication::sendEvent(ctl("cmdStart"), &onControl);
    EXPECT_EQ(menuShown(), nullptr) << "a control is not the background";

    const QPoint background(panel.width() - 3, 3);
    ASSERT_EQ(panel.childAt(background), nullptr);
    QContextMenuEvent onBackground(QContextMenuEvent::Mouse, background, panel.mapToGlobal(background));
    QApplication::sendEvent(&panel, &onBackground);
    QMenu *menu = menuShown();
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions().front()->text(), q("历史波形 (F2)"));
    menu->actions().front()->trigger();
    menu->close();
    ASSERT_NE(program.history(), nullptr);
    EXPECT_TRUE(program.history()->isVisible());
}

TEST_F(WithHistory, StatusLineFollowsStartAndStopAndBlocksAreDrawn)
{
    program.openHistory();
    EXPECT_THAT(status().toStdString(), HasSubstr("已停止"));
    static_cast<QPushButton *>(ctl("cmdStart"))->click();
    EXPECT_THAT(status().toStdString(), HasSubstr("采集中"));

    blockReady({4095, 2048, 1000, 3072});
    tick();
    EXPECT_THAT(status().toStdString(), HasSubstr("接收数据块数: 1"));
    const QString description = program.history()->plotView()->accessibleDescription();
    EXPECT_TRUE(description.contains(q("通道1 4.999 V"))) << description.toStdString();
    EXPECT_TRUE(description.contains(q("通道2 0.000 V"))) << description.toStdString();
    EXPECT_TRUE(description.contains(q("通道3 -2.559 V"))) << description.toStdString();
    EXPECT_TRUE(description.contains(q("通道4 2.501 V"))) << description.toStdString();

    // The newest block at the right: channel 2 (0 V) in the plot's middle row.
    QWidget *view = program.history()->plotView();
    const QRect r = program.history()->plot().plotRect(view->rect());
    const int x = r.right() - 5;
    const auto rows = [&](int channel) {
        const QImage img = view->grab().toImage();
        std::vector<int> found;
        for (int y = r.top(); y <= r.bottom(); ++y)
            if (img.pixel(x, y) == HistoryPlot::channelColor(channel).rgb())
                found.push_back(y);
        return found;
    };
    const std::vector<int> middle = rows(1);
    ASSERT_EQ(middle.size(), 1u);
    EXPECT_NEAR(middle.front(), r.center().y(), 1);
    EXPECT_TRUE(rows(0).size() == 1 && rows(0).front() == r.top()) << "4095 at the top";
    program.history()->legendBox(1)->setChecked(false);
    EXPECT_TRUE(rows(1).empty()) << "unticked in the legend";

    program.history()->hoverAt(x);
    EXPECT_THAT(program.history()->hoverLabel()->text().toStdString(), HasSubstr("通道2 0.000 V"));

    static_cast<QPushButton *>(ctl("cmdStop"))->click();
    EXPECT_THAT(status().toStdString(), HasSubstr("已停止"));
}

// Space holds the picture while blocks go on arriving; released, the plot
// shows the ring as it now is. Ctrl+O asks the owner for a recording.
TEST_F(WithHistory, PauseHoldsThePictureAndCtrlOAsksForARecording)
{
    HistoryWindow &history = program.openHistory();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&history));
    static_cast<QPushButton *>(ctl("cmdStart"))->click();
    QWidget *view = history.plotView();
    const QRect r = history.plot().plotRect(view->rect());
    const auto newestRow = [&] {
        const QImage img = view->grab().toImage();
        for (int y = r.top(); y <= r.bottom(); ++y)
            if (img.pixel(r.right() - 3, y) == HistoryPlot::channelColor(0).rgb())
                return y;
        return -1;
    };
    blockReady({4095, 2048, 2048, 2048});
    tick();
    const int top = newestRow();
    EXPECT_EQ(top, r.top());

    history.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&history));
    QTest::keyClick(&history, Qt::Key_Space);
    ASSERT_TRUE(history.pauseAction()->isChecked());
    blockReady({0, 2048, 2048, 2048});
    tick();
    EXPECT_THAT(status().toStdString(), HasSubstr("接收数据块数: 2")) << "the acquisition goes on";
    EXPECT_EQ(newestRow(), top) << "held";
    QTest::keyClick(&history, Qt::Key_Space);
    EXPECT_EQ(newestRow(), r.bottom()) << "live again";

    // The program answers with a file dialog: cancelled, it opens nothing.
    // The panel's timer ticks meanwhile, with nothing waiting.
    EXPECT_CALL(driver, QueryBuf()).WillRepeatedly(Return(0));
    int asked = 0;
    bool dialogShown = false;
    QObject::connect(&history, &HistoryWindow::openRecordingRequested, [&] { ++asked; });
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
            dialogShown = true;
            dialog->reject();
        }
    });
    closer.start(10);
    QTest::keyClick(&history, Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(dialogShown);
}

TEST_F(WithHistory, ClosingTheHistoryNeverTouchesTheAcquisition)
{
    static_cast<QPushButton *>(ctl("cmdStart"))->click();
    program.openHistory();
    EXPECT_CALL(driver, StopIntr()).Times(0);
    EXPECT_TRUE(program.history()->close());
    EXPECT_TRUE(program.window().timerEnabled());
    EXPECT_TRUE(program.window().isVisible());
}

TEST_F(WithHistory, LongStatusTextsNeverWidenTheWindow)
{
    HistoryWindow &history = program.openHistory();
    const int width = history.width();
    history.setExtraStatus(QStringLiteral("记录 /%1/a.h5：等待开始采集").arg(QString(400, QLatin1Char('d'))));
    QApplication::processEvents();
    EXPECT_EQ(history.width(), width);
    EXPECT_LE(history.minimumSizeHint().width(), width);
}

TEST(HistoryProgram, ClosingThePanelClosesTheHistoryAndEndsTheProgramWithStatusZero)
{
    NiceMock<MockDriver> driver;
    PanelOptions options;
    options.driver = &driver;
    options.history = true;
    PanelProgram program(options);
    ASSERT_NE(program.history(), nullptr) << "--history opens it at start-up";
    ASSERT_TRUE(program.history()->isVisible());
    QTimer::singleShot(0, &program.window(), [&] { program.window().close(); });
    QTimer::singleShot(10000, qApp, [] { QApplication::exit(99); }); // a hang fails, never blocks
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_FALSE(program.history()->isVisible());
}

TEST(HistoryProgram, StatusNamesAMissingLibraryAndTheLoadersReason)
{
    PanelOptions options;
    options.library = "libadcard-history-test-missing.so";
    PanelProgram program(options);
    const std::string text = program.openHistory().driverLabel()->text().toStdString();
    EXPECT_THAT(text, HasSubstr("未找到驱动库"));
    EXPECT_THAT(text, HasSubstr("libadcard-history-test-missing.so"));
    EXPECT_THAT(text, HasSubstr("cannot open shared object file"));
}

} // namespace
} // namespace adcard
