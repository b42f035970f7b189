// The review window on a virtual X server, on a file the panel's writer
// made: open it, zoom, place both cursors with the mouse, export between
// them, and check what came out against the signal that was written.
#include "panel/frm_multibuf.h"
#include "panel/panel_app.h"
#include "panel/recording_control.h"
#include "panel/recording_module.h"
#include "plot/plot_widget.h"
#include "query/query.h"
#include "review/review_window.h"
#include "review/search_pane.h"
#include "review_files.h"
#include "tests/support/mock_driver.h"

#include <QComboBox>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QFile>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QLabel>
#include <QTableWidget>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <unistd.h>

namespace adcard {
namespace {

namespace fs = std::filesystem;

// 搜索 (Ctrl+F): the holes and markers listed in order, a row zooms to its
// answer, and a level search counts what the engine counts.
TEST(ReviewOnX, SearchPaneListsZoomsAndCounts)
{
    const fs::path dir = fs::path(ADPANEL_TEST_TMP) / "review_search";
    fs::create_directories(dir);
    const QString path = QString::fromStdString((dir / "run.h5").string());
    testing::writeRecording(path.toStdString(), 100, {40, 41}, {10, 70});
    QString why;
    OpenedRecording opened = openRecordingForReview(path, why);
    ASSERT_TRUE(opened.run) << why.toStdString();
    ReviewWindow window(path, std::move(opened.reader), std::move(opened.run));
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window.plot(), Qt::Key_F, Qt::ControlModifier);
    SearchPane &pane = *window.searchPane();
    ASSERT_TRUE(pane.isVisible());
    auto *kind = pane.findChildren<QComboBox *>().at(0);
    kind->setCurrentIndex(6); // 缺失与标记
    pane.start();
    pane.wait();
    ASSERT_EQ(pane.results()->topLevelItemCount(), 3);
    EXPECT_EQ(pane.results()->topLevelItem(1)->text(1), QStringLiteral("缺失"));
    pane.results()->setFocus();
    pane.results()->setCurrentItem(pane.results()->topLevelItem(0));
    QTest::keyClick(pane.results(), Qt::Key_N); // the next answer: the hole
    EXPECT_LE(window.plot().renderer().first(), 40000);
    EXPECT_GE(window.plot().renderer().last(), 42000);
    EXPECT_LT(window.plot().renderer().last() - window.plot().renderer().first(), 10000);

