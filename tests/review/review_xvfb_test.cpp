// The review window on a virtual X server, on a file the panel's writer
// made: open it, zoom, place both cursors with the mouse, export between
// them, and check what came out against the signal that was written.
#include "panel/frm_multibuf.h"
#include "panel/panel_app.h"
#include "panel/recording_module.h"
#include "plot/plot_widget.h"
#include "query/query.h"
#include "review/review_window.h"
#include "review/search_pane.h"
#include "review/spectrum_pane.h"
#include "review_files.h"
#include "rules/rules.h"
#include "tests/support/row_name.h"
#include "tests/support/mock_driver.h"

#include <QComboBox>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QLabel>
#include <QTableWidget>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <regex>

namespace adcard {
namespace {

namespace fs = std::filesystem;
using ::PrintTo;

// 频谱 (F): a 50 Hz tone over a large offset, in bar. The DC's lobe is no
// peak, the tone is marked and drawn where the dB axis says its amplitude
// is, the pointer and the CSV read the same bin, and the line says which
// scans were used.
TEST(ReviewOnX, SpectrumDrawsTheToneNotTheOffset)
{
    const fs::path dir = fs::path(ADPANEL_TEST_TMP) / "review_spectrum";
    fs::create_directories(dir);
    const QString path = QString::fromStdString((dir / "tone.h5").string());
    // 950 codes of offset (4.64 bar), 400 of tone (1.954 bar) at 50 Hz: bin 100 of 20000 scans.
    const auto code = [](int64_t scan, int c) {
        return static_cast<int16_t>(c == 0 ? 2048 + 950 + std::lround(400 * std::sin(6.283185307179586 * 50.0 * double(scan) / 10000.0))
                                           : 2048);
    };
    testing::writeRecording(path.toStdString(), 20, {}, {}, kPanelCalibration, {{"入口压力", "bar", 2.0, 0.0}}, code);
    const double tone = 400 * 10.0 / 4095.0 * 2.0;
    QString why;
    OpenedRecording opened = openRecordingForReview(path, why);
    ASSERT_TRUE(opened.run) << why.toStdString();
    ReviewWindow window(path, std::move(opened.reader), std::move(opened.run), opened.transform);
    window.resize(1300, 700);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window.plot(), Qt::Key_F);
    SpectrumPane &pane = *window.spectrumPane();
    ASSERT_TRUE(pane.isVisible());
    pane.wait();
    pane.channelBox()->setCurrentIndex(1); // 入口压力 alone
    EXPECT_TRUE(pane.stretchLabel()->text().startsWith(QStringLiteral("20000 个扫描（视图中的 20000 个中）")))
        << pane.stretchLabel()->text().toStdString();
    EXPECT_TRUE(pane.stretchLabel()->text().contains(QStringLiteral("分辨率 0.5 Hz")));
    const SpectrumPlot &plot = pane.plot();
    ASSERT_EQ(plot.traces().size(), 1u);
    const std::vector<SpectrumMark> marks = plot.marks();
    ASSERT_FALSE(marks.empty());
    EXPECT_EQ(marks.front().bin, 100u); // not the offset's
    EXPECT_EQ(marks.front().harmonic, 1);
    EXPECT_NEAR(plot.traces().front().amplitude[100], tone, tone * 1e-3);
    EXPECT_EQ(plot.amplitudeName(), QStringLiteral("dB re 1 bar"));

    // The tone's bin as drawn: its top where the axis puts its dB.
    const QImage img = plot.renderImage(pane.plotArea().size() + QSize(100, 60));
    const QRect r = plot.plotRect(img.rect());
    const int x = int(std::lround(plot.xOfBin(100, r)));
    const int y = plot.yOf(toDb(tone), r);
    const QColor colour = PlotRenderer::channelColor(0);
    bool top = false;
    for (int dy = -1; dy <= 1; ++dy)
        top = top || (img.pixelColor(x, y + dy) == colour && img.pixelColor(x, y + dy - 1) != colour);
    EXPECT_TRUE(top) << "bin 100 not topped at row " << y;
    const QString readout = pane.readoutAt(plot.xOfBin(100, pane.plotArea()));
    EXPECT_TRUE(readout.startsWith(QStringLiteral("50 Hz"))) << readout.toStdString();
    EXPECT_TRUE(readout.contains(QStringLiteral("dB re 1 bar"))) << readout.toStdString();

