// The Engine against the brute force of brute.h over generated signals: each
// kind of level, hysteresis, duration (across blocks and broken by dips),
// windows, a channel in another unit, and digital edges and patterns; the
// same scans cut into blocks of several sizes give the same events. Then the
// outputs' ownership, hold, pulse and latch, and the alarms.
#include "rules/engine.h"
#include "tests/rules/brute.h"
#include "tests/support/row_name.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace adcard::rules {
namespace {

using ::PrintTo;

constexpr int kChannelCount = 4;
const double kPi = std::acos(-1.0);

Rule levelRule(const char *name, int channel, LevelCondition c, double forMs = 0)
{
    Rule r;
    r.name = name;
    r.when = LevelWhen{channel, c, forMs};
    return r;
}

Rule inputRule(const char *name, InputWhen w)
{
    Rule r;
    r.name = name;
    r.when = w;
    return r;
}

// Four channels: sines of `period` scans at different phases, the fourth a
// random walk, with `noise` codes of jitter; clamped to the card's codes.
std::vector<brute::Scan> makeScans(int count, unsigned seed, int period, int noise)
{
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> jitter(-noise, noise), stepOf(-60, 60);
    std::vector<brute::Scan> scans;
    int walk = 2048;
    for (int k = 0; k < count; ++k) {
        brute::Scan s;
        s.scan = k;
        for (int c = 0; c < 3; ++c) {
            const double x = 2048 + 2000 * std::sin(2 * kPi * (k + c * period / 4.0) / period);
            s.codes.push_back(static_cast<int16_t>(std::clamp(int(std::lround(x)) + jitter(gen), 0, 4095)));
        }
        walk = std::clamp(walk + stepOf(gen), 0, 4095);
        s.codes.push_back(static_cast<int16_t>(walk));
        scans.push_back(std::move(s));
    }
    return scans;
}

// Feeds `scans` (consecutive from scan 0) in blocks of `blockScans`.
std::vector<Event> runEngine(Engine &e, const std::vector<brute::Scan> &scans, int blockScans)
{
    std::vector<Event> out;
    for (std::size_t first = 0; first < scans.size(); first += std::size_t(blockScans)) {
        std::vector<int16_t> block;
        const std::size_t end = std::min(scans.size(), first + std::size_t(blockScans));
        for (std::size_t k = first; k < end; ++k)
            block.insert(block.end(), scans[k].codes.begin(), scans[k].codes.end());
        e.block(block, scans[first].scan);
        for (const Event &ev : e.takeEvents())
            out.push_back(ev);
    }
    return out;
}

void expectSameEvents(const std::vector<Event> &got, const std::vector<Event> &want)
{
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE("event " + std::to_string(i) + " at scan " + std::to_string(want[i].scan));
        EXPECT_EQ(got[i].rule, want[i].rule);
        EXPECT_EQ(got[i].scan, want[i].scan);
        EXPECT_EQ(got[i].fired, want[i].fired);
        EXPECT_NEAR(got[i].value, want[i].value, 1e-9);
    }
}

struct LevelRow {
    const char *name;
    LevelWhen when;
    ChannelUnit unit; // of the rule's channel
    int period, noise;
    double scansPerSecond;
    int blockScans;
};

const LevelRow kLevelRows[] = {
    {"above_exactly_a_code_no_hysteresis", {1, {LevelKind::Above, 4.0}}, {}, 700, 3, 10000, 250},
    {"above_with_hysteresis", {2, {LevelKind::Above, 4.0, 0, 0.2}}, {}, 700, 30, 10000, 250},
    {"above_0V_code_2048_jitter_of_one", {1, {LevelKind::Above, 0.0}}, {}, 5000, 1, 10000, 250},
    {"below_for_ms_spanning_blocks", {3, {LevelKind::Below, -4.0, 0, 0.1}, 30}, {}, 3000, 5, 10000, 128},
    {"for_ms_restarted_by_dips", {1, {LevelKind::Above, 3.0}, 2}, {}, 900, 400, 10000, 100},
    {"outside_window_hysteresis", {2, {LevelKind::Outside, -1.0, 2.0, 0.1}}, {}, 800, 20, 10000, 250},
    {"inside_window_for_ms", {3, {LevelKind::Inside, -1.0, 2.0, 0.1}, 5}, {}, 2400, 20, 10000, 250},
    {"random_walk_below", {4, {LevelKind::Below, -1.5, 0, 0.3}}, {}, 700, 0, 10000, 1000},
    {"bar_channel_above_exact_value", {1, {LevelKind::Above, 9.0, 0, 1.0}}, {"p", "bar", 2.5, -1.0}, 700, 10, 10000, 250},
    {"bar_channel_inside_for_ms_slow_rate", {2, {LevelKind::Inside, 2.0, 6.0, 0.5}, 40}, {"p", "bar", 2.5, -1.0}, 1500, 10, 1000, 100},
};

class LevelRules : public ::testing::TestWithParam<LevelRow> {};

