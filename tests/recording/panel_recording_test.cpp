// The recorder as the program wires it: armed from the panel, fed by its
// ticks, closed by SIGTERM like the close box, and a path that cannot be
// written reported while acquisition goes on.
#include "history/history_window.h"
#include "panel/frm_multibuf.h"
#include "panel/panel_app.h"
#include "panel/recording_control.h"
#include "panel/recording_module.h"
#include "review/review_window.h"
#include "query/spectrum.h"
#include "tests/recording/recording_support.h"
#include "tests/review/review_files.h"
#include "tests/support/mock_driver.h"
#include "tests/support/row_name.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QRegularExpression>
#include <QSpinBox>
#include <QFileDialog>
#include <QInputDialog>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace adcard {
namespace {

using ::PrintTo; // rows print as their names
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
    std::string arm(const std::string &path, bool overwrite, const RecorderInfo &info) override
    {
        status_.state = RecorderState::Armed;
        status_.file = path;
        armedEventsOnly = info.eventsOnly;
        armedInfo = info;
        armedOverwrite = overwrite;
        return {};
    }
    std::optional<std::string> takeNotice() override
    {
        if (notices.empty())
            return std::nullopt;
        std::string next = notices.front();
        notices.erase(notices.begin());
        return next;
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
    bool armedEventsOnly = false;
    RecorderInfo armedInfo;
    bool armedOverwrite = false;
    std::vector<std::string> notices; // handed out oldest first
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

// 记录… asks for the mode beside the file: 仅事件 arms an events-only
// recording, and the status line says so.
TEST_F(PanelRecording, TheRecordDialogChoosesEventsOnly)
{
    PanelProgram program(options(""));
    auto *stuck = new StuckRecorder;
    program.recording().setRecorderFactory([stuck](QString &) { return stuck; });
    HistoryWindow &history = program.openHistory();
    auto *record = history.findChild<QPushButton *>(QStringLiteral("cmdRecord"));
    ASSERT_TRUE(record);
    const QString path = QString::fromStdString(testing::scratchDir("panel_events_only") + "/a.h5");
    bool chosen = false;
    QTimer::singleShot(0, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        auto *mode = dialog->findChild<QComboBox *>(QStringLiteral("recordingMode"));
        ASSERT_NE(mode, nullptr);
        EXPECT_EQ(mode->currentText(), QStringLiteral("连续")) << "continuous unless chosen";
        mode->setCurrentIndex(mode->findText(QStringLiteral("仅事件")));
        dialog->selectFile(path);
        static_cast<QDialog *>(dialog)->accept(); // as the Save button does
        chosen = true;
    });
    record->click();
    ASSERT_TRUE(chosen);
    EXPECT_TRUE(stuck->armedEventsOnly);
    EXPECT_EQ(stuck->status_.file, path.toStdString());
    EXPECT_TRUE(history.extraStatusLabel()->text().contains(QStringLiteral("仅事件")))
        << history.extraStatusLabel()->text().toStdString();
    program.recording().stop();
    stuck->status_.state = RecorderState::Idle; // closed: the program may delete it
}

// What the 记录… dialog's 分割 and 保留 rows make of a recording, as the
// recorder is armed with it.
struct DialogRow {
    const char *name;
    const char *split;  // the 分割 item chosen
    int amount;         // its minutes or MiB, where it takes a number
    int keepFreeGiB;    // 0: box unticked
    int keepDays;       // 0: box unticked
    int64_t everyNs, everyBytes;
    const char *text;
    int64_t keepFreeBytes, keepNs;
    bool armed = true; // false: refused, in the status line
};

class RecordDialogSeries : public PanelRecording, public ::testing::WithParamInterface<DialogRow> {};

// Presses 记录…, lets `fill` set the dialog, and saves as `path` (or,
// without a path, cancels).
void recordThroughDialog(QPushButton &record, const QString &path, const std::function<void(QFileDialog &)> &fill)
{
    bool shown = false;
    QTimer::singleShot(0, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        shown = true;
        fill(*dialog);
        if (path.isEmpty()) {
            static_cast<QDialog *>(dialog)->reject();
            return;
        }
        dialog->selectFile(path);
        static_cast<QDialog *>(dialog)->accept(); // as the Save button does
    });
    record.click();
    ASSERT_TRUE(shown);
}

template <typename W> W &child(QWidget &parent, const char *name)
{
    auto *w = parent.findChild<W *>(QString::fromLatin1(name));
    if (!w)
        throw std::runtime_error(std::string("no ") + name + " in the dialog");
    return *w;
}