    // The CSV's row of that bin; linear, the offset does not flatten the tone.
    const QList<QByteArray> rows = pane.csv().split('\n');
    EXPECT_EQ(QString::fromUtf8(rows.at(0)), QStringLiteral("频率 (Hz),入口压力 (bar),入口压力 (dB re 1 bar)"));
    const QList<QByteArray> bin = rows.at(101).split(',');
    EXPECT_EQ(bin.at(0), "50");
    EXPECT_NEAR(bin.at(1).toDouble(), tone, tone * 1e-3);
    pane.findChildren<QComboBox *>().at(1)->setCurrentIndex(1); // 线性
    EXPECT_GE(plot.top(), tone);
    EXPECT_LT(plot.top(), 2 * tone);
    // All channels: bar and volts have no linear scale in common.
    pane.channelBox()->setCurrentIndex(0);
    EXPECT_EQ(plot.traces().size(), 4u);
    EXPECT_TRUE(plot.shownInDb());
    EXPECT_EQ(plot.amplitudeName(), QStringLiteral("dB re 1 各通道的单位"));
}

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
    ReviewWindow window(path, std::move(opened.reader), std::move(opened.run), opened.transform);
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

    // N to the next marker: the toolbar's list says which it is.
    const PlotRenderer &view = window.plot().renderer();
    const double centre = (view.first() + view.last()) / 2;
    std::optional<int64_t> next;
    for (const RecordedMarker &m : window.run()->markers())
        if (double(m.scan) > centre + 0.5 && (!next || m.scan < *next))
            next = m.scan;
    ASSERT_TRUE(next);
    ASSERT_TRUE(window.jumpToMarker(1));
    auto *markers = window.findChild<QComboBox *>(QStringLiteral("markerList"));
    ASSERT_NE(markers, nullptr);
    EXPECT_EQ(markers->currentData().toDouble(), double(*next));

    // Both ways: falling rows say how long the signal stayed below, as
    // rising ones say how long above (all but the last, still open).
    kind->setCurrentIndex(2); // 穿越电平（双向）
    pane.findChild<QDoubleSpinBox *>()->setValue(1.0);
    pane.start();
    pane.wait();
    ASSERT_GT(pane.results()->topLevelItemCount(), 2);
    for (int row = 0; row + 1 < pane.results()->topLevelItemCount(); ++row)
        EXPECT_TRUE(pane.results()->topLevelItem(row)->text(2).contains(QStringLiteral(" · ")))
            << "row " << row << ": " << pane.results()->topLevelItem(row)->text(2).toStdString();

    kind->setCurrentIndex(0); // 高于电平
    pane.findChild<QDoubleSpinBox *>()->setValue(1.0);
    pane.start();
    pane.wait();
    const auto r = query::findCrossings(*window.run(), {0, 1.0, query::Edge::Rising, 0, 0, query::kWholeRun, 100});
    ASSERT_GT(r.total, 0);
    EXPECT_EQ(pane.countLabel()->text(), QStringLiteral("共 %1 个").arg(r.total));
    EXPECT_EQ(pane.results()->topLevelItemCount(), r.total);
    const auto rowsOf = [&pane] {
        QStringList rows;
        for (int i = 0; i < pane.results()->topLevelItemCount(); ++i)
            rows << pane.results()->topLevelItem(i)->text(0) + QLatin1Char('|') + pane.results()->topLevelItem(i)->text(1) +
                        QLatin1Char('|') + pane.results()->topLevelItem(i)->text(2);
        return rows;
    };
    const QStringList crossingRows = rowsOf();
    // Asked again as a grown run asks it: from the answer kept, the same.
    pane.runGrew();
    pane.wait();
    EXPECT_EQ(rowsOf(), crossingRows);
    EXPECT_EQ(pane.countLabel()->text(), QStringLiteral("共 %1 个").arg(r.total));

