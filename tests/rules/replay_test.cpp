// The dry run over a run held in memory, with a block that never came and
// the ticks' digital rows: the brute force's events over the same scans and
// rows, in scan order, and a read that fails says so.
#include "rules/replay.h"
#include "tests/rules/brute.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>

namespace adcard::rules {
namespace {

constexpr int kChannels = 4;
constexpr int kBlockScans = 100;

class MemoryRun final : public RecordedRun {
public:
    MemoryRun(std::map<int64_t, std::vector<int16_t>> blocks, std::vector<RecordedDigital> rows, ChannelUnits units)
        : blocks_(std::move(blocks)), rows_(std::move(rows))
    {
        info_.channels = kChannels;
        info_.scansPerBlock = kBlockScans;
        info_.scansPerSecond = 10000;
        info_.blocks = static_cast<int64_t>(blocks_.size());
        info_.scans = (blocks_.rbegin()->first + 1) * kBlockScans;
        info_.units = std::move(units);
    }
    int64_t failFrom = -1; // blocks from this index on cannot be read

    const RecordedRunInfo &info() const override { return info_; }
    int channels() const override { return kChannels; }
    int64_t scanCount() const override { return info_.scans; }
    double scansPerSecond() const override { return info_.scansPerSecond; }
    void summarise(double, double, int, std::span<ColumnSummary>) const override {}
    std::vector<RecordedMarker> markers() const override { return {}; }
    std::vector<RecordedDigital> digital(int64_t first, int64_t last) const override
    {
        std::vector<RecordedDigital> out;
        for (const RecordedDigital &d : rows_)
            if (d.scan >= first && d.scan < last)
                out.push_back(d);
        return out;
    }
    std::vector<RangeStats> stats(int64_t, int64_t) const override { return {}; }
    double summaryProgress() const override { return 1.0; }
    bool forEachScan(int64_t, int64_t, const std::function<bool(int64_t, std::span<const int16_t>)> &) const override
    {
        return false; // the dry run reads stretches
    }
    bool readScans(int64_t first, int64_t end,
                   const std::function<bool(int64_t, const int16_t *, int64_t)> &fn) const override
    {
        for (const auto &[index, codes] : blocks_) {
            const int64_t from = std::max(first, index * kBlockScans), to = std::min(end, (index + 1) * kBlockScans);
            if (from >= to)
                continue;
            if (failFrom >= 0 && index >= failFrom)
                return false;
            if (!fn(from, codes.data() + (from - index * kBlockScans) * kChannels, to - from))
                return false;
        }
        return true;
    }
    std::string readError() const override { return "the disk said no"; }

private:
    RecordedRunInfo info_;
    std::map<int64_t, std::vector<int16_t>> blocks_;
    std::vector<RecordedDigital> rows_;
};

struct Fixture {
    std::map<int64_t, std::vector<int16_t>> blocks;
    std::vector<brute::Scan> scans;
    std::vector<RecordedDigital> rows;
    std::vector<brute::Tick> ticks;
};

// 60 blocks of slow sines, block 23 missing; a tick after every second
// block, port 1 counting ticks.
Fixture makeFixture()
{
    Fixture f;
    for (int64_t b = 0; b < 60; ++b) {
        if (b == 23)
            continue;
        std::vector<int16_t> &codes = f.blocks[b];
        for (int64_t k = b * kBlockScans; k < (b + 1) * kBlockScans; ++k) {
            brute::Scan s{k, {}};
            for (int c = 0; c < kChannels; ++c)
                s.codes.push_back(static_cast<int16_t>(2048 + std::lround(2000 * std::sin(double(k) / (150 + 40 * c)))));
            codes.insert(codes.end(), s.codes.begin(), s.codes.end());
            f.scans.push_back(std::move(s));
        }
        if (b % 2 == 1) {
            const auto port1 = static_cast<int16_t>(f.rows.size());
            f.rows.push_back({(b + 1) * kBlockScans, 0, 0x40, port1});
            f.ticks.push_back({(b + 1) * kBlockScans, {0x40, port1}});
        }
    }
    return f;
}

Rule named(const char *name, std::variant<LevelWhen, InputWhen> when)
{
    Rule r;
    r.name = name;
    r.when = when;
    return r;
}

RuleSet rulesOf(std::vector<Rule> rules)
{
    return RuleSet{std::move(rules), ""};
}

TEST(Replay, GivesTheBruteForceEventsOverTheRunsScansAndRows)
{
    const Fixture f = makeFixture();
    ChannelUnits units(kChannels);
    units[1] = ChannelUnit{"p", "bar", 2.5, -1.0};
    const Rule a = named("a", LevelWhen{1, {LevelKind::Above, 3.0, 0, 0.5}, 12});
    const Rule b = named("b", LevelWhen{2, {LevelKind::Below, -4.0}});
    const Rule c = named("c", InputWhen{1, 2, InputEdge::Rising});
    const ReplayResult r = replay(MemoryRun(f.blocks, f.rows, units), rulesOf({a, b, c}));
    EXPECT_TRUE(r.error.empty()) << r.error;

    std::vector<Event> want = brute::levelEvents(0, std::get<LevelWhen>(a.when), kPanelCalibration, 10000, f.scans);
    for (const Event &e : brute::levelEvents(1, std::get<LevelWhen>(b.when), inUnit(kPanelCalibration, units[1]), 10000, f.scans))
        want.push_back(e);
    for (const Event &e : brute::inputEvents(2, std::get<InputWhen>(c.when), f.ticks))
        want.push_back(e);
    // A tick's row is read before the blocks that start at its scan.
    std::stable_sort(want.begin(), want.end(), [](const Event &x, const Event &y) {
        return x.scan != y.scan ? x.scan < y.scan : (x.rule == 2) > (y.rule == 2);
    });
    ASSERT_GE(want.size(), 12U);
    ASSERT_EQ(r.events.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE("event " + std::to_string(i));
        EXPECT_EQ(r.events[i].rule, want[i].rule);
        EXPECT_EQ(r.events[i].scan, want[i].scan);
        EXPECT_EQ(r.events[i].fired, want[i].fired);
        EXPECT_NEAR(r.events[i].value, want[i].value, 1e-9);
    }
}

TEST(Replay, AReadThatFailsStopsTheEventsThereAndSaysWhy)
{
    const Fixture f = makeFixture();
    MemoryRun run(f.blocks, f.rows, {});
    run.failFrom = 30;
    const Rule a = named("a", LevelWhen{1, {LevelKind::Above, 3.0}});
    const ReplayResult r = replay(run, rulesOf({a}));
    EXPECT_EQ(r.error, "the disk said no");
    ASSERT_FALSE(r.events.empty());
    EXPECT_LT(r.events.back().scan, 30 * kBlockScans);
}

} // namespace
} // namespace adcard::rules
