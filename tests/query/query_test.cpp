// Every query against a brute force over the raw scans, on crafted runs: the
// pyramid may only decide where to look, never change an answer.
#include "query/query.h"
#include "query/spectrum.h"
#include "query_files.h"
#include "recording/recording_reader_impl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <numbers>

namespace adcard::query {
namespace {

struct Scan {
    int64_t scan;
    int16_t code;
};

std::vector<Scan> rawScans(const RecordedRun &run, int c, int64_t first, int64_t end)
{
    std::vector<Scan> out;
    run.forEachScan(first, end, [&](int64_t k, std::span<const int16_t> codes) {
        out.push_back({k, codes[std::size_t(c)]});
        return true;
    });
    return out;
}

// Crossings by definition: armed when outside the band, counted on leaving it.
std::vector<int64_t> bruteCrossings(const std::vector<Scan> &s, const LevelQuery &q, const Calibration &cal)
{
    const double v = cal.codes(q.level), h = q.hysteresis / cal.scale;
    const double rise = q.edge == Edge::Falling ? v + h : q.edge == Edge::Either ? v + h / 2 : v;
    const double fall = q.edge == Edge::Rising ? v - h : q.edge == Edge::Either ? v - h / 2 : v;
    int state = q.edge == Edge::Rising ? 0 : q.edge == Edge::Falling ? 1 : -1;
    std::vector<int64_t> out;
    for (const Scan &x : s) {
        const int next = x.code > rise ? 1 : x.code < fall ? 0 : state;
        if (next != state && state != -1 && (q.edge == Edge::Either || (next == 1) == (q.edge == Edge::Rising)))
            out.push_back(x.scan);
        state = next;
    }
    return out;
}

std::vector<int64_t> brutePeaks(std::vector<Scan> s, const PeakQuery &q)
{
    std::stable_sort(s.begin(), s.end(), [&](const Scan &a, const Scan &b) {
        return q.highest ? a.code > b.code : a.code < b.code;
    });
    std::vector<int64_t> out;
    for (const Scan &x : s) {
        if (out.size() == q.count)
            break;
        if (std::none_of(out.begin(), out.end(), [&](int64_t p) { return std::abs(p - x.scan) < q.apart; }))
            out.push_back(x.scan);
    }
    return out;
}

// Channel 0: a square wave of 2300 scans' period, 1000 codes up, that sits
// exactly on 2048 for its first 700 scans; channel 1: 2000 with spikes of
// 3000 every 3000 scans (equal peaks); channel 2: a random walk; channel 3:
// steps that change exactly at every 512th scan (entry edges).
int16_t crafted(int64_t k, int c)
{
    switch (c) {
    case 0: return k < 700 ? 2048 : (k / 1150) % 2 ? 3048 : 1048;
    case 1: return k % 3000 == 1500 ? 3000 : 2000;
    case 2: {
        uint32_t x = uint32_t(k * 2654435761u);
        x ^= x >> 13;
        return int16_t(2048 + int(k % 5000) / 4 - 600 + int(x % 64));
    }
    default: return (k / 512) % 2 ? 2500 : 1500;
    }
}

struct Row {
    const char *name;
    int scansPerBlock;
    std::vector<int64_t> holes;
    int channel;
    Edge edge;
    double volts, hysteresis;
    int64_t first, end;
    int64_t blocks = 0; // 200,000 scans' worth when 0
};

// Holes of every size a level can lose whole spans to, over many chunks of
// the rows and of the levels: one block in 97, and stretches of 50 and 400.
std::vector<int64_t> manyHoles()
{
    std::vector<int64_t> h;
    for (int64_t b = 5; b < 10000; b += 97)
        h.push_back(b);
    for (int64_t b = 3000; b < 3050; ++b)
        h.push_back(b);
    for (int64_t b = 6200; b < 6600; ++b)
        h.push_back(b);
    return h;
}

void PrintTo(const Row &r, std::ostream *os) { *os << r.name; }

class CraftedRuns : public ::testing::TestWithParam<Row> {};

TEST_P(CraftedRuns, CrossingsAndPeaksMatchBruteForce)
{
    const Row &r = GetParam();
    const std::string path = std::string(ADPANEL_TEST_TMP) + "/query_" + r.name + ".h5";
    std::filesystem::create_directories(ADPANEL_TEST_TMP);
    testing::writeCrafted(path, r.scansPerBlock, r.blocks ? r.blocks : 200000 / r.scansPerBlock, r.holes, crafted);
    std::string error;
    std::unique_ptr<RecordingReader> reader(openRecording(path.c_str(), &error));
    ASSERT_TRUE(reader) << error;
    auto run = reader->openRun(1, error);
    ASSERT_TRUE(run) << error;
    const Calibration cal = run->info().calibration;
    const auto raw = rawScans(*run, r.channel, r.first, r.end);

    const LevelQuery lq{r.channel, r.volts, r.edge, r.hysteresis, r.first, r.end, 1 << 20};
    const LevelResult lr = findCrossings(*run, lq);
    std::vector<int64_t> found;
    for (const Crossing &c : lr.crossings)
        found.push_back(c.scan);
    EXPECT_EQ(found, bruteCrossings(raw, lq, cal));
    EXPECT_EQ(lr.total, int64_t(found.size()));
    // Each extreme is the true one. The raw scans come in scan order, so each
    // interval's scans are found by bisection: a walk over the whole run per
    // interval made the spiky rows the slowest tests under the sanitizers.
    const auto byScan = [](const Scan &x, int64_t k) { return x.scan < k; };
    for (const Interval &i : lr.intervals) {
        int16_t e = lq.edge == Edge::Falling ? INT16_MAX : INT16_MIN;
        const auto end = std::lower_bound(raw.begin(), raw.end(), i.end, byScan);
        for (auto x = std::lower_bound(raw.begin(), raw.end(), i.start, byScan); x < end; ++x)
            e = lq.edge == Edge::Falling ? std::min(e, x->code) : std::max(e, x->code);
        EXPECT_EQ(i.extreme, e) << "interval " << i.start << ".." << i.end;
    }

    for (bool highest : {true, false})
        for (int64_t apart : {0, 1, 2999, 3000, 40000}) {
            const PeakQuery pq{r.channel, highest, 7, apart, r.first, r.end};
            std::vector<int64_t> peaks;
            for (const Peak &p : findPeaks(*run, pq).peaks)
                peaks.push_back(p.scan);
            EXPECT_EQ(peaks, brutePeaks(raw, pq)) << (highest ? "highest" : "lowest") << ", apart " << apart;
        }
    std::filesystem::remove(path);
}

INSTANTIATE_TEST_SUITE_P(
    Query, CraftedRuns,
    ::testing::Values(Row{"square_exact_level_rising", 100, {}, 0, Edge::Rising, 0.0, 0, 0, kWholeRun},
                      Row{"square_falling_with_holes", 100, {3, 4, 57, 1999}, 0, Edge::Falling, 0.0, 0, 0, kWholeRun},
                      Row{"square_either_part_range", 128, {10}, 0, Edge::Either, 1.0, 0, 1234, 154321},
                      Row{"equal_spikes", 128, {35}, 1, Edge::Rising, 2.0, 0, 0, kWholeRun},
                      Row{"walk_hysteresis", 100, {7, 8, 9, 1000}, 2, Edge::Rising, 0.2, 0.3, 0, kWholeRun},
                      Row{"walk_either_hysteresis", 128, {}, 2, Edge::Either, -0.1, 0.5, 777, 190000},
                      Row{"steps_at_entry_edges", 128, {2, 100}, 3, Edge::Either, 0.0, 0, 0, kWholeRun},
                      Row{"steps_at_block_edges_unaligned", 100, {0, 1}, 3, Edge::Rising, 0.0, 0.1, 0, kWholeRun},
                      Row{"spikes_among_many_holes", 100, manyHoles(), 1, Edge::Rising, 2.0, 0, 0, kWholeRun, 6000},
                      Row{"square_among_many_holes_part", 100, manyHoles(), 0, Edge::Either, 0.0, 0.5, 123456, 587654,
                          6000}),
    [](const ::testing::TestParamInfo<Row> &i) { return std::string(i.param.name); });

} // namespace
} // namespace adcard::query