    // 停止 during a search: the pane is ready for the next, and the count says
    // it stopped (unless the search had already ended).
    kind->setCurrentIndex(3); // 最高峰值, which reads every scan
    pane.start();
    ASSERT_EQ(pane.goButton()->text(), QStringLiteral("停止"));
    QTest::mouseClick(pane.goButton(), Qt::LeftButton);
    pane.wait();
    EXPECT_EQ(pane.goButton()->text(), QStringLiteral("搜索"));
    EXPECT_TRUE(pane.goButton()->isEnabled());
    EXPECT_FALSE(pane.findChild<QProgressBar *>()->isVisible());
    const QString count = pane.countLabel()->text();
    // Either it stopped and says so, or it had ended and shows its peaks: the
    // crossings of the search before must not be left standing.
    EXPECT_TRUE(count.contains(QStringLiteral("已停止")) || rowsOf() != crossingRows)
        << "the stopped search's answer was dropped: " << count.toStdString();

    // 突出度: empty is the default adcard-review peaks uses; a typed value in
    // the channel's unit reaches the engine (5 V drops the first crest, whose
    // left side falls only 3.7 V to the run's start); a text that is no
    // prominence asks nothing.
    struct ProminenceRow {
        const char *typed;
        double prominence;
    };
    std::size_t defaultCount = 0;
    for (const ProminenceRow &p : {ProminenceRow{"", -1}, ProminenceRow{"5", 5}, ProminenceRow{" 0.5 ", 0.5}}) {
        pane.prominenceField()->setText(QString::fromUtf8(p.typed));
        pane.start();
        pane.wait();
        const auto peaks = query::findPeaks(*window.run(), {0, true, 100, 0, 0, query::kWholeRun, p.prominence});
        std::vector<int64_t> shown, engine;
        for (const SearchPane::Row &row : pane.answers())
            shown.push_back(row.first);
        for (const query::Peak &peak : peaks.peaks)
            engine.push_back(peak.scan);
        EXPECT_EQ(shown, engine) << "prominence \"" << p.typed << "\"";
        EXPECT_FALSE(shown.empty()) << "prominence \"" << p.typed << "\"";
        if (p.prominence < 0) {
            defaultCount = shown.size();
        } else if (p.prominence == 5) {
            EXPECT_LT(shown.size(), defaultCount);
        }
    }
    pane.prominenceField()->setText(QStringLiteral("-1"));
    pane.start();
    pane.wait();
    EXPECT_TRUE(pane.answers().empty());
    EXPECT_TRUE(pane.countLabel()->text().contains(QStringLiteral("突出度")));
    EXPECT_EQ(pane.goButton()->text(), QStringLiteral("搜索"));
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
    ReviewWindow window(path, std::move(opened.reader), std::move(opened.run), opened.transform);
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
    // For a spreadsheet: the byte order mark, and the names the window shows.
    EXPECT_EQ(csv.readLine(), QByteArray("\xEF\xBB\xBF") + QStringLiteral("时间 (s),通道1,通道2,通道3,通道4\n").toUtf8());
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
    // S, wherever the focus is: the mean +- sd band, in the PNG too.
    const auto png = [&](const char *name) {
        const QString file = QString::fromStdString((dir / name).string());
        return window.exportPng(file) ? QImage(file) : QImage();
    };
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    const QImage plain = png("plain.png");
    QTest::keyClick(window.runList(), Qt::Key_S);
    EXPECT_TRUE(view.band());
    EXPECT_NE(png("band.png"), plain);
}

// A channel of an inverting sensor (a negative scale, 20 mm at code 0 to
// -20 mm at 4095): each place that shows a range of its codes as values
// shows the lowest value as the lowest. One row a place, reading its low
// and high off what it shows; `exact`: they are the extremes of the stretch
// it covers, else they only lie within them in order.
enum class Stretch { Run, Cursors, Card }; // the card: all of its codes
struct InvertedPlace {
    const char *name;
    std::function<std::pair<double, double>(ReviewWindow &, const std::string &path)> read;
    Stretch stretch;
    bool exact;
};

