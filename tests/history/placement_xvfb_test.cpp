// The panel and the history window as a window manager (openbox) frames
// them, on the screen xvfb-run gives: each frame wholly on the screen, the
// panel at its design position, and the history window never over the
// panel's buttons, however it was opened or where it was left.
#include "history/history_window.h"
#include "panel/frm_multibuf.h"
#include "panel/panel_app.h"
#include "tests/support/row_name.h"

#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

namespace adcard {
namespace {

using ::PrintTo; // rows print as their name

bool framed(const QWidget &w) { return w.frameGeometry() != w.geometry(); }

std::string rectText(const QRect &r)
{
    return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()).toStdString();
}

// openbox on the test's display for the whole program; null where it is
// not installed.
QProcess *windowManager()
{
    static const std::unique_ptr<QProcess> wm = []() -> std::unique_ptr<QProcess> {
        const QString program = QStandardPaths::findExecutable(QStringLiteral("openbox"));
        if (program.isEmpty())
            return nullptr;
        auto p = std::make_unique<QProcess>();
        p->setProcessChannelMode(QProcess::ForwardedChannels);
        p->start(program, {QStringLiteral("--sm-disable")});
        if (!p->waitForStarted(5000))
            return nullptr;
        // Managing windows once it frames a new one: one shown before it
        // took the display keeps looking unframed to Qt.
        for (int tries = 0; tries < 10; ++tries) {
            QWidget probe;
            probe.show();
            if (QTest::qWaitFor([&] { return framed(probe); }, 1000))
                return p;
        }
        return nullptr;
    }();
    return wm.get();
}

struct PlacementRow {
    const char *name;
    bool atStart;       // --history, else F2 once the panel shows
    QRect rememberedAt; // where the history window was left; null: never
    bool keptThere;     // and it opens there again, to the pixel
};

class PlacementUnderAWindowManager : public ::testing::TestWithParam<PlacementRow> {
protected:
    static void TearDownTestSuite()
    {
        if (QProcess *wm = windowManager()) {
            wm->terminate();
            wm->waitForFinished(3000);
        }
    }
};

TEST_P(PlacementUnderAWindowManager, FramesOnTheScreenButtonsUncovered)
{
    if (!windowManager())
        GTEST_SKIP() << "needs openbox (Debian package openbox) to frame the windows";
    const PlacementRow &row = GetParam();
    {
        QSettings settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("adcard"),
                           QStringLiteral("adcard-panel"));
        settings.remove(QStringLiteral("windows"));
        if (!row.rememberedAt.isNull())
            settings.setValue(QStringLiteral("windows/history"), row.rememberedAt);
    }
    PanelOptions options;
    options.library = ADCARD_SIM_LIBRARY;
    options.history = row.atStart;
    PanelProgram program(options);
    FrmMultiBuf &panel = program.window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    HistoryWindow &history = row.atStart ? *program.history() : program.openHistory();
    ASSERT_TRUE(QTest::qWaitFor([&] { return framed(panel) && framed(history); }, 10000))
        << "openbox did not frame the windows: panel " << rectText(panel.frameGeometry()) << " history "
        << rectText(history.frameGeometry()) << " client " << rectText(history.geometry())
        << (history.isVisible() ? " shown" : " hidden");
    QTest::qWait(2000); // until the frames have settled where the program puts them

    const QRect screen = panel.screen()->availableGeometry();
    const double dpi = panel.screen()->logicalDotsPerInchX();
    SCOPED_TRACE(QStringLiteral("screen %1x%2").arg(screen.width()).arg(screen.height()).toStdString());
    EXPECT_TRUE(screen.contains(panel.frameGeometry())) << "the panel's frame off the screen";
    EXPECT_TRUE(screen.contains(history.frameGeometry())) << "the history window's frame off the screen";
    // 2565 and 2385 twips from the screen's corner, at the screen's dpi.
    EXPECT_EQ(panel.geometry().topLeft(), QPoint(qRound(2565 * dpi / 1440), qRound(2385 * dpi / 1440)));
    for (const QPushButton *b : panel.findChildren<QPushButton *>()) {
        const QRect at(b->mapToGlobal(QPoint(0, 0)), b->size());
        EXPECT_FALSE(history.frameGeometry().intersects(at)) << b->text().toStdString() << " covered";
    }
    if (row.keptThere) {
        EXPECT_EQ(history.geometry(), row.rememberedAt);
    }
    if (row.rememberedAt.isNull()) { // beside the panel, where both screens have room
        EXPECT_GT(history.frameGeometry().left(), panel.frameGeometry().right());
    }
    program.window().close();
    QTest::qWait(100);
}

const PlacementRow kRows[] = {
    {"history_at_start", true, {}, false},
    {"history_on_F2", false, {}, false},
    {"left_below_on_the_right", true, {560, 300, 790, 420}, true},
    {"left_off_the_screen", true, {3000, 2000, 800, 420}, false},
    {"left_over_the_buttons", false, {300, 100, 800, 420}, false},
};
INSTANTIATE_TEST_SUITE_P(Rows, PlacementUnderAWindowManager, ::testing::ValuesIn(kRows), kRowName);

} // namespace
} // namespace adcard
