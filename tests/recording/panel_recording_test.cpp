// The recorder as the program wires it: armed from the panel, fed by its
// ticks, closed by SIGTERM like the close box, and a path that cannot be
// written reported while acquisition goes on.
#include "history/history_window.h"
#include "panel/frm_multibuf.h"
#include "panel/panel_app.h"
#include "panel/recording_control.h"
#include "panel/recording_module.h"
#include "tests/recording/recording_support.h"
#include "tests/support/mock_driver.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <QDir>
#include <QInputDialog>

#include <csignal>
#include <filesystem>

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
    program.openHistory(); // stays while the file closes, then goes
    std::raise(SIGTERM);
    QTRY_VERIFY_WITH_TIMEOUT(!program.window().isVisible(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!program.history()->isVisible(), 6000);
    EXPECT_FALSE(program.recording().active());
    // What runPanel does once the window has gone.
    ASSERT_TRUE(program.finishRecording(std::chrono::seconds{20}));

    // Closed cleanly: a plain read-only open works, as after any tidy end.
    testing::Reader reader(path, H5F_ACC_RDONLY);
    ASSERT_TRUE(reader.opened());
    ASSERT_EQ(reader.runs(), 1u);
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

// A recorder whose file closes only when the test says so, as on a hung
// network share.
class StuckRecorder final : public RecordingSession {
public:
    std::string arm(const std::string &, bool, const RecorderInfo &) override
    {
        status_.state = RecorderState::Armed;
        return {};
    }
    void acquisitionStarted(const AcqSettings &) override { status_.state = RecorderState::Recording; }
    void stop() override { EXPECT_NE(status_.state, RecorderState::Closing) << "the UI waited for the writer"; }
    void beginStop() override { status_.state = RecorderState::Closing; }
    RecorderStatus status() const override { return status_; }
    std::optional<std::string> takeError() override { return std::nullopt; }
    bool inRun() const override { return status_.state == RecorderState::Recording; }
    // Stamped by the test's clock.
    std::optional<MarkerStamp> stampMarker() const override
    {
        return inRun() ? std::optional(MarkerStamp{clockNs, 1, 0}) : std::nullopt;
    }
    bool addMarker(const MarkerStamp &stamp, const std::string &text) override
    {
        markers.emplace_back(stamp.timeNs, text);
        return true;
    }
    RecorderStatus status_;
    int64_t clockNs = 0;
    std::vector<std::pair<int64_t, std::string>> markers;
};

TEST_F(PanelRecording, TheRecordingsControlsNeverWaitForTheDisk)
{
    PanelProgram program(options(""));
    auto *stuck = new StuckRecorder;
    program.recording().setRecorderFactory([stuck](QString &) { return stuck; });
    HistoryWindow &history = program.openHistory();
    auto *record = history.findChild<QPushButton *>(QStringLiteral("cmdRecord"));
    auto *stop = history.findChild<QPushButton *>(QStringLiteral("cmdStopRecord"));
    auto *mark = history.findChild<QPushButton *>(QStringLiteral("cmdMark"));
    ASSERT_TRUE(record && stop && mark);
    const auto enabled = [&] {
        return std::string{record->isEnabled() ? 'r' : '-', stop->isEnabled() ? 's' : '-', mark->isEnabled() ? 'm' : '-'};
    };
    EXPECT_EQ(enabled(), "r--");
    ASSERT_TRUE(program.recording().start(QStringLiteral("/somewhere/a.h5"), false));
    EXPECT_EQ(enabled(), "-s-") << "armed";
    qobject_cast<QPushButton *>(program.window().control(QStringLiteral("cmdStart")))->click();
    QTRY_COMPARE_WITH_TIMEOUT(enabled(), std::string("-sm"), 3000);

    // M takes the place at once, then asks for a text: ten seconds of
    // typing do not move the marker, and the panel answers meanwhile.
    history.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&history));
    stuck->clockNs = 23'500'000'000;
    QTest::keyClick(&history, Qt::Key_M);
    auto *dialog = history.findChild<QInputDialog *>(QStringLiteral("markerText"));
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "the text box holds no window";
    QTest::mouseClick(program.window().control(QStringLiteral("cmdStop")), Qt::LeftButton);
    EXPECT_FALSE(program.window().timerEnabled()) << "停止采集 answered while the text was typed";
    stuck->clockNs += 10'000'000'000;
    dialog->setTextValue(QStringLiteral("阀门打开"));
    dialog->accept();
    using Marker = std::pair<int64_t, std::string>;
    EXPECT_EQ(stuck->markers, (std::vector<Marker>{{23'500'000'000, "阀门打开"}}));
    EXPECT_TRUE(history.messageLabel()->text().contains(QStringLiteral("阀门打开"))) << "the window says so";

    // A text still being typed when the recording stops: the marker is kept.
    history.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&history));
    QTest::keyClick(&history, Qt::Key_M);
    dialog = nullptr;
    for (auto *open : history.findChildren<QInputDialog *>(QStringLiteral("markerText")))
        if (open->isVisible())
            dialog = open;
    ASSERT_NE(dialog, nullptr);
    dialog->setTextValue(QStringLiteral("泵停"));
    stop->click(); // returns although the file never closes
    EXPECT_EQ(stuck->markers.size(), 2u);
    EXPECT_EQ(stuck->markers.back().second, "泵停");
    EXPECT_EQ(enabled(), "---");
    EXPECT_TRUE(history.extraStatusLabel()->text().contains(QStringLiteral("closing")));
    EXPECT_FALSE(program.finishRecording(std::chrono::milliseconds{50})) << "gives up after its limit";
    stuck->status_.state = RecorderState::Idle;
    EXPECT_TRUE(program.finishRecording(std::chrono::milliseconds{50}));
    EXPECT_EQ(enabled(), "r--");
}

// The note that a recording's file closed is taken down when the next
// recording begins: under a live recording it would say the opposite.
TEST_F(PanelRecording, AClosedFilesNoteGoesWhenTheNextRecordingBegins)
{
    const std::string dir = testing::scratchDir("panel_closed_note");
    PanelProgram program(options(""));
    HistoryWindow &history = program.openHistory();
    ASSERT_TRUE(program.recording().start(QString::fromStdString(dir + "/run1.h5"), true));
    qobject_cast<QPushButton *>(program.window().control(QStringLiteral("cmdStart")))->click();
    tick(program);
    program.recording().stop();
    QTRY_VERIFY_WITH_TIMEOUT(history.messageLabel()->text().startsWith(QStringLiteral("记录文件已关闭")), 10000);

    ASSERT_TRUE(program.recording().start(QString::fromStdString(dir + "/run2.h5"), true));
    EXPECT_EQ(history.messageLabel()->text(), QString()) << "the first file's note under the second recording";
    // Another message shown meanwhile stays.
    program.recording().stop();
    QTRY_VERIFY_WITH_TIMEOUT(history.messageLabel()->text().startsWith(QStringLiteral("记录文件已关闭")), 10000);
    history.showMessage(QStringLiteral("通道设置只在本次运行中有效"), true);
    ASSERT_TRUE(program.recording().start(QString::fromStdString(dir + "/run3.h5"), true));
    EXPECT_EQ(history.messageLabel()->text(), QStringLiteral("通道设置只在本次运行中有效"));
    program.window().close();
    ASSERT_TRUE(program.finishRecording(std::chrono::seconds{20}));
}

TEST_F(PanelRecording, EachRecordingLeavesNoDescriptorBehind)
{
    const auto open = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); };
    const std::string dir = testing::scratchDir("panel_fds");
    const auto before = open();
    for (int i = 0; i < 3; ++i) {
        PanelProgram program(options(dir + "/run" + std::to_string(i) + ".h5"));
        ASSERT_TRUE(program.recording().active());
        program.window().close();
        ASSERT_TRUE(program.finishRecording(std::chrono::seconds{20}));
    }
    EXPECT_EQ(open(), before);
}

TEST(RecorderModule, TheBuildTreeIsSearchedOnlyByAProgramRunFromIt)
{
    const QString mod = QStringLiteral("libadcard_recorder.so"), built = QStringLiteral("/b/recording/") + mod;
    const std::pair<const char *, QStringList> rows[] = {
        {"/usr/bin", {QStringLiteral("/usr/lib/") + mod}},
        {"/b/panel", {QStringLiteral("/b/lib/") + mod, built}},
        {"/bin", {QStringLiteral("/lib/") + mod}}, // beside the build tree, not in it
    };
    for (const auto &[appDir, want] : rows)
        EXPECT_EQ(recorderModuleCandidates(QString::fromUtf8(appDir), QStringLiteral("../lib/") + mod, built,
                                           QStringLiteral("/b")),
                  want)
            << appDir;
}

} // namespace
} // namespace adcard
