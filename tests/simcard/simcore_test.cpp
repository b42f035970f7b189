// The simulated card's pure parts: error texts, settings, signals, queue, pacing.
#include "block_generator.h"
#include "block_queue.h"
#include "config.h"
#include "error_codes.h"
#include "pacing.h"

#include "row_name.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

using namespace adcard::sim;
using namespace std::chrono_literals;

TEST(SimErrors, EveryCodeIsPositiveDistinctAndHasAText)
{
    std::set<int32_t> seen;
    for (SimError e : kSimErrors) {
        EXPECT_GT(code(e), 0);
        EXPECT_TRUE(seen.insert(code(e)).second) << code(e);
        EXPECT_FALSE(simErrorText(e).empty()) << code(e);
    }
}

struct ConfigRow {
    const char *name;
    std::map<std::string, std::string> env;
    void (*expect)(SimConfig &); // applied to a default config
    std::size_t warnings;
};

class ConfigParsing : public testing::TestWithParam<ConfigRow> {};

TEST_P(ConfigParsing, GivesValueOrDefaultWithOneWarningPerBadValue)
{
    const auto &row = GetParam();
    std::vector<std::string> warnings;
    const SimConfig got = parseSimConfig(
        [&](const char *n) { auto it = row.env.find(n); return it == row.env.end() ? nullptr : it->second.c_str(); },
        warnings);
    SimConfig want;
    row.expect(want);
    EXPECT_EQ(got.failInitial, want.failInitial);
    EXPECT_EQ(got.failStartIntr, want.failStartIntr);
    EXPECT_EQ(got.failADResultEvery, want.failADResultEvery);
    EXPECT_EQ(got.speed, want.speed);
    EXPECT_EQ(got.seed, want.seed);
    EXPECT_EQ(got.noise, want.noise);
    EXPECT_EQ(got.queueBlocks, want.queueBlocks);
    EXPECT_EQ(got.sequence, want.sequence);
    EXPECT_EQ(got.statsPath, want.statsPath);
    ASSERT_EQ(warnings.size(), row.warnings);
    for (const auto &w : warnings) // each warning names its variable
        EXPECT_TRUE(std::any_of(row.env.begin(), row.env.end(), [&](auto &kv) { return w.find(kv.first) != std::string::npos; })) << w;
}

static void same(SimConfig &) {}

INSTANTIATE_TEST_SUITE_P(Rows, ConfigParsing, testing::ValuesIn(std::vector<ConfigRow>{
    {"nothing_set", {}, same, 0},
    {"empty_is_unset", {{"ADCARD_SIM_QUEUE", ""}}, same, 0},
    {"fail_initial_negative", {{"ADCARD_SIM_FAIL_INITIAL", "-3"}}, [](SimConfig &c) { c.failInitial = -3; }, 0},
    {"fail_initial_trailing_text", {{"ADCARD_SIM_FAIL_INITIAL", "12x"}}, same, 1},
    {"fail_initial_beyond_32_bits", {{"ADCARD_SIM_FAIL_INITIAL", "2147483648"}}, same, 1},
    {"fail_startintr", {{"ADCARD_SIM_FAIL_STARTINTR", "77"}}, [](SimConfig &c) { c.failStartIntr = 77; }, 0},
    {"adresult_every", {{"ADCARD_SIM_FAIL_ADRESULT_EVERY", "3"}}, [](SimConfig &c) { c.failADResultEvery = 3; }, 0},
    {"adresult_every_zero", {{"ADCARD_SIM_FAIL_ADRESULT_EVERY", "0"}}, same, 1},
    {"adresult_every_negative", {{"ADCARD_SIM_FAIL_ADRESULT_EVERY", "-1"}}, same, 1},
    {"speed_fraction", {{"ADCARD_SIM_SPEED", "0.5"}}, [](SimConfig &c) { c.speed = 0.5; }, 0},
    {"speed_max", {{"ADCARD_SIM_SPEED", "1000000"}}, [](SimConfig &c) { c.speed = 1e6; }, 0},
    {"speed_zero", {{"ADCARD_SIM_SPEED", "0"}}, same, 1},
    {"speed_negative", {{"ADCARD_SIM_SPEED", "-2"}}, same, 1},
    {"speed_nan", {{"ADCARD_SIM_SPEED", "nan"}}, same, 1},
    {"speed_inf", {{"ADCARD_SIM_SPEED", "inf"}}, same, 1},
    {"speed_above_max", {{"ADCARD_SIM_SPEED", "1e7"}}, same, 1},
    {"seed_max", {{"ADCARD_SIM_SEED", "18446744073709551615"}}, [](SimConfig &c) { c.seed = UINT64_MAX; }, 0},
    {"seed_negative", {{"ADCARD_SIM_SEED", "-1"}}, same, 1},
    {"seed_leading_blank", {{"ADCARD_SIM_SEED", " 5"}}, same, 1},
    {"noise_zero", {{"ADCARD_SIM_NOISE", "0"}}, [](SimConfig &c) { c.noise = 0; }, 0},
    {"noise_above_max", {{"ADCARD_SIM_NOISE", "2048"}}, same, 1},
    {"queue_one", {{"ADCARD_SIM_QUEUE", "1"}}, [](SimConfig &c) { c.queueBlocks = 1; }, 0},
    {"queue_max", {{"ADCARD_SIM_QUEUE", "32767"}}, [](SimConfig &c) { c.queueBlocks = 32767; }, 0},
    {"queue_zero", {{"ADCARD_SIM_QUEUE", "0"}}, same, 1},
    {"queue_beyond_16_bits", {{"ADCARD_SIM_QUEUE", "32768"}}, same, 1},
    {"sequence_on", {{"ADCARD_SIM_SEQUENCE", "1"}}, [](SimConfig &c) { c.sequence = true; }, 0},
    {"sequence_yes", {{"ADCARD_SIM_SEQUENCE", "yes"}}, same, 1},
    {"stats_path", {{"ADCARD_SIM_STATS", "/tmp/s"}}, [](SimConfig &c) { c.statsPath = "/tmp/s"; }, 0},
    {"two_bad_one_good", {{"ADCARD_SIM_QUEUE", "x"}, {"ADCARD_SIM_NOISE", "y"}, {"ADCARD_SIM_SEED", "9"}},
     [](SimConfig &c) { c.seed = 9; }, 2},
}), kRowName);