    kind->setCurrentIndex(0); // 高于电平
    pane.findChild<QDoubleSpinBox *>()->setValue(1.0);
    pane.start();
    pane.wait();
    const auto r = query::findCrossings(*window.run(), {0, 1.0, query::Edge::Rising, 0, 0, query::kWholeRun, 100});
    ASSERT_GT(r.total, 0);
    EXPECT_EQ(pane.countLabel()->text(), QStringLiteral("共 %1 个").arg(r.total));
    EXPECT_EQ(pane.results()->topLevelItemCount(), r.total);
}

TEST(ReviewOnX, OpenZoomPlaceCursorsAndExport)
{
    const fs::path dir = fs::path(ADPANEL_TEST_TMP) / "review_xvfb";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const QString path = QString::fromStdString((dir / "day.h5").string());
    // 30 s; blocks 140 and 141 (scans 140000 to 141999) never came.
    testing::writeRecording(path.toStdString(), 300, {140, 141}, {49, 249});

    QString why;
    OpenedRecording opened = openRecordingForReview(path, why);
    ASSERT_TRUE(opened.run) << why.toStdString();
    ReviewWindow window(path, std::move(opened.reader), std::move(opened.run));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_TRUE(window.windowTitle().startsWith(QStringLiteral("day.h5"))) << window.windowTitle().toStdString();
    ASSERT_EQ(window.runList()->topLevelItemCount(), 1);
    EXPECT_EQ(window.runList()->topLevelItem(0)->text(3), QStringLiteral("298"));
    EXPECT_EQ(window.runList()->topLevelItem(0)->text(4), QStringLiteral("2"));

    PlotWidget &plot = window.plot();
    const PlotRenderer &view = plot.renderer();
    plot.setFocus();
    QTest::keyClick(&plot, Qt::Key_Plus);
    QTest::keyClick(&plot, Qt::Key_Plus);
    EXPECT_DOUBLE_EQ(view.first(), 112500);
    EXPECT_DOUBLE_EQ(view.last(), 187500);

    const auto xOf = [&](double scan) { return QPoint(static_cast<int>(view.xOfScan(scan, plot.rect())), 100); };
    QTest::mouseClick(&plot, Qt::LeftButton, {}, xOf(130000));
    QTest::mouseClick(&plot, Qt::RightButton, {}, xOf(150000));
    ASSERT_TRUE(plot.cursors().valid);
    const int64_t a = plot.cursors().first, b = plot.cursors().last;

    const QString csvPath = QString::fromStdString((dir / "between.csv").string());
    ASSERT_TRUE(window.exportCsv(csvPath)) << window.messageLabel()->text().toStdString();
    QFile csv(csvPath);
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    EXPECT_EQ(csv.readLine(), "time (s),channel 1 (V),channel 2 (V),channel 3 (V),channel 4 (V)\n");
    int64_t rows = 0;
    double low[4] = {9, 9, 9, 9}, high[4] = {-9, -9, -9, -9};
    while (!csv.atEnd()) {
        const QList<QByteArray> cells = csv.readLine().trimmed().split(',');
        ASSERT_EQ(cells.size(), 5);
        const double t = cells[0].toDouble();
        const auto scan = std::llround(t * 10000);
        ASSERT_FALSE(scan >= 140000 && scan < 142000) << "a row inside the hole";
        for (int c = 0; c < 4; ++c) {
            const double v = cells[c + 1].toDouble();
            const double written = (testing::writtenCode(scan, c) - 2048) * 10.0 / 4095.0;
            ASSERT_NEAR(v, written, 0.00006) << "scan " << scan << " channel " << c + 1;
            low[c] = std::min(low[c], v);
            high[c] = std::max(high[c], v);
        }
        ++rows;
    }
    EXPECT_EQ(rows, b - a - 2000);
    // The table between the cursors agrees with the rows exported.
    for (int c = 0; c < 4; ++c) {
        EXPECT_NEAR(window.statsTable()->item(c, 0)->text().toDouble(), low[c], 0.0001);
        EXPECT_NEAR(window.statsTable()->item(c, 1)->text().toDouble(), high[c], 0.0001);
    }

    // N and P walk the markers (each at the end of its block), keeping the zoom.
    const auto centre = [&view] { return (view.first() + view.last()) / 2; };
    QTest::keyClick(&plot, Qt::Key_N);
    EXPECT_DOUBLE_EQ(centre(), 250000);
    QTest::keyClick(&plot, Qt::Key_P);
    EXPECT_DOUBLE_EQ(centre(), 50000);
}

// The panel told to end (退出, SIGTERM, --stop-after) while a review window
// runs an event loop of its own: an export's progress, a file dialog. The
// loop ends, the export leaves no file behind, the review goes, and the
// panel's recording still closes whole.
struct Interrupted {
    const char *name;
    std::function<void(ReviewWindow &, const QString &csv)> run;
};

void PrintTo(const Interrupted &row, std::ostream *os) { *os << row.name; }

QPushButton *button(ReviewWindow &w, const QString &text)
{
    for (QPushButton *b : w.findChildren<QPushButton *>())
        if (b->text() == text)
            return b;
    return nullptr;
}

const Interrupted kInterrupted[] = {
    {"export", [](ReviewWindow &w, const QString &csv) { EXPECT_FALSE(w.exportCsv(csv)); }},
    {"save_dialog", [](ReviewWindow &w, const QString &) { button(w, QStringLiteral("导出 CSV…"))->click(); }},
    {"open_dialog", [](ReviewWindow &w, const QString &) { button(w, QStringLiteral("打开记录…"))->click(); }},
};

// A card that always has a block, and a panel recording it into `record`.
struct RecordingCard {
    explicit RecordingCard(const std::string &record)
    {
        using ::testing::_;
        using ::testing::Return;
        ON_CALL(driver, Initial(_, _, _, _)).WillByDefault(Return(1));
        ON_CALL(driver, StartIntr(_, _, _, _, _, _, _)).WillByDefault(Return(1));
        ON_CALL(driver, QueryBuf()).WillByDefault(Return(int16_t{1}));
        ON_CALL(driver, ADResult(_)).WillByDefault(Return(1));
        options.driver = &driver;
        options.record = record;
    }
    // Start, then three ticks.
    static void start(PanelProgram &program)
    {
        qobject_cast<QPushButton *>(program.window().control(QStringLiteral("cmdStart")))->click();
        for (int i = 0; i < 3; ++i)
            QMetaObject::invokeMethod(program.window().timer(), "timeout");
    }
    ::testing::NiceMock<testing::MockDriver> driver;
    PanelOptions options;
};

class ReviewClosedWithPanel : public ::testing::TestWithParam<Interrupted> {};

TEST_P(ReviewClosedWithPanel, LoopEndsNothingLeftRecordingClosed)
{
    const fs::path dir = fs::path(ADPANEL_TEST_TMP) / "review_closed" / GetParam().name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    // Long enough that the export's progress shows before it ends.
    static const std::string big = [] {
        const fs::path p = fs::path(ADPANEL_TEST_TMP) / "review_closed" / "big.h5";
        testing::writeRecording(p.string(), 4000);
        return p.string();
    }();
    RecordingCard card((dir / "live.h5").string());
    PanelProgram program(card.options);
    RecordingCard::start(program);

    QPointer<ReviewWindow> review = program.openReview(QString::fromStdString(big));
    ASSERT_TRUE(review);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(review));
    // Fires only inside the review's own loop: the panel ends as a signal would end it.
    bool closed = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const auto *dialog = review ? review->findChild<QDialog *>() : nullptr;
        if (!closed && dialog && dialog->isVisible()) {
            closed = true;
            program.window().close();
        }
    });
    watch.start(20);
    GetParam().run(*review, QString::fromStdString((dir / "out.csv").string()));
    watch.stop();
    EXPECT_TRUE(closed) << "the review's loop ended before the panel was closed in it";
    QTRY_VERIFY_WITH_TIMEOUT(review.isNull(), 5000);
    EXPECT_FALSE(program.window().isVisible());
    ASSERT_TRUE(program.finishRecording(std::chrono::seconds{20}));
    for (const auto &f : fs::directory_iterator(dir))
        EXPECT_EQ(f.path().filename(), "live.h5") << "left behind: " << f.path();
    QString why;
    OpenedRecording live = openRecordingForReview(QString::fromStdString(card.options.record), why);
    ASSERT_TRUE(live.run) << why.toStdString();
    EXPECT_FALSE(live.run->info().open);
    EXPECT_GE(live.run->info().blocks, 3); // the panel's timer may tick in the loop too
}

