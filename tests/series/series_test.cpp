// A series read as one recording answers every question as one file holding
// the same blocks does: the same statistics, columns, crossings, peaks,
// changes, gaps, markers and events, whether its files are read themselves
// or counted from the index beside them.
#include "query/query.h"
#include "series/series_reader.h"
#include "series_maker.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>

using namespace adcard;
using namespace adcard::seriestest;

namespace {

std::string g(double v)
{
    char b[40];
    std::snprintf(b, sizeof b, "%.17g", v);
    return b;
}

using Ask = std::function<std::string(const RecordedRun &, RecordingReader &)>;

std::string statsText(const RecordedRun &run, int64_t a, int64_t b)
{
    std::ostringstream o;
    for (const RangeStats &s : run.stats(a, b))
        o << s.count << ' ' << g(s.min) << ' ' << g(s.max) << ' ' << g(s.mean) << ' ' << g(s.rms) << ';';
    return o.str();
}

std::string columnsText(const RecordedRun &run, double first, double last, int columns)
{
    std::vector<ColumnSummary> out(std::size_t(columns * run.channels()));
    run.summarise(first, last, columns, out);
    std::ostringstream o;
    for (const ColumnSummary &c : out)
        o << c.count << ' ' << c.min << ' ' << c.max << ' ' << g(c.mean) << ' ' << g(c.sd) << ';';
    return o.str();
}

std::string statusText(const query::Status &s)
{
    return std::to_string(int(s.outcome)) + s.error + ' ' + std::to_string(s.first) + '-' + std::to_string(s.end) + '|';
}

std::string crossingsText(const RecordedRun &run, query::LevelQuery q)
{
    const auto r = query::findCrossings(run, q);
    std::ostringstream o;
    o << statusText(r) << r.total << ' ' << r.totalIntervals << '|';
    for (const auto &c : r.crossings)
        o << c.scan << ' ' << c.code << ' ' << c.rising << ';';
    for (const auto &i : r.intervals)
        o << i.start << '-' << i.end << ' ' << i.extreme << ' ' << i.open << ';';
    return o.str();
}

struct Row {
    const char *name;
    Ask ask;
};

const Calibration kCal{};

const Row kRows[] = {
    {"info",
     [](const RecordedRun &r, RecordingReader &) {
         const auto &i = r.info();
         return std::to_string(i.blocks) + ' ' + std::to_string(i.scans) + ' ' + std::to_string(i.holes) + ' ' +
                std::to_string(i.channels) + ' ' + std::to_string(i.startTimeNs);
     }},
    {"stats_whole", [](const RecordedRun &r, RecordingReader &) { return statsText(r, 0, r.scanCount()); }},
    {"stats_across_a_file_edge", [](const RecordedRun &r, RecordingReader &) { return statsText(r, 6000, 7001); }},
    {"stats_within_a_file", [](const RecordedRun &r, RecordingReader &) { return statsText(r, 13000, 14000); }},
    {"columns_of_scans_across_an_edge",
     [](const RecordedRun &r, RecordingReader &) { return columnsText(r, 6100, 6200, 50); }},
    {"columns_of_level_1", [](const RecordedRun &r, RecordingReader &) { return columnsText(r, 0, 24576, 96); }},
    {"columns_of_level_2_straddling",
     [](const RecordedRun &r, RecordingReader &) { return columnsText(r, 0, 24576, 6); }},
    {"columns_from_before_the_start",
     [](const RecordedRun &r, RecordingReader &) { return columnsText(r, -10, 23966, 333); }},
    {"rare_crossing",
     [](const RecordedRun &r, RecordingReader &) {
         return crossingsText(r, {.channel = 0, .level = kCal.volts(3500), .edge = query::Edge::Rising});
     }},
    {"many_crossings_with_hysteresis",
     [](const RecordedRun &r, RecordingReader &) {
         return crossingsText(r, {.channel = 1, .level = kCal.volts(2100), .edge = query::Edge::Either,
                                  .hysteresis = 0.2, .first = 5000, .end = 20000, .limit = 40});
     }},
    {"highest_peaks",
     [](const RecordedRun &r, RecordingReader &) {
         const auto p = query::findPeaks(r, {.channel = 0, .highest = true, .count = 6, .apart = 300});
         std::string s = statusText(p);
         for (const auto &k : p.peaks)
             s += std::to_string(k.scan) + ' ' + std::to_string(k.code) + ';';
         return s;
     }},
    {"lowest_peaks_in_a_range",
     [](const RecordedRun &r, RecordingReader &) {
         const auto p = query::findPeaks(r, {.channel = 1, .highest = false, .count = 4, .first = 3000, .end = 19000});
         std::string s = statusText(p);
         for (const auto &k : p.peaks)
             s += std::to_string(k.scan) + ' ' + std::to_string(k.code) + ';';
         return s;
     }},
    {"changes_of_a_bit",
     [](const RecordedRun &r, RecordingReader &) {
         const auto d = query::findChanges(r, {.port = 1, .bit = 2});
         std::string s = statusText(d) + std::to_string(d.total) + '|';
         for (const auto &e : d.events)
             s += std::to_string(e.scan) + ' ' + std::to_string(e.timeNs) + ' ' + std::to_string(e.before) + ' ' +
                  std::to_string(e.after) + ';';
         return s;
     }},
    {"gaps_and_markers",
     [](const RecordedRun &r, RecordingReader &) {
         const auto l = query::findLosses(r, 0, r.scanCount(), 100);
         std::string s = statusText(l) + std::to_string(l.totalHoles) + '|';
         for (const auto &h : l.holes)
             s += std::to_string(h.first) + '-' + std::to_string(h.end) + ';';
         for (const auto &m : l.markers)
             s += std::to_string(m.scan) + ' ' + std::to_string(m.timeNs) + ' ' + m.text + ';';
         return s;
     }},
    {"events",
     [](const RecordedRun &, RecordingReader &reader) {
         int64_t total = 0;
         std::string s;
         for (const auto &e : reader.events(5, total))
             s += std::to_string(e.run) + ' ' + std::to_string(e.scan) + ' ' + e.rule + ' ' + g(e.value) + ';';
         return s + std::to_string(total);
     }},
    {"scans_across_an_edge",
     [](const RecordedRun &r, RecordingReader &) {
         std::string s;
         r.forEachScan(6140, 6150, [&](int64_t k, std::span<const int16_t> c) {
             s += std::to_string(k) + ':' + std::to_string(c[0]) + ',' + std::to_string(c[1]) + ';';
             return true;
         });
         return s;
     }},
};

struct ShapeCase {
    const char *name;
    Shape shape;
    bool indexed;
};

Shape leaving(std::set<int> places, std::set<int64_t> lost = {})
{
    Shape s;
    s.leftOut = std::move(places);
    s.lost = std::move(lost);
    return s;
}

const ShapeCase kShapes[] = {
    {"whole", {}, false},
    {"whole_indexed", {}, true},
    {"a_file_missing", leaving({2}), false},
    {"a_file_missing_indexed", leaving({2}), true},
    {"blocks_lost_on_both_sides_of_an_edge", leaving({}, {23, 24, 40}), true},
};

// The recordings of each shape, made once.
struct Made {
    std::unique_ptr<RecordingReader> single, series;
    std::unique_ptr<RecordedRun> singleRun, seriesRun;
};

std::map<std::string, Made> &allMade()
{
    static std::map<std::string, Made> all;
    return all;
}

// Closed before HDF5 closes itself at exit.
struct CloseMade : ::testing::Environment {
    void TearDown() override
    {
        allMade().clear();
        RemoveScratch().TearDown();
    }
};
[[maybe_unused]] ::testing::Environment *const kCloseMade = ::testing::AddGlobalTestEnvironment(new CloseMade);

Made &made(const ShapeCase &c)
{
    Made &m = allMade()[c.name];
    if (m.single)
        return m;
    const std::string dir = scratch(std::string("series-") + c.name);
    make(c.shape, dir + "/parts", dir + "/one.h5");
    std::string why;
    m.single.reset(openRecording((dir + "/one.h5").c_str(), &why));
    EXPECT_TRUE(m.single) << why;
    if (c.indexed) { // the first opening writes the index, the second reads it
        EXPECT_TRUE(series::SeriesReader::open({dir + "/parts"}, opener(), "", why)) << why;
    }
    auto s = series::SeriesReader::open({dir + "/parts"}, opener(), "", why, 3, c.indexed);
    EXPECT_TRUE(s) << why;
    EXPECT_EQ(std::filesystem::exists(dir + "/parts/rec.series-index"), c.indexed);
    m.series = std::move(s);
    m.singleRun = m.single->openRun(1, why);
    m.seriesRun = m.series->openRun(1, why);
    EXPECT_TRUE(m.singleRun && m.seriesRun) << why;
    return m;
}

void PrintTo(const ShapeCase &c, std::ostream *os)
{
    *os << c.name;
}
void PrintTo(const Row &r, std::ostream *os)
{
    *os << r.name;
}

class SeriesAsOneFile : public ::testing::TestWithParam<std::tuple<ShapeCase, Row>> {};

TEST_P(SeriesAsOneFile, AnswersAsTheFileWithTheSameBlocks)
{
    const auto &[shape, row] = GetParam();
    Made &m = made(shape);
    ASSERT_TRUE(m.singleRun && m.seriesRun);
    EXPECT_EQ(row.ask(*m.seriesRun, *m.series), row.ask(*m.singleRun, *m.single));
}

INSTANTIATE_TEST_SUITE_P(Rows, SeriesAsOneFile, ::testing::Combine(::testing::ValuesIn(kShapes), ::testing::ValuesIn(kRows)),
                         [](const auto &info) {
                             return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
                         });

TEST(SeriesGaps, AMissingFileIsAGapNamedWithItsPlaceAndTime)
{
    Made &m = made(kShapes[2]);
    ASSERT_TRUE(m.seriesRun);
    int64_t total = 0;
    const auto gaps = m.seriesRun->gaps(0, m.seriesRun->scanCount(), 10, total);
    ASSERT_EQ(total, 1);
    EXPECT_EQ(gaps[0].first, 2 * 24 * 256);
    EXPECT_EQ(gaps[0].end, 3 * 24 * 256);
    const auto notes = static_cast<series::SeriesReader &>(*m.series).notes();
    ASSERT_EQ(notes.size(), 1u) << series::joinNotes(notes);
    EXPECT_NE(notes[0].find("place 2 missing"), std::string::npos) << notes[0];
    EXPECT_NE(notes[0].find("scans 12288 to 18432"), std::string::npos) << notes[0];
}

} // namespace
