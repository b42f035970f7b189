// What a view of one run of a long file reads: the inputs' strip thinned to
// a bounded number of rows over the whole run yet whole where it is narrow,
// and the events of its own run found among the others' by bisection.
#include "recording/recording_reader_impl.h"
#include "recording/recording_writer.h"
#include "tests/recording/recording_support.h"

#include <unistd.h>

#include <algorithm>
#include <memory>

namespace adcard::testing {
namespace {

using namespace std::chrono_literals;

// Run 2 holds more input readings than 256 chunks of the table (of 256
// rows) do, one a block of one scan; runs 1 and 3 are short. Events at
// their runs' first and last blocks and between.
constexpr int64_t kLongBlocks = 70'000;
constexpr int64_t kShortBlocks = 10;
const std::vector<std::vector<int64_t>> kEventBlocks = {
    {0, 4, 9}, {0, 1, 10'000, 35'000, 35'001, 69'998, 69'999}, {3, 9}};

std::string longFile()
{
    static const std::string path = [] {
        // Its own folder: test programs may run side by side.
        const std::string p = scratchDir("rec-long-reads-" + std::to_string(getpid())) + "/a.h5";
        AcqSettings s = panelSettings();
        s.ScansPerBlock = 1;
        s.IntrArg5 = 10;
        const RecordingWriter::Policy policy{std::chrono::hours{1}, std::chrono::hours{1}};
        RecordingWriter w(std::make_unique<RecordingFile>(p, false), "", "", policy);
        const RecordingWriter::Clock::time_point t0{100s};
        for (std::size_t run = 0; run < kEventBlocks.size(); ++run) {
            const int64_t blocks = run == 1 ? kLongBlocks : kShortBlocks;
            const int64_t startNs = int64_t(run + 1) * 1'000'000'000'000;
            w.beginRun(s, startNs, t0);
            std::size_t next = 0;
            for (int64_t i = 0; i < blocks; ++i) {
                w.onBlock(i, int32_t(i % 20), testBlock(i, 4));
                if (next < kEventBlocks[run].size() && kEventBlocks[run][next] == i) {
                    ++next;
                    const RuleEvent e{"r", i, true, double(run), false, false, 0, 0, {}, {}, 0};
                    EXPECT_TRUE(w.addEvent(e, i));
                }
                w.onTickEnd({.timeNs = i, .blockCount = i + 1, .digitalRead = true, .digital = {int16_t(i & 0xff), 0}},
                            t0 + i * 100ms);
            }
            w.endRun(startNs + blocks * 100'000'000, t0 + blocks * 100ms);
        }
        w.close(5'000'000'000'000, t0 + 1h);
        return p;
    }();
    return path;
}

struct StripRow {
    const char *name;
    int64_t first, last;
    std::size_t most;   // 0: every row, unthinned
    int64_t least, top; // rows expected
};

void expectStrip(const StripRow &row)
{
    std::string why;
    const std::unique_ptr<RecordingReader> reader(openRecording(longFile().c_str(), &why));
    ASSERT_TRUE(reader) << why;
    const auto run = reader->openRun(2, why);
    ASSERT_TRUE(run) << why;
    ASSERT_EQ(run->scanCount(), kLongBlocks);
    const auto got = row.most == 0 ? run->digital(row.first, row.last)
                                   : run->digitalThinned(row.first, row.last, row.most);
    EXPECT_GE(int64_t(got.size()), row.least);
    EXPECT_LE(int64_t(got.size()), row.top);
    ASSERT_FALSE(got.empty());
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].port0, int16_t((got[i].scan - 1) & 0xff)) << "a reading of another block, at " << i;
        if (i > 0) {
            ASSERT_LT(got[i - 1].scan, got[i].scan);
        }
    }
    // Spread over the whole range, not bunched at its start.
    const int64_t width = std::min(row.last, kLongBlocks) - std::max<int64_t>(row.first, 1);
    EXPECT_LT(got.front().scan - row.first, width / 100 + 1);
    EXPECT_GT(got.back().scan, row.last - width / 100 - 2 - width / int64_t(got.size()));
}

// One program writes the file once for all the rows: it takes seconds.
TEST(LongRunStrip, ThinnedOnlyWhereTheStripCannotShowEveryRow)
{
    for (const StripRow &row : {
        // Every reading, as an export or a replay of the rules asks.
        StripRow{"every_row", 0, kLongBlocks + 1, 0, kLongBlocks, kLongBlocks},
        // The whole run at a strip's width: a bounded number of chunks.
        StripRow{"whole_run", 0, kLongBlocks + 1, 3840, 200, 257},
        // Fewer chunks than the bound: thinned only to the strip's width.
        StripRow{"a_third", 0, 20'000, 3840, 3000, 3840},
        // A narrow view holds fewer readings than the strip: all of them.
        StripRow{"narrow_view", 30'000, 31'000, 3840, 1000, 1000}}) {
        SCOPED_TRACE(row.name);
        expectStrip(row);
    }
}

struct EventsRow {
    const char *name;
    int run;
    std::size_t most;
};

void expectEvents(const EventsRow &row)
{
    std::string why;
    const std::unique_ptr<RecordingReader> reader(openRecording(longFile().c_str(), &why));
    ASSERT_TRUE(reader) << why;
    int64_t all = 0, total = -1;
    std::vector<RecordedEvent> want;
    for (const RecordedEvent &e : reader->events(1000, all))
        if (e.run == row.run)
            want.push_back(e);
    const int64_t ofRun = int64_t(want.size());
    if (want.size() > row.most)
        want.resize(row.most);
    const auto got = reader->runEvents(row.run, row.most, total);
    EXPECT_EQ(total, ofRun);
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].run, row.run);
        EXPECT_EQ(got[i].scan, want[i].scan);
        EXPECT_EQ(got[i].value, double(row.run - 1));
    }
    if (row.run >= 1 && row.run <= int(kEventBlocks.size())) {
        EXPECT_EQ(ofRun, int64_t(kEventBlocks[std::size_t(row.run) - 1].size()));
    }
}

TEST(LongRunEvents, OfTheRunAloneAsTheWholeTableHasThem)
{
    for (const EventsRow &row : {EventsRow{"first_run", 1, 100}, EventsRow{"long_run", 2, 100},
                                 EventsRow{"long_run_first_three", 2, 3}, EventsRow{"last_run", 3, 100},
                                 EventsRow{"no_such_run", 4, 100}}) {
        SCOPED_TRACE(row.name);
        expectEvents(row);
    }
}

} // namespace
} // namespace adcard::testing