// This process's review programs (--open), by their ids.
std::vector<pid_t> reviewChildren()
{
    std::vector<pid_t> out;
    for (const auto &e : fs::directory_iterator("/proc")) {
        std::ifstream stat(e.path() / "stat"), cmd(e.path() / "cmdline");
        std::string pid, name, state, parent, args((std::istreambuf_iterator<char>(cmd)), {});
        if (stat >> pid >> name >> state >> parent && parent == std::to_string(::getpid()) && state != "Z" &&
            args.find("--open") != std::string::npos)
            out.push_back(std::stoi(pid));
    }
    return out;
}

// The file this panel records is reviewed by the program in a process of its
// own: it stays (a file it cannot open ends it at once), 停止记录 closes the
// file meanwhile, and it ends with the panel.
TEST(ReviewOnX, TheFileBeingRecordedInAProcessOfItsOwn)
{
    const fs::path dir = fs::path(ADPANEL_TEST_TMP) / "review_live";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const QString live = QString::fromStdString((dir / "live.h5").string());
    RecordingCard card(live.toStdString());
    card.options.reviewProgram = QStringLiteral(ADPANEL_PROGRAM);
    PanelProgram program(card.options);
    RecordingCard::start(program);
    QTRY_VERIFY_WITH_TIMEOUT(program.recording().recorder()->status().blocksWritten >= 3, 10000);
    ASSERT_TRUE(program.recordingInto(live));
    EXPECT_EQ(program.openReview(live), nullptr);
    ASSERT_EQ(reviewChildren().size(), 1U);
    QTest::qWait(1500);
    ASSERT_EQ(reviewChildren().size(), 1U) << "the review could not open the file being recorded";
    program.recording().stop();
    ASSERT_TRUE(program.finishRecording(std::chrono::seconds{20}));
    QString why;
    const OpenedRecording done = openRecordingForReview(live, why);
    ASSERT_TRUE(done.run) << why.toStdString();
    EXPECT_FALSE(done.run->info().open);
    program.window().close();
    QTRY_VERIFY_WITH_TIMEOUT(reviewChildren().empty(), 10000);
}

INSTANTIATE_TEST_SUITE_P(Rows, ReviewClosedWithPanel, ::testing::ValuesIn(kInterrupted),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace adcard