TEST_P(RecordDialogSeries, ReachesTheRecorderAndIsOfferedNextTime)
{
    const DialogRow &row = GetParam();
    PanelProgram program(options(""));
    auto *stuck = new StuckRecorder;
    program.recording().setRecorderFactory([stuck](QString &) { return stuck; });
    HistoryWindow &history = program.openHistory();
    auto *record = history.findChild<QPushButton *>(QStringLiteral("cmdRecord"));
    ASSERT_TRUE(record);
    const QString path = QString::fromStdString(testing::scratchDir("panel_series_dialog") + "/a.h5");
    recordThroughDialog(*record, path, [&](QFileDialog &dialog) {
        auto &split = child<QComboBox>(dialog, "splitMode");
        split.setCurrentIndex(split.findText(QString::fromUtf8(row.split)));
        ASSERT_NE(split.currentIndex(), -1) << row.split;
        if (row.amount > 0) {
            child<QSpinBox>(dialog, "splitMinutes").setValue(row.amount);
            child<QSpinBox>(dialog, "splitMiB").setValue(row.amount);
        }
        child<QCheckBox>(dialog, "keepFree").setChecked(row.keepFreeGiB > 0);
        child<QSpinBox>(dialog, "keepFreeGiB").setValue(row.keepFreeGiB);
        child<QCheckBox>(dialog, "keepDays").setChecked(row.keepDays > 0);
        child<QSpinBox>(dialog, "keepDaysCount").setValue(row.keepDays);
    });
    const QString status = history.extraStatusLabel()->text();
    if (!row.armed) {
        EXPECT_EQ(stuck->status_.state, RecorderState::Idle);
        EXPECT_TRUE(status.startsWith(QStringLiteral("记录失败：保留空闲空间 more than the whole disk")))
            << status.toStdString();
    } else {
        const RecorderInfo &info = stuck->armedInfo;
        EXPECT_EQ(info.split.everyNs, row.everyNs);
        EXPECT_EQ(info.split.everyBytes, row.everyBytes);
        EXPECT_EQ(info.split.text, row.text);
        EXPECT_EQ(info.retention.keepFreeBytes, row.keepFreeBytes);
        EXPECT_EQ(info.retention.keepNs, row.keepNs);
        EXPECT_EQ(stuck->armedOverwrite, *row.text == '\0') << "a series replaces no file";
        EXPECT_EQ(status.contains(QStringLiteral("（每 %1 分割）").arg(QString::fromUtf8(row.text))), *row.text != '\0')
            << status.toStdString();
        program.recording().stop();
        stuck->status_.state = RecorderState::Idle;
        ASSERT_TRUE(program.finishRecording(std::chrono::milliseconds{50})); // 记录… enabled again
    }
    // The next 记录… offers the same choice.
    recordThroughDialog(*record, QString(), [&](QFileDialog &dialog) {
        EXPECT_EQ(child<QComboBox>(dialog, "splitMode").currentText(), QString::fromUtf8(row.split));
        EXPECT_EQ(child<QCheckBox>(dialog, "keepFree").isChecked(), row.keepFreeGiB > 0);
        EXPECT_EQ(child<QCheckBox>(dialog, "keepDays").isChecked(), row.keepDays > 0);
        if (row.amount > 0) {
            EXPECT_TRUE(child<QSpinBox>(dialog, "splitMinutes").value() == row.amount ||
                        child<QSpinBox>(dialog, "splitMiB").value() == row.amount);
        }
    });
}

constexpr int64_t kSec = 1'000'000'000;
constexpr int64_t kGiB = int64_t{1} << 30;

INSTANTIATE_TEST_SUITE_P(
    Rows, RecordDialogSeries,
    ::testing::Values(
        // Nothing to delete without a split, whatever the boxes say.
        DialogRow{"one_file_keeps_nothing", "不分割", 0, 20, 7, 0, 0, "", 0, 0},
        DialogRow{"hourly", "每小时", 0, 0, 0, 3600 * kSec, 0, "1h", 0, 0},
        DialogRow{"every_90_minutes_for_a_week", "每 N 分钟", 90, 0, 7, 5400 * kSec, 0, "90m", 0, 7 * 86400 * kSec},
        DialogRow{"every_500_MiB_keeping_20_GiB_free", "每 N MiB", 500, 20, 0, 0, 500 << 20, "500MiB", 20 * kGiB, 0},
        DialogRow{"keep_free_beyond_the_disk", "每小时", 0, 1024 * 1024, 0, 0, 0, "", 0, 0, false}),
    kRowName);

