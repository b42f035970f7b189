// The recorder as the program wires it: armed from the panel, fed by its
// ticks, closed by SIGTERM like the close box, and a path that cannot be
// written reported while acquisition goes on.
#include "history/history_window.h"
#include "panel/frm_multibuf.h"
#include "panel/panel_app.h"
#include "panel/recording_control.h"
#include "tests/recording/recording_support.h"
#include "tests/support/mock_driver.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <csignal>

namespace adcard {
namespace {

using adcard::testing::MockDriver;
using ::testing::_;
using ::testing::NiceMock;
using ::testing::Return;

class PanelRecording : public ::testing::Test {
protected:
    PanelRecording()
    {
        ON_CALL(driver, Initial(_, _, _, _)).WillByDefault(Return(1));
        ON_CALL(driver, StartIntr(_, _, _, _, _, _, _)).WillByDefault(Return(1));
        ON_CALL(driver, QueryBuf()).WillByDefault(Return(int16_t{1}));
        ON_CALL(driver, ADResult(_)).WillByDefault([this](int16_t *buf) {
            ++fetched;
            std::fill(buf + 1, buf + 4001, static_cast<int16_t>(fetched));
            return 1;
        });
    }
    PanelOptions options(const std::string &record)
    {
        PanelOptions o;
        o.driver = &driver;
        o.record = record;
        return o;
    }
    void tick(PanelProgram &program) { QMetaObject::invokeMethod(program.window().timer(), "timeout"); }

    NiceMock<MockDriver> driver;
    int fetched = 0;
};

TEST_F(PanelRecording, SigtermClosesThePanelAndTheFileWithEveryFetchedBlock)
{
    const std::string path = testing::scratchDir("panel_sigterm") + "/run.h5";
    PanelProgram program(options(path));
    qobject_cast<QPushButton *>(program.window().control(QStringLiteral("cmdStart")))->click();
    for (int i = 0; i < 3; ++i)
        tick(program);
    std::raise(SIGTERM);
    QTRY_VERIFY_WITH_TIMEOUT(!program.window().isVisible(), 5000);
    EXPECT_FALSE(program.recording().active());

    // Closed cleanly: a plain read-only open works, as after any tidy end.
    testing::Reader reader(path, H5F_ACC_RDONLY);
    ASSERT_TRUE(reader.opened());
    ASSERT_EQ(reader.runs().size(), 1u);
    const testing::RunData run = reader.read(1);
    ASSERT_EQ(run.rows.size(), 3u);
    EXPECT_EQ(run.samples.front(), 1);
    EXPECT_EQ(run.samples.back(), 3);
}

TEST_F(PanelRecording, UnwritablePathIsReportedWhereTheOperatorLooksAndAcquisitionGoesOn)
{
    PanelProgram program(options("/nonexistent-folder/run.h5"));
    ASSERT_NE(program.history(), nullptr) << "a recording failure opens the window whose status line reports it";
    const QString status = program.history()->extraStatusLabel()->text();
    EXPECT_TRUE(status.startsWith(QStringLiteral("记录失败："))) << status.toStdString();
    EXPECT_FALSE(program.recording().active());

    EXPECT_CALL(driver, StartIntr(_, _, _, _, _, _, _)).WillOnce(Return(1));
    qobject_cast<QPushButton *>(program.window().control(QStringLiteral("cmdStart")))->click();
    EXPECT_TRUE(program.window().timerEnabled());
    tick(program);
    EXPECT_EQ(program.window().acquisition().BlockCount, 1);
}

} // namespace
} // namespace adcard
