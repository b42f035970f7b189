// A file of a series, alone: its place in the series and its run's place in
// the series' blocks read back exactly, while its rows, markers and events
// count from the file's own block 0.
#include "recording/recording_reader_impl.h"
#include "recording/recording_writer.h"
#include "tests/recording/recording_support.h"
#include "tests/support/row_name.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace adcard;
using namespace adcard::testing;
using namespace std::chrono_literals;

namespace {

struct SeriesFileCase {
    const char *name;
    std::optional<SeriesMembership> series;
    std::optional<RecordingWriter::SeriesRun> run;
    int64_t firstIndex; // the first block's index as the recorder counts it
};
void PrintTo(const SeriesFileCase &c, std::ostream *os) { *os << c.name; }

class SeriesFile : public ::testing::TestWithParam<SeriesFileCase> {};

TEST_P(SeriesFile, ReadsBackItsPlaceAndCountsFromItsOwnFirstBlock)
{
    const SeriesFileCase &c = GetParam();
    const std::string path = scratchDir(std::string("series-file-") + c.name) + "/a.h5";
    RecordingWriter::Policy policy{};
    policy.series = c.series;
    RecordingWriter w(std::make_unique<RecordingFile>(path, false), "", "", policy);
    const RecordingWriter::Clock::time_point t0{100s};
    w.beginRun(panelSettings(), 1, t0, c.run);
    for (int64_t k = 0; k < 3; ++k) {
        w.onBlock(c.firstIndex + k, int32_t(k), testBlock(c.firstIndex + k, 4000));
        w.onTickEnd({.timeNs = 10 + k, .blockCount = c.firstIndex + k + 1}, t0);
    }
    // Scans as the run counts them: the series' scans when it continues.
    const int64_t base = c.firstIndex * 1000;
    ASSERT_TRUE(w.addMarkerAt(base + 1500, 20, "m"));
    ASSERT_TRUE(w.addEvent({"r", base + 2500, true, 1.0, false, false, 1.0, 2.0, "", {}, 0}, 21));
    w.close(30, t0 + 1s);

    std::string why;
    const std::unique_ptr<RecordingReader> reader(openRecording(path.c_str(), &why));
    ASSERT_TRUE(reader) << why;
    const auto got = reader->series();
    ASSERT_EQ(got.has_value(), c.series.has_value());
    if (got) {
        EXPECT_EQ(got->id, c.series->id);
        EXPECT_EQ(got->place, c.series->place);
        EXPECT_EQ(got->startNs, c.series->startNs); // beyond a double's 53 bits
        EXPECT_EQ(got->split, c.series->split);
    }
    const auto runs = reader->runs();
    ASSERT_EQ(runs.size(), 1u);
    const int number = c.run ? c.run->run : 1;
    EXPECT_EQ(runs[0].number, number);
    EXPECT_EQ(runs[0].seriesFirstBlock, c.run ? c.run->firstBlock : 0);
    EXPECT_EQ(runs[0].continues, c.run && c.run->continues);
    EXPECT_EQ(runs[0].blocks, 3);
    EXPECT_EQ(runs[0].scans, 3000);
    EXPECT_EQ(runs[0].holes, 0);
    const auto run = reader->openRun(number, why);
    ASSERT_TRUE(run) << why;
    const auto markers = run->markers();
    ASSERT_EQ(markers.size(), 1u);
    EXPECT_EQ(markers[0].scan, 1500);
    int64_t total = 0;
    const auto events = reader->events(10, total);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].scan, 2500);
    // The file's block 0 holds the samples of the series' block firstIndex.
    bool same = true;
    const auto expected = testBlock(c.firstIndex, 4000);
    run->forEachScan(0, 1, [&](int64_t, std::span<const int16_t> codes) {
        same = std::equal(codes.begin(), codes.end(), expected.begin());
        return true;
    });
    EXPECT_TRUE(same);
}

const SeriesMembership kSeries{"0123456789abcdef0123456789abcdef", 4, 1'765'432'109'876'543'211, "1h"};

INSTANTIATE_TEST_SUITE_P(
    Rows, SeriesFile,
    ::testing::Values(SeriesFileCase{"alone", std::nullopt, std::nullopt, 0},
                      SeriesFileCase{"first_of_a_series", SeriesMembership{kSeries.id, 0, kSeries.startNs, "1h"},
                                     std::nullopt, 0},
                      SeriesFileCase{"continued_run", kSeries, RecordingWriter::SeriesRun{3, 36000, true}, 36000},
                      SeriesFileCase{"new_run_in_a_later_file", kSeries, RecordingWriter::SeriesRun{5, 0, false},
                                     0}),
    kRowName);

} // namespace