TEST_P(LevelRules, GiveTheBruteForceEventsWhateverTheBlocks)
{
    const LevelRow &row = GetParam();
    ChannelUnits units(kChannelCount);
    units[std::size_t(row.when.channel - 1)] = row.unit;
    const std::vector<brute::Scan> scans = makeScans(12000, 7, row.period, row.noise);
    const Calibration cal = inUnit(kPanelCalibration, row.unit);
    const std::vector<Event> want = brute::levelEvents(0, row.when, cal, row.scansPerSecond, scans);
    // A row whose signal never fires and clears tests nothing.
    ASSERT_GE(want.size(), 4U);
    for (const int blockScans : {row.blockScans, 1, 37, 12000}) {
        SCOPED_TRACE("blocks of " + std::to_string(blockScans) + " scans");
        Rule rule = levelRule(row.name, row.when.channel, row.when.level, row.when.forMs);
        Engine e(RuleSet{{rule}, ""}, units, kPanelCalibration, kChannelCount, blockScans, row.scansPerSecond);
        expectSameEvents(runEngine(e, scans, blockScans), want);
    }
}

INSTANTIATE_TEST_SUITE_P(, LevelRules, ::testing::ValuesIn(kLevelRows), kRowName);

TEST(LevelRulesTogether, ComeInScanOrder)
{
    ChannelUnits units(kChannelCount);
    std::vector<Rule> rules;
    std::vector<Event> want;
    const std::vector<brute::Scan> scans = makeScans(6000, 11, 700, 20);
    for (const LevelRow &row : kLevelRows) {
        if (row.unit != ChannelUnit{} || row.scansPerSecond != 10000)
            continue;
        const int r = static_cast<int>(rules.size());
        rules.push_back(levelRule(row.name, row.when.channel, row.when.level, row.when.forMs));
        for (const Event &ev : brute::levelEvents(r, row.when, kPanelCalibration, 10000, scans))
            want.push_back(ev);
    }
    std::stable_sort(want.begin(), want.end(), [](const Event &a, const Event &b) {
        return a.scan != b.scan ? a.scan < b.scan : a.rule < b.rule;
    });
    Engine e(RuleSet{rules, ""}, units, kPanelCalibration, kChannelCount, 250, 10000);
    expectSameEvents(runEngine(e, scans, 250), want);
}

TEST(LevelDuration, AMissingBlockBreaksIt)
{
    // Above 0 V for 3 scans: two scans before a hole and two after it make
    // four in a row by count, but not without a break.
    const LevelWhen w{1, {LevelKind::Above, 0.0}, 0.3};
    Engine e(RuleSet{{levelRule("r", 1, w.level, w.forMs)}, ""}, {}, kPanelCalibration, 1, 2, 10000);
    const std::vector<int16_t> high = {3000, 3000};
    e.block(high, 0);
    e.block(high, 4);
    EXPECT_TRUE(e.takeEvents().empty());
    e.block(high, 6);
    const auto events = e.takeEvents();
    ASSERT_EQ(events.size(), 1U);
    EXPECT_EQ(events[0].scan, 6);
}

struct InputRow {
    const char *name;
    InputWhen when;
    double flip; // chance that a bit changes from one tick to the next
};

const InputRow kInputRows[] = {
    {"rising_port1_bit3", {1, 3, InputEdge::Rising}, 0.3},
    {"falling_port0_bit0", {0, 0, InputEdge::Falling}, 0.3},
    {"either_port0_bit7", {0, 7, InputEdge::Either}, 0.2},
    {"pattern_under_mask", {0, 0, InputEdge::Rising, true, 0x05, 0x0f}, 0.15},
    {"two_bits_of_port1", {1, 0, InputEdge::Rising, true, 0x08, 0x0c}, 0.1},
};

class InputRules : public ::testing::TestWithParam<InputRow> {};

TEST_P(InputRules, GiveTheBruteForceEvents)
{
    const InputRow &row = GetParam();
    std::mt19937 gen(3);
    std::bernoulli_distribution flip(row.flip);
    std::vector<brute::Tick> ticks;
    // At the first reading bit 3 of port 1 and bit 7 of port 0 are set, bit 0 of port 0 clear.
    int16_t ports[2] = {0x8e, 0x08};
    for (int t = 0; t < 400; ++t) {
        for (int16_t &p : ports)
            for (int b = 0; b < 8; ++b)
                if (flip(gen))
                    p = static_cast<int16_t>(p ^ (1 << b));
        ticks.push_back({1000 * (t + 1), {ports[0], ports[1]}});
    }
    const std::vector<Event> want = brute::inputEvents(0, row.when, ticks);
    ASSERT_GE(want.size(), 4U);
    Engine e(RuleSet{{inputRule(row.name, row.when)}, ""}, {}, kPanelCalibration, kChannelCount, 1000, 10000);
    std::vector<Event> got;
    for (const brute::Tick &t : ticks) {
        e.inputs(t.port[0], t.port[1], t.scan);
        for (const Event &ev : e.takeEvents())
            got.push_back(ev);
    }
    expectSameEvents(got, want);
}

INSTANTIATE_TEST_SUITE_P(, InputRules, ::testing::ValuesIn(kInputRows), kRowName);

