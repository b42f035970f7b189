// Every query against a brute force over the raw scans, on crafted runs: the
// pyramid may only decide where to look, never change an answer.
#include "query/query.h"
#include "fft/fftw_transform.h"
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

// Crossings by definition, in exact arithmetic on the panel's calibration
// or its inverse (value = ±(code - 2048) * 10 / 4095): "above L" fires where
// value > L after value <= L - h; "below L" where value < L after value >=
// L + h; both start armed; either reports both.
std::vector<int64_t> bruteCrossings(const std::vector<Scan> &s, const LevelQuery &q, bool inverted)
{
    const double sign = inverted ? -1 : 1;
    auto tenths = [&](int16_t code) { return sign * double(code - 2048) * 10; }; // value * 4095, exact
    const double level = q.level * 4095, h = q.hysteresis * 4095;
    bool aboveActive = false, belowActive = false;
    std::vector<int64_t> out;
    for (const Scan &x : s) {
        const double v = tenths(x.code);
        bool fired = false;
        if (q.edge != Edge::Falling) {
            fired = !aboveActive && v > level;
            aboveActive = aboveActive ? v > level - h : v > level;
        }
        if (q.edge != Edge::Rising) {
            fired = fired || (!belowActive && v < level);
            belowActive = belowActive ? v < level + h : v < level;
        }
        if (fired)
            out.push_back(x.scan);
    }
    return out;
}

// Crests by definition: on each side, a fall of `fall` codes before a scan
// as high (left) or higher (right), within the range.
std::vector<Scan> bruteCrests(const std::vector<Scan> &s, bool highest, int fall)
{
    const int sign = highest ? 1 : -1;
    auto key = [&](std::size_t i) { return sign * s[i].code; };
    std::vector<Scan> out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        bool left = false, right = false;
        for (std::size_t j = i; j-- > 0 && key(j) < key(i) && !left;)
            left = key(j) <= key(i) - fall;
        for (std::size_t j = i + 1; left && j < s.size() && key(j) <= key(i) && !right; ++j)
            right = key(j) <= key(i) - fall;
        if (left && right)
            out.push_back(s[i]);
    }
    return out;
}