const ChannelUnit kInverted{"位移", "mm", -4.0, 0.0};
constexpr int64_t kInvertedBlocks = 30, kCursorA = 2000, kCursorB = 9000;

std::string reviewCommand(const std::string &args)
{
    std::string out;
    FILE *p = ::popen((std::string(ADCARD_REVIEW) + " " + args + " 2>&1").c_str(), "r");
    char buf[4096];
    for (std::size_t n; p && (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
        out.append(buf, n);
    if (p)
        ::pclose(p);
    return out;
}

// The two numbers `pattern` catches in `text`, or NaNs (which fail any check).
std::pair<double, double> two(const std::string &text, const char *pattern)
{
    std::smatch m;
    if (!std::regex_search(text, m, std::regex(pattern)))
        return {NAN, NAN};
    return {std::stod(m[1]), m[2].length() ? std::stod(m[2]) : NAN};
}

std::pair<double, double> statsCells(ReviewWindow &w, int low, int high)
{
    const QTableWidget *t = w.statsTable();
    if (!QTest::qWaitFor([t] { return t->item(0, 0) && t->item(0, 0)->text().toDouble() != 0; }))
        return {NAN, NAN};
    return {t->item(0, low)->text().toDouble(), t->item(0, high)->text().toDouble()};
}

class InvertedSensor : public ::testing::TestWithParam<InvertedPlace> {};

TEST_P(InvertedSensor, ShowsItsLowestValueAsItsLowest)
{
    const InvertedPlace &c = GetParam();
    const fs::path dir = fs::path(ADPANEL_TEST_TMP) / (std::string("inverted_") + c.name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string path = (dir / "inverted.h5").string();
    testing::writeRecording(path, kInvertedBlocks, {}, {}, kPanelCalibration, {kInverted});
    QString why;
    OpenedRecording opened = openRecordingForReview(QString::fromStdString(path), why);
    ASSERT_TRUE(opened.run) << why.toStdString();
    ReviewWindow window(QString::fromStdString(path), std::move(opened.reader), std::move(opened.run),
                        opened.transform);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.plot().setCursorA(kCursorA);
    window.plot().setCursorB(kCursorB);

    const Calibration cal = inUnit(kPanelCalibration, kInverted);
    ASSERT_LT(cal.scale, 0);
    double low = INFINITY, high = -INFINITY;
    const bool cursors = c.stretch == Stretch::Cursors;
    const int64_t first = cursors ? kCursorA : 0, last = cursors ? kCursorB : kInvertedBlocks * 1000 - 1;
    for (int64_t scan = first; scan <= last; ++scan) {
        const double v = cal.volts(testing::writtenCode(scan, 0));
        low = std::min(low, v);
        high = std::max(high, v);
    }
    if (c.stretch == Stretch::Card) {
        low = cal.volts(4095);
        high = cal.volts(0);
    }
    const auto [gotLow, gotHigh] = c.read(window, path);
    const double step = std::fabs(cal.scale);
    EXPECT_LT(gotLow, gotHigh);
    if (c.exact) {
        EXPECT_NEAR(gotLow, low, step);
        EXPECT_NEAR(gotHigh, high, step);
    } else {
        EXPECT_GE(gotLow, low - step);
        EXPECT_LE(gotHigh, high + step);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, InvertedSensor,
    ::testing::Values(
        InvertedPlace{"window_statistics", [](ReviewWindow &w, const std::string &) { return statsCells(w, 0, 1); },
                      Stretch::Cursors, true},
        InvertedPlace{"window_statistics_peak_to_peak",
                      [](ReviewWindow &w, const std::string &) {
                          const auto [low, width] = statsCells(w, 0, 4);
                          return std::pair(low, low + width);
                      },
                      Stretch::Cursors, true},
        InvertedPlace{"cursor_readout",
                      [](ReviewWindow &w, const std::string &) {
                          const std::string t = w.plot().cursorText().toStdString();
                          const auto [width, low] = two(t, "位移 .*峰峰 (\\S+)  最小 (\\S+) ");
                          const auto [low2, high] = two(t, "位移 .*最小 (\\S+) 最大 (\\S+) ");
                          return low == low2 && std::fabs(high - low - width) < 1e-3 ? std::pair(low, high)
                                                                                     : std::pair(double(NAN), double(NAN));
                      },
                      Stretch::Cursors, true},
        InvertedPlace{"pointer_readout",
                      [](ReviewWindow &w, const std::string &) {
                          w.plot().hoverAt(w.plot().width() / 3.0);
                          return two(w.plot().hoverText().toStdString(), "位移 最小 (\\S+) 最大 (\\S+) ");
                      },
                      Stretch::Run, false},
        InvertedPlace{"search_level_range",
                      [](ReviewWindow &w, const std::string &) {
                          const auto *level = w.searchPane()->findChild<QDoubleSpinBox *>();
                          return level ? std::pair(level->minimum(), level->maximum()) : std::pair(double(NAN), double(NAN));
                      },
                      Stretch::Card, true},
        InvertedPlace{"rules_level_range",
                      [](ReviewWindow &, const std::string &) {
                          const rules::ValueRange r = rules::channelRange({kInverted}, kPanelCalibration, 1);
                          return std::pair(r.lowest, r.highest);
                      },
                      Stretch::Card, true},
        InvertedPlace{"cli_stats",
                      [](ReviewWindow &, const std::string &path) {
                          return two(reviewCommand("stats " + path + " --json"),
                                     "\"min\": (\\S+), \"max\": (\\S+),");
                      },
                      Stretch::Run, true},
        InvertedPlace{"cli_peaks",
                      [](ReviewWindow &, const std::string &path) {
                          const std::string at = "peaks " + path + " --channel 1 --count 1 --json";
                          const char *value = "\"value\": ([-0-9.e]+)()";
                          return std::pair(two(reviewCommand(at + " --lowest"), value).first,
                                           two(reviewCommand(at), value).first);
                      },
                      Stretch::Run, true},
        InvertedPlace{"cli_search_level_range",
                      [](ReviewWindow &, const std::string &path) {
                          return two(reviewCommand("search " + path + " --channel 1 --above 99"),
                                     "range \\((\\S+) to (\\S+) mm\\)");
                      },
                      Stretch::Card, true}),
    kRowName);

// The panel ends (退出, SIGTERM, --stop-after) while a review window exports
// with its progress running a loop of its own (so too its dialogs): the
// export stops, leaves no file, the window goes and the recording closes.
TEST(ReviewOnX, ClosedWithThePanelMidExport)
{
    const fs::path dir = fs::path(ADPANEL_TEST_TMP) / "review_closed";
    fs::remove_all(dir);
    fs::create_directories(dir);
    testing::writeRecording((dir / "big.h5").string(), 4000); // long enough for the progress to show
    ::testing::NiceMock<testing::MockDriver> driver;
    ON_CALL(driver, Initial).WillByDefault(::testing::Return(1));
    ON_CALL(driver, StartIntr).WillByDefault(::testing::Return(1));
    PanelOptions options{&driver};
    options.record = (dir / "live.h5").string();
    PanelProgram program(options);
    qobject_cast<QPushButton *>(program.window().control(QStringLiteral("cmdStart")))->click();
    QPointer<ReviewWindow> review = program.openReview(QString::fromStdString((dir / "big.h5").string()));
    ASSERT_TRUE(review && QTest::qWaitForWindowExposed(review));
    QTimer inLoop; // fires only inside the export's loop, once its progress shows
    QObject::connect(&inLoop, &QTimer::timeout, [&] {
        if (review && review->findChild<QDialog *>() && review->findChild<QDialog *>()->isVisible())
            program.window().close();
    });
    inLoop.start(20);
    EXPECT_FALSE(review->exportCsv(QString::fromStdString((dir / "out.csv").string())));
    QTRY_VERIFY_WITH_TIMEOUT(review.isNull(), 5000);
    EXPECT_TRUE(program.finishRecording(std::chrono::seconds{20}));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 2) << "a partial export left behind";
}

} // namespace
} // namespace adcard
