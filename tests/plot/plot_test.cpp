// The plot's sources and renderer: the live ring's copy answers as plainly
// reduced samples do, gaps stay breaks in the picture, and the view never
// leaves its source however it is zoomed or moved.
#include "plot/live_ring_source.h"
#include "plot/plot_renderer.h"
#include "plot/spectrum_plot.h"
#include "tests/support/row_name.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace adcard {
namespace {

using ::PrintTo; // rows print as their names

// Every scan held plainly; each column reduced straight from the samples.
class Memory final : public DataSource {
public:
    Memory(int channels, int64_t scans) : ch_(channels), codes_(static_cast<std::size_t>(scans * channels)), present_(static_cast<std::size_t>(scans)) {}
    void set(int64_t scan, int c, int16_t code)
    {
        codes_[static_cast<std::size_t>(scan * ch_ + c)] = code;
        present_[static_cast<std::size_t>(scan)] = true;
    }
    void drop(int64_t scan) { present_[static_cast<std::size_t>(scan)] = false; }
    double origin = 0; // scan 0 of the samples in the source's scan space
    double shownFrom = 0;
    ChannelUnits units;
    ChannelUnits channelUnits() const override { return units; }
    int channels() const override { return ch_; }
    int64_t scanCount() const override { return static_cast<int64_t>(present_.size()) + static_cast<int64_t>(origin); }
    double scansPerSecond() const override { return 0; }
    double viewFirst() const override { return shownFrom; }
    void summarise(double first, double last, int columns, std::span<ColumnSummary> out) const override
    {
        summariseColumns(first, last, columns, 0, columns, out);
    }
    void summariseColumns(double first, double last, int columns, int from, int to, std::span<ColumnSummary> out) const override
    {
        for (int c = from; c < to; ++c) {
            const ScanSpan s = columnScans(first, last, columns, c);
            for (int k = 0; k < ch_; ++k) {
                ColumnSummary &o = out[static_cast<std::size_t>((c - from) * ch_ + k)];
                o = {};
                double sum = 0, sq = 0;
                for (int64_t i = s.first - static_cast<int64_t>(origin); i < s.last - static_cast<int64_t>(origin); ++i) {
                    if (i < 0 || i >= static_cast<int64_t>(present_.size()) || !present_[static_cast<std::size_t>(i)])
                        continue;
                    const int16_t v = codes_[static_cast<std::size_t>(i * ch_ + k)];
                    o.min = o.count ? std::min(o.min, v) : v;
                    o.max = o.count ? std::max(o.max, v) : v;
                    sum += v;
                    sq += static_cast<double>(v) * v;
                    ++o.count;
                }
                const double n = static_cast<double>(std::max<int64_t>(o.count, 1));
                o.mean = static_cast<float>(sum / n);
                o.sd = static_cast<float>(std::sqrt(std::max(0.0, sq / n - sum / n * (sum / n))));
            }
        }
    }

private:
    int ch_;
    std::vector<int16_t> codes_;
    std::vector<bool> present_;
};

constexpr int kChannels = 3;
constexpr int kScans = 100; // not a multiple of the 64-scan groups
constexpr int kRing = 5;

int16_t codeAt(int64_t scan, int c) { return static_cast<int16_t>((scan * 2654435761LL + c * 977) % 4096); }

struct SourceRow {
    const char *name;
    int blocks;       // handed over and published
    bool pending;     // one more handed over, not yet published
    double from, to;  // view, in scans back from the newest
    int columns;
    int firstColumn;  // -1: the column before the view too
};

class SourcesAgree : public ::testing::TestWithParam<SourceRow> {};

TEST_P(SourcesAgree, LiveRingAnswersAsThePlainSamplesKept)
{
    const SourceRow &row = GetParam();
    LiveRingSource live;
    live.reset(kChannels, kScans, kRing);
    Memory plain(kChannels, int64_t{row.blocks} * kScans);
    std::vector<int16_t> block(kScans * kChannels);
    for (int h = 1; h <= row.blocks + (row.pending ? 1 : 0); ++h) {
        for (int k = 0; k < kScans; ++k)
            for (int c = 0; c < kChannels; ++c) {
                const int64_t scan = int64_t{h - 1} * kScans + k;
                block[static_cast<std::size_t>(k * kChannels + c)] = codeAt(scan, c);
                // Kept: the ring's blocks and the one before them, unless a
                // block not yet shown took its place.
                if (h <= row.blocks && h > row.blocks - kRing - 1 + (row.pending ? 1 : 0))
                    plain.set(scan, c, codeAt(scan, c));
            }
        live.add(h, block);
        if (h == row.blocks)
            live.publish();
    }
    const double end = static_cast<double>(live.scanCount());
    ASSERT_EQ(end, static_cast<double>(plain.scanCount()));
    const double first = end - row.from;
    const double last = end - row.to;
    const int n = row.columns - row.firstColumn;
    std::vector<ColumnSummary> a(static_cast<std::size_t>(n * kChannels)), b(a.size());
    live.summariseColumns(first, last, row.columns, row.firstColumn, row.columns, a);
    plain.summariseColumns(first, last, row.columns, row.firstColumn, row.columns, b);
    int present = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        SCOPED_TRACE(::testing::Message() << "column " << static_cast<int>(i) / kChannels + row.firstColumn
                                          << " channel " << i % kChannels);
        ASSERT_EQ(a[i].count, b[i].count);
        present += a[i].count > 0;
        if (a[i].count == 0)
            continue;
        EXPECT_EQ(a[i].min, b[i].min);
        EXPECT_EQ(a[i].max, b[i].max);
        EXPECT_NEAR(a[i].mean, b[i].mean, 1e-3);
        EXPECT_NEAR(a[i].sd, b[i].sd, 1e-3);
    }
    EXPECT_GT(present, 0) << "the row looks at nothing";