std::vector<int64_t> brutePeaks(std::vector<Scan> crests, const PeakQuery &q, bool inverted)
{
    std::stable_sort(crests.begin(), crests.end(), [&](const Scan &a, const Scan &b) {
        return q.highest != inverted ? a.code > b.code : a.code < b.code;
    });
    std::vector<int64_t> out;
    for (const Scan &x : crests) {
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
// steps that change exactly at every 512th scan (entry edges), through codes
// that are exactly -2, 0, 2 and 4 V and their neighbours.
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
    default: {
        static constexpr int16_t kSteps[] = {1500, 2500, 1229, 2867, 2048, 3686, 2048, 1228, 2868,
                                             2867, 3687, 3686, 1230, 2866, 2048, 1229};
        return kSteps[(k / 512) % std::size(kSteps)];
    }
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
    bool inverted = false; // a negative scale: the highest code is the lowest value
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
    const Calibration inverse{2048, -10.0 / 4095};
    testing::writeCrafted(path, r.scansPerBlock, r.blocks ? r.blocks : 200000 / r.scansPerBlock, r.holes, crafted, {},
                          {}, r.inverted ? inverse : kPanelCalibration);
    std::string error;
    std::unique_ptr<RecordingReader> reader(openRecording(path.c_str(), &error));
    ASSERT_TRUE(reader) << error;
    auto run = reader->openRun(1, error);
    ASSERT_TRUE(run) << error;
    ASSERT_DOUBLE_EQ(run->info().calibration.scale, (r.inverted ? -10.0 : 10.0) / 4095); // the brute force's
    const auto raw = rawScans(*run, r.channel, r.first, r.end);

    const LevelQuery lq{r.channel, r.volts, r.edge, r.hysteresis, r.first, r.end, 1 << 20};
    const LevelResult lr = findCrossings(*run, lq);
    std::vector<int64_t> found;
    for (const Crossing &c : lr.crossings)
        found.push_back(c.scan);
    EXPECT_EQ(found, bruteCrossings(raw, lq, r.inverted));
    EXPECT_EQ(lr.total, int64_t(found.size()));
    // The same answer, from one over a run that was shorter and only the
    // scans it gained: split at a third, just past a half (an interval's
    // inside or a hole where the rows put them), and at a crossing's scan
    // and the one after it.
    std::vector<int64_t> splits = {lr.first + (lr.end - lr.first) / 3, lr.first + (lr.end - lr.first) / 2 + 1};
    if (!found.empty())
        splits.insert(splits.end(), {found[found.size() / 2], found[found.size() / 2] + 1});
    for (const int64_t split : splits) {
        LevelQuery shorter = lq;
        shorter.end = split;
        const LevelResult resumed = findCrossingsSince(*run, lq, findCrossings(*run, shorter));
        std::vector<int64_t> again;
        for (const Crossing &c : resumed.crossings)
            again.push_back(c.scan);
        EXPECT_EQ(again, found) << "split at " << shorter.end;
        EXPECT_EQ(resumed.total, lr.total) << "split at " << shorter.end;
        EXPECT_EQ(resumed.totalIntervals, lr.totalIntervals) << "split at " << shorter.end;
        ASSERT_EQ(resumed.intervals.size(), lr.intervals.size()) << "split at " << shorter.end;
        for (std::size_t k = 0; k < lr.intervals.size(); ++k) {
            const Interval &a = resumed.intervals[k], &b = lr.intervals[k];
            EXPECT_TRUE(a.start == b.start && a.end == b.end && a.extreme == b.extreme && a.open == b.open)
                << "interval " << b.start << ".." << b.end << " split at " << shorter.end;
        }
    }
    // Each extreme is the true one, in value. The raw scans come in scan
    // order, so each interval's scans are found by bisection: a walk over the
    // whole run per interval made the spiky rows the slowest tests under the
    // sanitizers.
    const auto byScan = [](const Scan &x, int64_t k) { return x.scan < k; };
    for (const Interval &i : lr.intervals) {
        const bool lowestCode = (lq.edge == Edge::Falling) != r.inverted;
        int16_t e = lowestCode ? INT16_MAX : INT16_MIN;
        const auto end = std::lower_bound(raw.begin(), raw.end(), i.end, byScan);
        for (auto x = std::lower_bound(raw.begin(), raw.end(), i.start, byScan); x < end; ++x)
            e = lowestCode ? std::min(e, x->code) : std::max(e, x->code);
        EXPECT_EQ(i.extreme, e) << "interval " << i.start << ".." << i.end;
    }

    // Digital changes over the tick rows, the last tick's (at the run's end)
    // included when the range reaches it.
    const int64_t scans = run->scanCount();
    for (int port : {0, 1}) {
        std::vector<int64_t> want;
        int last = -1;
        for (const RecordedDigital &d : run->digital(0, scans + 1)) {
            const int v = port ? d.port1 : d.port0;
            if (d.scan >= r.first && (d.scan < std::min(r.end, scans) || (d.scan == scans && r.end >= scans))) {
                if (last >= 0 && v != last)
                    want.push_back(d.scan);
                last = v;
            }
        }
        std::vector<int64_t> got;
        for (const DigitalEvent &e : findChanges(*run, {port, -1, false, 0xff, 0, r.first, r.end, 1 << 20}).events)
            got.push_back(e.scan);
        EXPECT_EQ(got, want) << "port " << port;
    }

    // Prominences in volts and the falls in codes they mean on the panel's
    // card: the default (1 % of 4095 codes), none (one code), 0.4 V.
    for (const auto &[prominence, fall] : {std::pair{-1.0, 41}, std::pair{0.0, 1}, std::pair{0.4, 164}})
        for (bool highest : {true, false}) {
            const std::vector<Scan> crests = bruteCrests(raw, highest != r.inverted, fall);
            ASSERT_FALSE(crests.empty()) << "every crafted channel has crests";
            for (int64_t apart : {0, 1, 3000, 40000}) {
                const PeakQuery pq{r.channel, highest, 7, apart, r.first, r.end, prominence};
                std::vector<int64_t> peaks;
                for (const Peak &p : findPeaks(*run, pq).peaks)
                    peaks.push_back(p.scan);
                EXPECT_EQ(peaks, brutePeaks(crests, pq, r.inverted))
                    << (highest ? "highest" : "lowest") << ", apart " << apart << ", prominence " << prominence;
            }
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
                      Row{"steps_rising_exactly_2V", 128, {}, 3, Edge::Rising, 2.0, 0, 0, kWholeRun},
                      Row{"steps_falling_exactly_minus_2V", 100, {9}, 3, Edge::Falling, -2.0, 0, 0, kWholeRun},
                      Row{"steps_rising_4V_rearm_exactly_2V", 128, {}, 3, Edge::Rising, 4.0, 2.0, 0, kWholeRun},
                      Row{"steps_falling_0V_rearm_exactly_2V", 100, {}, 3, Edge::Falling, 0.0, 2.0, 0, kWholeRun},
                      Row{"steps_either_exactly_0V", 128, {}, 3, Edge::Either, 0.0, 0, 0, kWholeRun},
                      Row{"steps_either_2V_hysteresis_2V", 100, {4}, 3, Edge::Either, 2.0, 2.0, 0, kWholeRun},
                      Row{"steps_inverted_rising_exactly_2V", 128, {3}, 3, Edge::Rising, 2.0, 0, 0, kWholeRun, 0,
                          true},
                      Row{"steps_inverted_falling_0V_rearm_2V", 100, {}, 3, Edge::Falling, 0.0, 2.0, 0, kWholeRun, 0,
                          true},
                      Row{"walk_inverted_either_hysteresis", 128, {50}, 2, Edge::Either, -0.1, 0.5, 777, 190000, 0,
                          true},
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
        // Channel 1: a tone on 0 V; channel 2: a small one on 2.32 V (code
        // 2998), whose DC must not be taken for the peak.
        const double tone = std::sin(2 * std::numbers::pi * hz * double(k) / 10000);
        return int16_t(c == 0 ? 2048 + std::lround(1000 * tone) : c == 1 ? 2998 + std::lround(40 * tone) : 2048);
    });
    std::string error;
    std::unique_ptr<RecordingReader> reader(openRecording(path.c_str(), &error));
    ASSERT_TRUE(reader) << error;
    auto run = reader->openRun(1, error);
    ASSERT_TRUE(run) << error;
    const SpectrumResult r = spectrum(*run, {{0, 1}, 0, kWholeRun, makeFftwTransform});
    ASSERT_EQ(r.outcome, Outcome::Complete) << r.error;
    EXPECT_TRUE(r.hole);
    EXPECT_EQ(r.first, 3100);
    EXPECT_EQ(r.scans, kScans);
    ASSERT_EQ(r.channels.size(), 2u);
    const double scale = run->info().calibration.scale;
    for (const auto &[c, amplitude, dc] : {std::tuple{0, 1000, 0.0}, std::tuple{1, 40, 950 * scale}}) {
        EXPECT_NEAR(r.channels[std::size_t(c)].peakHz, hz, 1e-9) << "channel " << c;
        EXPECT_NEAR(r.channels[std::size_t(c)].peak, amplitude * scale, 0.002) << "channel " << c;
        EXPECT_NEAR(r.channels[std::size_t(c)].dc, dc, 1e-4) << "channel " << c;
    }
    std::filesystem::remove(path);
}

} // namespace
} // namespace adcard::query