static std::vector<int16_t> block(const SimBlockParams &p, uint64_t seq)
{
    std::vector<int16_t> b(static_cast<std::size_t>(p.channelCount * p.scansPerBlock));
    generateBlock(p, seq, b);
    return b;
}

TEST(BlockGenerator, IsAPureFunctionOfSettingsSeedAndSequence)
{
    const SimBlockParams p{4, 100, 10000, 42, 3, false};
    EXPECT_EQ(block(p, 7), block(p, 7));
    EXPECT_NE(block(p, 7), block(p, 8));
    SimBlockParams otherSeed = p;
    otherSeed.seed = 43;
    EXPECT_NE(block(p, 7), block(otherSeed, 7));
}

TEST(BlockGenerator, NoiseStaysWithinItsAmplitudeAndClampsToTwelveBits)
{
    for (int32_t noise : {0, 3, 2047}) {
        const SimBlockParams p{32, 50, 1000, 5, noise, false};
        const auto b = block(p, 11);
        bool noisy = false;
        for (int k = 0; k < p.scansPerBlock; ++k)
            for (int c = 0; c < p.channelCount; ++c) {
                const int v = b[static_cast<std::size_t>(k * p.channelCount + c)];
                const int clean = cleanSample(p, c, 11u * 50 + k);
                ASSERT_GE(v, 0);
                ASSERT_LE(v, kFullScale);
                ASSERT_LE(std::abs(v - clean), noise) << "channel " << c << " scan " << k;
                noisy |= v != clean;
            }
        EXPECT_EQ(noisy, noise > 0) << noise;
    }
    const auto loud = block({32, 50, 1000, 5, 2047, false}, 0);
    EXPECT_EQ(*std::min_element(loud.begin(), loud.end()), 0);
    EXPECT_EQ(*std::max_element(loud.begin(), loud.end()), kFullScale);
}

struct WaveRow {
    const char *name;
    int32_t channel;
    int16_t atQuarter[4]; // values at phase 0, 1/4, 1/2, 3/4
};

class Waveforms : public testing::TestWithParam<WaveRow> {};

TEST_P(Waveforms, FollowTheirShapeAroundMidScale)
{
    const auto &row = GetParam();
    const SimBlockParams p{8, 1, 10000, 1, 0, false};
    const double quarterScans = channelPeriodSeconds(row.channel) * p.scanRate / 4;
    for (int q = 0; q < 4; ++q)
        EXPECT_EQ(cleanSample(p, row.channel, static_cast<uint64_t>(q * quarterScans)), row.atQuarter[q]) << "quarter " << q;
}

INSTANTIATE_TEST_SUITE_P(Rows, Waveforms, testing::ValuesIn(std::vector<WaveRow>{
    {"ch0_sine_amp1800", 0, {2048, 3848, 2048, 248}},
    {"ch1_triangle_amp1750", 1, {298, 2048, 3798, 2048}},
    {"ch2_square_amp1700", 2, {3748, 3748, 348, 348}},
    {"ch3_sawtooth_amp1650", 3, {398, 1223, 2048, 2873}},
    {"ch4_sine_again_amp1600", 4, {2048, 3648, 2048, 448}},
}), kRowName);

TEST(BlockGenerator, BlocksFollowEachOtherInCardTimeAndTheirMeansMove)
{
    const SimBlockParams p{4, 1000, 10000, 1, 0, false};
    const auto b0 = block(p, 0), b15 = block(p, 15);
    for (int c = 0; c < 4; ++c) {
        double m0 = 0, m15 = 0;
        for (int k = 0; k < 1000; ++k) {
            ASSERT_EQ(b15[static_cast<std::size_t>(k * 4 + c)], cleanSample(p, c, 15000u + k));
            m0 += b0[static_cast<std::size_t>(k * 4 + c)];
            m15 += b15[static_cast<std::size_t>(k * 4 + c)];
        }
        EXPECT_GT(std::abs(m15 - m0) / 1000, 100) << "channel " << c; // 1.5 s later
    }
}