    // The figures between two cursors, over the same scans.
    const auto lo = static_cast<int64_t>(std::ceil(first));
    const auto hi = static_cast<int64_t>(std::ceil(last));
    const std::vector<RangeStats> stats = live.stats(lo, hi);
    std::vector<ColumnSummary> whole(kChannels);
    plain.summarise(static_cast<double>(lo), static_cast<double>(hi), 1, whole);
    for (int c = 0; c < kChannels; ++c) {
        EXPECT_EQ(stats[static_cast<std::size_t>(c)].count, whole[static_cast<std::size_t>(c)].count);
        if (whole[static_cast<std::size_t>(c)].count) {
            EXPECT_EQ(stats[static_cast<std::size_t>(c)].min, whole[static_cast<std::size_t>(c)].min);
            EXPECT_NEAR(stats[static_cast<std::size_t>(c)].mean, whole[static_cast<std::size_t>(c)].mean, 1e-2);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SourcesAgree,
    ::testing::Values(
        SourceRow{"whole_ring_young_wider_than_groups", 3, false, kRing * kScans, 0, 7, -1},
        SourceRow{"whole_ring_wrapped", 23, false, kRing * kScans, 0, 37, -1},
        SourceRow{"whole_ring_columns_of_whole_blocks", 9, false, kRing * kScans, 0, kRing, -1},
        SourceRow{"pending_block_overwrote_the_oldest", 8, true, kRing * kScans + 40, 0, 23, 0},
        SourceRow{"zoomed_between_scans", 12, false, 2.5 * kScans - 0.3, 0.7 * kScans, 50, 0},
        SourceRow{"narrower_than_a_scan", 12, false, 130.25, 126.75, 20, -1},
        SourceRow{"reaching_into_blocks_gone", 12, false, 9 * kScans, 2 * kScans, 9, 0},
        SourceRow{"the_strip_of_a_moved_picture", 12, false, kRing * kScans, 0, 250, 240}),
    kRowName);

// ---- The picture -----------------------------------------------------------

struct GapRow {
    const char *name;
    int64_t gapFirst, gapLast; // scans with nothing, [first, last)
    double first, last;        // the view
    bool fullScale = false;    // every scan at the other end of the range: every bar the trace's height
};

class Gaps : public ::testing::TestWithParam<GapRow> {};

// A step from 1000 before the gap to 3000 after it: where scans are, the
// trace is drawn; across the gap nothing joins the two levels. Without a gap
// the step is one unbroken line.
TEST_P(Gaps, AreBreaksAndNothingJoinsAcrossThem)
{
    const GapRow &row = GetParam();
    constexpr int64_t kAll = 4000;
    constexpr int64_t kStep = 2000;
    Memory source(1, kAll);
    for (int64_t s = 0; s < kAll; ++s)
        source.set(s, 0, row.fullScale ? (s % 2 ? 4095 : 0) : (s < kStep ? 1000 : 3000));
    for (int64_t s = row.gapFirst; s < row.gapLast; ++s)
        source.drop(s);
    PlotRenderer plot;
    plot.setSource(&source);
    plot.setRange(row.first, row.last);
    const QImage img = plot.renderImage(QSize(400, 200));
    const QRect r = plot.plotRect(img.rect());
    const auto rowOf = [&](int code) {
        return r.top() + static_cast<int>(std::lround((5.0 - kPanelCalibration.volts(code)) / 10.0 * (r.height() - 1)));
    };
    const QRgb trace = PlotRenderer::channelColor(0).rgb();
    int joined = 0;
    for (int x = r.left(); x <= r.right(); ++x) {
        const ScanSpan s = columnScans(plot.first(), plot.last(), r.width(), x - r.left());
        const bool anyPresent = s.first < row.gapFirst || s.last > row.gapLast;
        std::vector<int> rows;
        for (int y = r.top(); y <= r.bottom(); ++y)
            if (img.pixel(x, y) == trace)
                rows.push_back(y);
        SCOPED_TRACE(::testing::Message() << "x " << x << " scans " << s.first << ".." << s.last);
        EXPECT_EQ(!rows.empty(), anyPresent);
        if (rows.size() > 1) {
            EXPECT_EQ(rows.front(), rowOf(row.fullScale ? 4095 : 3000));
            EXPECT_EQ(rows.back(), rowOf(row.fullScale ? 0 : 1000));
            EXPECT_EQ(rows.size(), static_cast<std::size_t>(rows.back() - rows.front() + 1)) << "a broken edge";
            ++joined;
        }
    }
    // Only a step with scans on both sides of it in one column or two
    // neighbouring ones is drawn as a line.
    const bool stepVisible = row.gapLast <= row.gapFirst || row.gapLast <= kStep - 1 || row.gapFirst > kStep;
    EXPECT_EQ(joined > 0, stepVisible || row.fullScale);
}

INSTANTIATE_TEST_SUITE_P(Rows, Gaps,
                         ::testing::Values(GapRow{"no_gap", 0, 0, 0, 4000},
                                           GapRow{"gap_over_the_step", 1500, 2500, 0, 4000},
                                           GapRow{"gap_before_the_step", 500, 900, 0, 4000},
                                           GapRow{"one_scan_at_the_step_zoomed_in", 2000, 2001, 1990, 2010},
                                           GapRow{"gap_at_the_start", 0, 700, 0, 4000},
                                           GapRow{"gap_over_the_whole_view", 1000, 3000, 1200, 1300},
                                           GapRow{"tall_bars_around_a_gap", 1500, 2500, 0, 4000, true}),
                         kRowName);

// +-100 codes round 2000, a spike to 4000 every 400 scans, a gap: a spike is pale over the
// band, each drawn column has its mean line, a gap stays blank; off again, as before.
TEST(Band, OverAPaleEnvelopeWithGapsLeftBlank)
{
    Memory source(1, 4000);
    for (int64_t s = 0; s < 4000; ++s)
        source.set(s, 0, static_cast<int16_t>(s % 400 == 7 ? 4000 : s % 2 ? 2100 : 1900));
    for (int64_t s = 1500; s < 2500; ++s)
        source.drop(s);
    PlotRenderer plot;
    plot.setSource(&source);
    const QImage off = plot.renderImage(QSize(400, 200));
    plot.setBand(true);
    const QImage on = plot.renderImage(QSize(400, 200));
    const QRect r = plot.plotRect(on.rect());
    const auto rowOf = [&](int code) { return r.top() + static_cast<int>(std::lround((5.0 - kPanelCalibration.volts(code)) / 10.0 * (r.height() - 1))); };
    for (int x = r.left(); x <= r.right(); ++x) {
        const ScanSpan s = columnScans(plot.first(), plot.last(), r.width(), x - r.left());
        const bool gap = s.first >= 1500 && s.last <= 2500, spike = !gap && (s.first + 392) / 400 * 400 + 7 < s.last;
        EXPECT_EQ(on.pixel(x, rowOf(2000)) == off.pixel(x, rowOf(2000)), gap) << x;
        const QColor top = on.pixel(x, rowOf(3500));
        EXPECT_TRUE(!spike || (top.lightness() > PlotRenderer::channelColor(0).lightness() && top != Qt::white)) << x;
    }
    plot.setBand(false);
    EXPECT_EQ(plot.renderImage(QSize(400, 200)), off);
}

// ---- Moving around ---------------------------------------------------------

struct MoveRow {
    const char *name;
    double viewFirst; // where the source's view begins
    double setFirst, setLast;
    double zoomBy;
    int zooms;
    double anchor;
    double panBy;
    double wantFirst, wantLast;
};

class Moving : public ::testing::TestWithParam<MoveRow> {};

TEST_P(Moving, KeepsTheRangeInsideTheSourceDownToSingleScans)
{
    const MoveRow &row = GetParam();
    Memory source(1, 10000);
    source.shownFrom = row.viewFirst;
    PlotRenderer plot;
    plot.setSource(&source);
    plot.setRange(row.setFirst, row.setLast);
    for (int i = 0; i < row.zooms; ++i) {
        plot.zoom(row.zoomBy, row.anchor);
        ASSERT_GE(plot.first(), row.viewFirst);
        ASSERT_LE(plot.last(), 10000.0);
        ASSERT_GE(plot.last() - plot.first(), PlotRenderer::kMinSpanScans - 1e-9);
    }
    plot.pan(row.panBy);
    EXPECT_NEAR(plot.first(), row.wantFirst, 1e-6);
    EXPECT_NEAR(plot.last(), row.wantLast, 1e-6);
    plot.showAll();
    EXPECT_EQ(plot.first(), row.viewFirst);
    EXPECT_EQ(plot.last(), 10000.0);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Moving,
    ::testing::Values(MoveRow{"zoom_in_stops_at_four_scans_round_the_anchor", 0, 0, 10000, 0.5, 60, 5000, 0, 4998, 5002},
                      MoveRow{"zoom_in_at_the_left_edge", 0, 0, 10000, 0.5, 60, 0, 0, 0, 4},
                      MoveRow{"zoom_in_at_the_right_edge", 0, 0, 10000, 0.1, 20, 10000, 0, 9996, 10000},
                      MoveRow{"zoom_out_stops_at_everything", 0, 100, 200, 3, 10, 150, 0, 0, 10000},
                      MoveRow{"pan_stops_at_the_start", 0, 100, 300, 1, 0, 0, -1e12, 0, 200},
                      MoveRow{"pan_stops_at_the_end", 0, 100, 300, 1, 0, 0, 1e12, 9800, 10000},
                      MoveRow{"single_scans_pan_whole", 0, 0, 10000, 0.5, 60, 5000, 3, 5001, 5005},
                      MoveRow{"empty_range_widens", 0, 7, 7, 1, 0, 0, 0, 7, 11},
                      MoveRow{"view_before_scan_zero", -2000, -5000, 20000, 1, 0, 0, 0, -2000, 10000},
                      MoveRow{"pan_into_the_empty_start_of_a_young_ring", -2000, 0, 1000, 1, 0, 0, -1e9, -2000, -1000}),
    kRowName);

// A following view moves with the source's end and keeps its width.
TEST(Following, MovesWithTheNewestScan)
{
    LiveRingSource live;
    live.reset(1, kScans, kRing);
    std::vector<int16_t> block(kScans, 2048);
    PlotRenderer plot;
    plot.setSource(&live);
    plot.setFollowing(true);
    plot.setRange(-250, -50);
    for (int h = 1; h <= 12; ++h) {
        live.add(h, block);
        live.publish();
        plot.syncToSource();
        EXPECT_EQ(plot.last() - plot.first(), 200);
        EXPECT_EQ(plot.last(), static_cast<double>(h) * kScans - 50) << "block " << h;
    }
}

// Every trace read against its axis gives its true value in its own unit:
// each channel is a constant, found in the picture by its colour, and the
// value at its row, read between the axis' outermost labels as a reader
// would, must be the channel's value to within a pixel.
struct AxesRow {
    const char *name;
    ChannelUnits units;
    std::vector<bool> shown;
    bool lanes;
    double voltsBottom, voltsTop;
    QSize size;
    std::size_t axes;   // drawn
    bool lanesForUnits; // overlaid asked, lanes drawn
};

class Axes : public ::testing::TestWithParam<AxesRow> {};

const ChannelUnit kBar{"入口压力", "bar", 2.0, 5.0};     // -5 .. 15 bar
const ChannelUnit kBarFine{"出口压力", "bar", 0.5, 1.0}; // -1.5 .. 3.5 bar, the same axis
const ChannelUnit kCelsius{"温度", "°C", 10.0, 20.0};    // -30 .. 70 °C
const ChannelUnit kInverted{"位移", "mm", -4.0, 0.0};    // an inverting amplifier: 20 .. -20 mm
const ChannelUnit kVolts{};
constexpr int16_t kCodes[] = {700, 1500, 2600, 3400}; // a constant each, apart on any axis here

std::pair<double, QString> parseLabel(const QString &text)
{
    const qsizetype space = text.indexOf(u' ');
    return {text.left(space).toDouble(), text.mid(space + 1)};
}

TEST_P(Axes, EveryTraceReadsItsTrueValueInItsUnit)
{
    const AxesRow &row = GetParam();
    Memory m(4, 40);
    m.units = row.units;
    for (int64_t i = 0; i < 40; ++i)
        for (int c = 0; c < 4; ++c)
            m.set(i, c, kCodes[c]);
    PlotRenderer plot;
    plot.setSource(&m);
    for (int c = 0; c < 4; ++c)
        plot.setChannelVisible(c, row.shown[std::size_t(c)]);
    plot.setLanes(row.lanes);
    plot.setVoltsRange(row.voltsBottom, row.voltsTop);
    const QImage img = plot.renderImage(row.size);
    const QRect r = plot.plotRect(img.rect());
    const ValueAxes axes = plot.valueAxes(r);
    EXPECT_EQ(axes.axes.size(), row.axes);
    EXPECT_EQ(axes.lanesForUnits, row.lanesForUnits);
    const int line = QFontMetrics(QGuiApplication::font()).height();
    for (const ValueAxis &axis : axes.axes) {
        // An axis no trace follows would be read for one that it is not.
        EXPECT_FALSE(axis.channels.empty()) << axis.unit;
        EXPECT_GE(axisLabels(axis, line, axis.band != r).size(), 3u) << axis.unit << " in " << axis.band.height() << " px, lines of " << line;
    }
    for (int c = 0; c < 4; ++c) {
        const ValueAxis *axis = axes.of(c);
        ASSERT_EQ(axis != nullptr, row.shown[std::size_t(c)]) << "channel " << c;
        if (!axis)
            continue;
        const ChannelUnit u = channelUnit(row.units, c);
        const std::vector<AxisTick> labels = axisLabels(*axis, line, axis->band != r);
        ASSERT_GE(labels.size(), 2u);
        const auto [v0, unit0] = parseLabel(labels.front().text);
        const auto [v1, unit1] = parseLabel(labels.back().text);
        EXPECT_EQ(unit0.toStdString(), u.unit) << "channel " << c;
        EXPECT_EQ(unit1.toStdString(), u.unit) << "channel " << c;
        std::optional<int> drawn;
        const int x = r.left() + r.width() / 2;
        for (int y = axis->band.top(); y <= axis->band.bottom() && !drawn; ++y)
            if (img.pixelColor(x, y) == PlotRenderer::channelColor(c))
                drawn = y;
        ASSERT_TRUE(drawn) << "channel " << c << " not drawn in its axis' band";
        const double read = v0 + (*drawn - labels.front().y) * (v1 - v0) / (labels.back().y - labels.front().y);
        const double truth = inUnit(m.calibration(), u).volts(kCodes[c]);
        const double pixel = (axis->top - axis->bottom) / (axis->band.height() - 1);
        EXPECT_NEAR(read, truth, 1.01 * pixel) << "channel " << c << " (" << u.unit << ") at row " << *drawn;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Axes,
    ::testing::Values(
        AxesRow{"overlaid_volts", {}, {true, true, true, true}, false, -5, 5, {1366, 420}, 1, false},
        AxesRow{"overlaid_one_unit_two_scales", {kBar, kBarFine}, {true, true, false, false}, false, -5, 5, {1366, 420}, 1, false},
        AxesRow{"overlaid_two_units", {kBar, kCelsius, kBarFine}, {true, true, true, false}, false, -5, 5, {1366, 420}, 2, false},
        AxesRow{"overlaid_two_units_fitted", {kBar, kCelsius, kBarFine}, {true, true, true, false}, false, -3.35, 3.35, {1366, 420}, 2, false},
        AxesRow{"overlaid_volts_and_inverted", {kVolts, kInverted}, {true, true, false, false}, false, -5, 5, {1366, 420}, 2, false},
        AxesRow{"overlaid_three_units_drawn_in_lanes", {kBar, kCelsius, kVolts, kInverted}, {true, true, true, true}, false, -5, 5, {1190, 273}, 4, true},
        AxesRow{"lanes_at_1366", {kBar, kCelsius, kBarFine, kInverted}, {true, true, true, true}, true, -5, 5, {1190, 273}, 4, false},
        AxesRow{"lanes_fitted_at_1920", {kBar, kCelsius, kBarFine, kVolts}, {true, true, true, true}, true, -3.35, 3.35, {1900, 700}, 4, false},
        AxesRow{"lanes_one_shown", {kBar, kCelsius}, {false, true, false, false}, true, -5, 5, {1366, 420}, 1, false}),
    kRowName);

// The spectrum's marks: a crest is one peak however flat its top, the DC's
// lobe is none, and a harmonic is the highest bin at or beside its multiple.
struct PeaksRow {
    const char *name;
    std::vector<float> bins;
    std::size_t from, count;
    std::vector<std::size_t> peaks;     // highest first
    std::vector<std::size_t> harmonics; // of the first peak, 2nd to 4th
};

class SpectrumPeaks : public ::testing::TestWithParam<PeaksRow> {};

TEST_P(SpectrumPeaks, OneMarkACrestAndHarmonicsWhereTheyAre)
{
    const PeaksRow &row = GetParam();
    const std::vector<std::size_t> peaks = highestPeaks(row.bins, row.from, row.count);
    EXPECT_EQ(peaks, row.peaks);
    if (!peaks.empty()) {
        EXPECT_EQ(harmonicBins(row.bins, peaks.front(), 4), row.harmonics);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SpectrumPeaks,
    ::testing::Values(
        PeaksRow{"dc_lobe_is_no_peak", {9, 8, 1, 3, 1, 0, 1, 0, 0, 0}, 2, 2, {3, 6}, {6, 9}},
        PeaksRow{"flat_crest_once", {0, 0, 1, 4, 4, 1, 0, 2, 0, 0, 0}, 2, 3, {4, 7}, {7}},
        PeaksRow{"harmonic_beside_its_multiple", {0, 0, 5, 0, 0, 0, 1, 3, 0, 0, 0, 0}, 1, 1, {2}, {4, 7, 8}},
        PeaksRow{"past_the_last_bin", {0, 2, 7, 1, 0}, 1, 5, {2}, {3}}),
    kRowName);

} // namespace
} // namespace adcard

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    // Text needs a font database, hence an application; no screen is used.
    QGuiApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