namespace adcard::query {
namespace {

// A sine on a bin of the stretch left after a hole: its frequency and
// amplitude come back, from the longest stretch, said to hold no hole.
TEST(Spectrum, LongestStretchAndASineOnABin)
{
    const std::string path = std::string(ADPANEL_TEST_TMP) + "/query_spectrum.h5";
    std::filesystem::create_directories(ADPANEL_TEST_TMP);
    constexpr int64_t kScans = 16875; // blocks 31 to 199 hold 16900; 16875 = 3^3 5^4
    const double hz = 800.0 * 10000 / kScans;
    testing::writeCrafted(path, 100, 200, {30}, [&](int64_t k, int c) {
        return int16_t(2048 + (c == 0 ? std::lround(1000 * std::sin(2 * std::numbers::pi * hz * double(k) / 10000)) : 0));
    });
    std::string error;
    std::unique_ptr<RecordingReader> reader(openRecording(path.c_str(), &error));
    ASSERT_TRUE(reader) << error;
    auto run = reader->openRun(1, error);
    ASSERT_TRUE(run) << error;
    const SpectrumResult r = spectrum(*run, {{0}, 0, kWholeRun});
    ASSERT_EQ(r.outcome, Outcome::Complete) << r.error;
    EXPECT_TRUE(r.hole);
    EXPECT_EQ(r.first, 3100);
    EXPECT_EQ(r.scans, kScans);
    ASSERT_EQ(r.channels.size(), 1u);
    EXPECT_NEAR(r.channels[0].peakHz, hz, 1e-9);
    EXPECT_NEAR(r.channels[0].peak, 1000 * run->info().calibration.scale, 0.002);
    std::filesystem::remove(path);
}

} // namespace
} // namespace adcard::query