struct StampRow {
    const char *name;
    int32_t channels;
    uint64_t sequence;
    int16_t ch0, ch1; // ch1 unused with one channel
};

class SequenceStamp : public testing::TestWithParam<StampRow> {};

TEST_P(SequenceStamp, SplitsTheNumberOverTheFirstScanAndLeavesTheRest)
{
    const auto &row = GetParam();
    SimBlockParams p{row.channels, 3, 10000, 1, 3, true};
    const auto stamped = block(p, row.sequence);
    p.stampSequence = false;
    const auto plain = block(p, row.sequence);
    EXPECT_EQ(stamped[0], row.ch0);
    const std::size_t stamps = row.channels >= 2 ? 2 : 1;
    if (stamps == 2) {
        EXPECT_EQ(stamped[1], row.ch1);
    }
    EXPECT_TRUE(std::equal(stamped.begin() + stamps, stamped.end(), plain.begin() + stamps));
}

INSTANTIATE_TEST_SUITE_P(Rows, SequenceStamp, testing::ValuesIn(std::vector<StampRow>{
    {"first", 4, 0, 0, 0},
    {"low_full", 4, 4095, 4095, 0},
    {"carry", 4, 4096, 0, 1},
    {"both_parts", 2, 0xABCDEF, 0xDEF, 0xABC},
    {"wraps_past_24_bits", 4, (1u << 24) + 5, 5, 0},
    {"one_channel_low_bits_only", 1, 4097, 1, 0},
}), kRowName);

TEST(BlockQueue, KeepsOrderAcrossWrapAndRefusesWhenFull)
{
    BlockQueue q(3, 2);
    auto push = [&](int16_t v) {
        auto s = q.pushSlot();
        if (s.empty())
            return false;
        std::fill(s.begin(), s.end(), v);
        q.commitPush();
        return true;
    };
    auto pop = [&] {
        std::vector<int16_t> out(2, -1);
        return q.popInto(out) ? out[0] : int16_t{-1};
    };
    EXPECT_TRUE(push(1) && push(2) && push(3));
    EXPECT_FALSE(push(4));
    EXPECT_EQ(q.size(), 3u);
    EXPECT_EQ(pop(), 1);
    EXPECT_TRUE(push(4)); // wraps into the freed slot
    EXPECT_TRUE(q.dropOldest());
    EXPECT_EQ(pop(), 3);
    EXPECT_EQ(pop(), 4);
    EXPECT_EQ(pop(), -1);
    EXPECT_TRUE(push(5) && push(6));
    EXPECT_EQ(q.clear(), 2u);
    EXPECT_TRUE(q.empty());
}

struct PaceRow {
    const char *name;
    int32_t rate, scans;
    double speed;
    std::chrono::nanoseconds elapsed;
    uint64_t blocks;
};

class PacingRows : public testing::TestWithParam<PaceRow> {};

TEST_P(PacingRows, OwesWholeBlocksOfElapsedTime)
{
    const auto &r = GetParam();
    EXPECT_EQ(Pacing(r.rate, r.scans, r.speed).blocksDue(r.elapsed), r.blocks);
}

INSTANTIATE_TEST_SUITE_P(Rows, PacingRows, testing::ValuesIn(std::vector<PaceRow>{
    {"before_start", 10000, 1000, 1, -5ms, 0},
    {"at_start", 10000, 1000, 1, 0ns, 0},
    {"just_before_first", 10000, 1000, 1, 99999999ns, 0},
    {"first", 10000, 1000, 1, 100ms, 1},
    {"one_hour_no_drift", 10000, 1000, 1, 3600s, 36000},
    {"speed_50", 10000, 1000, 50, 1s, 500},
    {"speed_50_just_before_second", 10000, 1000, 50, 3999999ns, 1},
    {"third_of_a_second_rounds_up", 3, 1, 1, 333333333ns, 0},
    {"third_of_a_second_due", 3, 1, 1, 333333334ns, 1},
    {"slow_card", 1, 1000, 1, 999s, 0},
    {"slowed_clock", 10000, 1000, 0.5, 1s, 5},
}), kRowName);

TEST(Pacing, EachBlockFallsDueExactlyAtItsDueTime)
{
    for (const Pacing p : {Pacing(10000, 1000, 1), Pacing(3, 1, 1), Pacing(44100, 7, 3.7), Pacing(1, 1, 1e6)})
        for (uint64_t n = 1; n <= 2000; ++n) {
            ASSERT_EQ(p.blocksDue(p.dueAt(n)), n);
            ASSERT_EQ(p.blocksDue(p.dueAt(n) - 1ns), n - 1);
        }
}