// The recorder's notices reach the window and the log, each once and each a
// line; the status line says when the disk fills within the hour.
TEST_F(PanelRecording, TheRecordersNoticesReachTheWindowAndTheLog)
{
    std::vector<std::string> log;
    PanelOptions o = options("");
    o.log = [&log](const std::string &line) { log.push_back(line); };
    PanelProgram program(o);
    auto *stuck = new StuckRecorder;
    program.recording().setRecorderFactory([stuck](QString &) { return stuck; });
    HistoryWindow &history = program.openHistory();
    ASSERT_TRUE(program.recording().start(QStringLiteral("/somewhere/a.h5"), false, false,
                                          SeriesPlan{{3600 * kSec, 0, "1h"}, {20 * kGiB, 0}}));
    qobject_cast<QPushButton *>(program.window().control(QStringLiteral("cmdStart")))->click();
    stuck->status_.secondsToFull = 1530;
    stuck->status_.freeBytes = 3 * kGiB / 2;
    stuck->notices = {"deleted a_20260301-000000.h5 to keep 20GiB free", "the disk fills\nwithin the hour"};
    QTRY_COMPARE_WITH_TIMEOUT(log.size(), std::size_t{2}, 5000);
    const QRegularExpression line(QStringLiteral("^adcard-panel: \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d (.*)\n$"));
    const std::pair<std::size_t, const char *> said[] = {{0, "deleted a_20260301-000000.h5 to keep 20GiB free"},
                                                         {1, "the disk fills within the hour"}};
    for (const auto &[i, text] : said) {
        const QRegularExpressionMatch m = line.match(QString::fromLocal8Bit(log[i].c_str()));
        ASSERT_TRUE(m.hasMatch()) << log[i];
        EXPECT_EQ(m.captured(1), QString::fromUtf8(text));
    }
    EXPECT_TRUE(history.messageLabel()->text().startsWith(QStringLiteral("the disk fills")));
    QTRY_VERIFY_WITH_TIMEOUT(history.extraStatusLabel()->text().contains(QStringLiteral("磁盘约 25 分钟后写满（剩余 1.5 GiB）")),
                             3000);
    EXPECT_TRUE(history.extraStatusLabel()->text().contains(QStringLiteral("（每 1h 分割）")));
    stuck->status_.secondsToFull = 2 * 3600.0; // beyond the hour: not said
    QTRY_VERIFY_WITH_TIMEOUT(!history.extraStatusLabel()->text().contains(QStringLiteral("写满")), 3000);
    EXPECT_EQ(log.size(), 2u) << "each notice once";
    program.recording().stop();
    stuck->status_.state = RecorderState::Idle;
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

// HDF5 would refuse the writer a file this program has open for review,
// after arming: it is refused before, under any of its names, and the file
// stays as it was. Once the review is closed, the same file may be recorded.
TEST_F(PanelRecording, AFileOpenInAReviewWindowIsRefusedBeforeArming)
{
    const std::string dir = testing::scratchDir("panel_reviewed");
    const std::string path = dir + "/reviewed.h5";
    testing::writeRecording(path, 3);
    std::filesystem::create_hard_link(path, dir + "/linked.h5");
    const auto bytes = [&] {
        std::ostringstream s;
        s << std::ifstream(path, std::ios::binary).rdbuf();
        return s.str();
    };
    const std::string before = bytes();
    PanelProgram program(options(""));
    QPointer<ReviewWindow> review = program.openReview(QString::fromStdString(path));
    ASSERT_TRUE(review);
    QString said;
    QObject::connect(&program.recording(), &RecordingControl::failed, [&](const QString &text) { said = text; });
    for (const char *name : {"/reviewed.h5", "/linked.h5"}) {
        SCOPED_TRACE(name);
        said.clear();
        EXPECT_FALSE(program.recording().start(QString::fromStdString(dir + name), true));
        EXPECT_TRUE(said.contains(QStringLiteral("is open in the review window")) && said.contains(review->windowTitle()))
            << said.toStdString();
        EXPECT_FALSE(program.recording().active());
    }
    EXPECT_EQ(bytes(), before);
    delete review;
    EXPECT_TRUE(program.recording().start(QString::fromStdString(path), true)) << said.toStdString();
    program.recording().stop();
    ASSERT_TRUE(program.finishRecording(std::chrono::seconds{20}));
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

// The program does not link FFTW: a review opened through the module gets
// the module's transform, and its spectrum finds channel 4's 2 Hz sine.
TEST(RecorderModule, AReviewTakesTheSpectrumsTransformFromTheModule)
{
    const std::string path = testing::scratchDir("module_spectrum") + "/a.h5";
    testing::writeRecording(path, 20);
    QString why;
    const OpenedRecording opened = openRecordingForReview(QString::fromStdString(path), why);
    ASSERT_TRUE(opened.run) << why.toStdString();
    ASSERT_NE(opened.transform, nullptr);
    const query::SpectrumResult r = query::spectrum(*opened.run, {{3}, 0, 20000, opened.transform});
    ASSERT_EQ(r.outcome, query::Outcome::Complete) << r.error;
    ASSERT_EQ(r.channels.size(), 1U);
    EXPECT_NEAR(r.channels[0].peakHz, 2.0, r.resolutionHz / 2);
    EXPECT_NEAR(r.channels[0].peak, 1500 * kPanelCalibration.scale, 0.05);
}

} // namespace
} // namespace adcard