// Channel 1 above 4 V (hold, group 0 bit 2); port 0 bit 0 rising (latch,
// group 1 bit 5); channel 1 below -4 V (pulse of 250 ms: three ticks, group
// 0 bit 7); port 0 bit 1 rising (pulse of 100 ms, group 0 bit 0), with an alarm.
class Outputs : public ::testing::Test {
protected:
    Outputs()
    {
        Rule hold = levelRule("hold", 1, {LevelKind::Above, 4.0});
        hold.output = OutputAction{0, 2, OutputMode::Hold};
        Rule latch = inputRule("latch", {0, 0, InputEdge::Rising});
        latch.output = OutputAction{1, 5, OutputMode::Latch};
        Rule pulse = levelRule("pulse", 1, {LevelKind::Below, -4.0});
        pulse.output = OutputAction{0, 7, OutputMode::Pulse, 250};
        Rule inPulse = inputRule("in-pulse", {0, 1, InputEdge::Rising});
        inPulse.output = OutputAction{0, 0, OutputMode::Pulse, 100};
        inPulse.alarm = true;
        engine_ = std::make_unique<Engine>(RuleSet{{hold, latch, pulse, inPulse}, ""}, ChannelUnits{}, kPanelCalibration,
                                           1, 1, 10000);
    }
    void volts(double v, int64_t scan)
    {
        const int16_t code = static_cast<int16_t>(std::lround(kPanelCalibration.codes(v)));
        engine_->block(std::span<const int16_t>(&code, 1), scan);
    }
    std::unique_ptr<Engine> engine_;
};

TEST_F(Outputs, EachRuleOwnsItsBitAndHoldFollowsItsRule)
{
    EXPECT_EQ(engine_->ownedMask(0), 0x85);
    EXPECT_EQ(engine_->ownedMask(1), 0x20);
    EXPECT_EQ(engine_->ruleBits(0), 0);
    volts(4.5, 0);
    EXPECT_EQ(engine_->ruleBits(0), 0x04);
    engine_->tickEnded();
    volts(4.2, 1);
    EXPECT_EQ(engine_->ruleBits(0), 0x04);
    volts(1.0, 2);
    EXPECT_EQ(engine_->ruleBits(0), 0);
    EXPECT_EQ(engine_->ruleBits(1), 0);
}

TEST_F(Outputs, APulseLastsItsWholeTicksCountedFromTheReadingItShowsIn)
{
    volts(-4.5, 0); // a level's output is written before the tick's reading
    volts(0.0, 1);  // the rule clears; the pulse goes on
    for (int tick = 1; tick <= 3; ++tick) {
        EXPECT_EQ(engine_->ruleBits(0) & 0x80, 0x80) << "tick " << tick;
        engine_->tickEnded();
    }
    EXPECT_EQ(engine_->ruleBits(0) & 0x80, 0);
    // An input's output is written after the tick's reading: one more tick.
    engine_->inputs(0x02, 0, 100);
    for (int tick = 1; tick <= 2; ++tick) {
        EXPECT_EQ(engine_->ruleBits(0) & 0x01, 0x01) << "tick " << tick;
        engine_->tickEnded();
    }
    EXPECT_EQ(engine_->ruleBits(0) & 0x01, 0);
}

TEST_F(Outputs, ALatchHoldsUntilAcknowledgedAndNotWhileItsConditionHolds)
{
    engine_->inputs(0x01, 0, 1000);
    engine_->inputs(0x00, 0, 2000); // cleared: the latch stays
    EXPECT_EQ(engine_->ruleBits(1), 0x20);
    engine_->acknowledge();
    EXPECT_EQ(engine_->ruleBits(1), 0);
    engine_->inputs(0x01, 0, 3000);
    engine_->acknowledge(); // still active: stays until the rule clears
    EXPECT_EQ(engine_->ruleBits(1), 0x20);
    engine_->inputs(0x01, 0, 4000);
    EXPECT_EQ(engine_->ruleBits(1), 0x20);
    engine_->inputs(0x00, 0, 5000);
    EXPECT_EQ(engine_->ruleBits(1), 0);
    engine_->inputs(0x01, 0, 6000); // fires again: latched again
    EXPECT_EQ(engine_->ruleBits(1), 0x20);
}

TEST_F(Outputs, AnAlarmWaitsForTheAcknowledgementWithItsFirstFiring)
{
    engine_->inputs(0x02, 0, 1000);
    engine_->inputs(0x00, 0, 2000);
    engine_->inputs(0x02, 0, 3000);
    auto alarms = engine_->pendingAlarms();
    ASSERT_EQ(alarms.size(), 1U);
    EXPECT_EQ(alarms[0].rule, 3);
    EXPECT_EQ(alarms[0].scan, 1000);
    EXPECT_EQ(alarms[0].value, 2);
    engine_->acknowledge();
    EXPECT_TRUE(engine_->pendingAlarms().empty());
    engine_->inputs(0x00, 0, 4000);
    engine_->inputs(0x02, 0, 5000);
    alarms = engine_->pendingAlarms();
    ASSERT_EQ(alarms.size(), 1U);
    EXPECT_EQ(alarms[0].scan, 5000);
}

} // namespace
} // namespace adcard::rules
