// The simulated card's pure parts: error texts, settings, signals, pacing.
#include "simcard/block_generator.h"
#include "simcard/config.h"
#include "simcard/error_codes.h"
#include "simcard/pacing.h"
#include "tests/support/row_name.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>
#include <set>
#include <string>
#include <tuple>
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

static auto fields(const SimConfig &c)
{
    return std::tuple(c.failInitial, c.failStartIntr, c.failADResultEvery, c.crashAtADResult, c.speed, c.seed,
                      c.noise, c.queueBlocks, c.sequence, c.statsPath);
}

TEST_P(ConfigParsing, GivesValueOrDefaultWithOneWarningPerBadValue)
{
    const auto &row = GetParam();
    std::vector<std::string> warnings;
    const SimConfig got = parseSimConfig([&](const char *n) {
        const auto it = row.env.find(n);
        return it == row.env.end() ? nullptr : it->second.c_str();
    }, warnings);
    SimConfig want;
    row.expect(want);
    EXPECT_EQ(fields(got), fields(want));
    EXPECT_EQ(warnings.size(), row.warnings);
    if (row.warnings == 1) {
        EXPECT_NE(warnings[0].find(row.env.begin()->first), std::string::npos) << warnings[0];
    }
}

static void same(SimConfig &) {}

INSTANTIATE_TEST_SUITE_P(Rows, ConfigParsing, testing::ValuesIn(std::vector<ConfigRow>{
    {"nothing_set", {}, same, 0},
    {"empty_is_unset", {{"ADCARD_SIM_QUEUE", ""}}, same, 0},
    {"fail_initial_trailing_text", {{"ADCARD_SIM_FAIL_INITIAL", "12x"}}, same, 1},
    {"fail_startintr_beyond_32_bits", {{"ADCARD_SIM_FAIL_STARTINTR", "2147483648"}}, same, 1},
    {"fail_startintr_zero", {{"ADCARD_SIM_FAIL_STARTINTR", "0"}}, same, 1},
    {"fail_initial_zero", {{"ADCARD_SIM_FAIL_INITIAL", "0"}}, same, 1},
    {"adresult_every_zero", {{"ADCARD_SIM_FAIL_ADRESULT_EVERY", "0"}}, same, 1},
    {"crash_zero", {{"ADCARD_SIM_CRASH_ADRESULT", "0"}}, same, 1},
    {"crash_at_20", {{"ADCARD_SIM_CRASH_ADRESULT", "20"}}, [](SimConfig &c) { c.crashAtADResult = 20; }, 0},
    {"speed_nan", {{"ADCARD_SIM_SPEED", "nan"}}, same, 1},
    {"speed_above_max", {{"ADCARD_SIM_SPEED", "1e7"}}, same, 1},
    {"seed_max", {{"ADCARD_SIM_SEED", "18446744073709551615"}}, [](SimConfig &c) { c.seed = UINT64_MAX; }, 0},
    {"seed_leading_blank", {{"ADCARD_SIM_SEED", " 5"}}, same, 1},
    {"queue_max", {{"ADCARD_SIM_QUEUE", "32767"}}, [](SimConfig &c) { c.queueBlocks = 32767; }, 0},
    {"queue_beyond_16_bits", {{"ADCARD_SIM_QUEUE", "32768"}}, same, 1},
    {"sequence_yes", {{"ADCARD_SIM_SEQUENCE", "yes"}}, same, 1},
    {"two_bad_three_good", {{"ADCARD_SIM_QUEUE", "x"}, {"ADCARD_SIM_NOISE", "-1"}, {"ADCARD_SIM_SEQUENCE", "1"},
                            {"ADCARD_SIM_FAIL_INITIAL", "-3"}, {"ADCARD_SIM_STATS", "/tmp/s"}},
     [](SimConfig &c) { c.sequence = true; c.failInitial = -3; c.statsPath = "/tmp/s"; }, 2},
    {"speed_fraction", {{"ADCARD_SIM_SPEED", "0.5"}}, [](SimConfig &c) { c.speed = 0.5; }, 0},
}), kRowName);

static std::vector<int16_t> block(const SimBlockParams &p, uint64_t seq)
{
    std::vector<int16_t> b(static_cast<std::size_t>(p.channelCount * p.scansPerBlock));
    generateBlock(p, seq, b);
    return b;
}

TEST(BlockGenerator, IsAPureFunctionOfSettingsSeedAndSequence)
{
    const SimBlockParams p{4, 100, 10000, 42, 3, false}, otherSeed{4, 100, 10000, 43, 3, false};
    EXPECT_EQ(block(p, 7), block(p, 7));
    EXPECT_NE(block(p, 7), block(p, 8));
    EXPECT_NE(block(p, 7), block(otherSeed, 7));
}

TEST(BlockGenerator, NoiseStaysWithinItsAmplitudeAndClampsToTwelveBits)
{
    for (int32_t noise : {0, 3, 2047}) {
        const SimBlockParams p{32, 50, 1000, 5, noise, false};
        const auto b = block(p, 11);
        int worst = 0;
        for (std::size_t i = 0; i < b.size(); ++i) {
            const int clean = cleanSample(p, static_cast<int32_t>(i % 32), 11 * 50 + i / 32);
            ASSERT_TRUE(b[i] >= 0 && b[i] <= kFullScale) << b[i];
            worst = std::max(worst, std::abs(b[i] - clean));
        }
        EXPECT_LE(worst, noise);
        EXPECT_EQ(worst > 0, noise > 0) << noise;
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
        EXPECT_EQ(cleanSample(p, row.channel, static_cast<uint64_t>(q * quarterScans)), row.atQuarter[q]) << q;
}

INSTANTIATE_TEST_SUITE_P(Rows, Waveforms, testing::ValuesIn(std::vector<WaveRow>{
    {"ch0_sine_amp1800", 0, {2048, 3848, 2048, 248}},
    {"ch1_triangle_amp1750", 1, {298, 2048, 3798, 2048}},
    {"ch2_square_amp1700", 2, {3748, 3748, 348, 348}},
    {"ch3_sawtooth_amp1650", 3, {398, 1223, 2048, 2873}},
    {"ch4_sine_again_amp1600", 4, {2048, 3648, 2048, 448}},
}), kRowName);

// The ideal waveform, in codes, at the exact card time of a scan.
static double idealSample(const SimBlockParams &p, int32_t channel, uint64_t scan)
{
    const double phase = std::fmod(static_cast<double>(scan) / (p.scanRate * channelPeriodSeconds(channel)), 1.0);
    double shape = 0;
    switch (channelWaveform(channel)) {
    case Waveform::Sine: shape = std::sin(2 * std::numbers::pi * phase); break;
    case Waveform::Triangle: shape = 1 - 4 * std::abs(phase - 0.5); break;
    case Waveform::Square: shape = phase < 0.5 ? 1 : -1; break;
    case Waveform::Sawtooth: shape = 2 * phase - 1; break;
    }
    return kMidScale + channelAmplitude(channel) * shape;
}

struct IdealRow {
    const char *name;
    int32_t channel, scanRate;
    uint64_t firstScan, stride, count;
};

class NearIdeal : public testing::TestWithParam<IdealRow> {};

TEST_P(NearIdeal, CleanSamplesStayWithinOneCodeOfTheIdealWaveform)
{
    const auto &r = GetParam();
    const SimBlockParams p{32, 1, r.scanRate, 1, 0, false};
    for (uint64_t n = 0; n < r.count; ++n) {
        const uint64_t scan = r.firstScan + n * r.stride;
        ASSERT_LE(std::abs(cleanSample(p, r.channel, scan) - idealSample(p, r.channel, scan)), 1.0) << "scan " << scan;
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, NearIdeal, testing::ValuesIn(std::vector<IdealRow>{
    {"ch0_sine_one_whole_period", 0, 10000, 0, 1, 20000},
    {"ch4_sine_an_hour_in", 4, 10000, 36000ull * 1000, 1, 30000},
    {"ch1_triangle_one_whole_period", 1, 10000, 0, 1, 22500},
    {"ch2_square_one_whole_period", 2, 10000, 0, 1, 25000},
    {"ch3_sawtooth_one_whole_period", 3, 10000, 0, 1, 27500},
    {"ch8_sine_rate_3", 8, 3, 0, 1, 200},
    {"ch31_sawtooth_rate_44100", 31, 44100, 123457, 7, 20000},
    {"ch28_sine_largest_rate_far_on", 28, 2147483647, (1ull << 40) + 3, 1000003, 20000},
}), kRowName);

TEST(BlockGenerator, GivesTheSameBlocksTwiceAndInAnyOrder)
{
    // Odd sizes and rate: blocks start part-way through a noise word and a
    // phase step.
    const SimBlockParams p{3, 777, 44100, 9, 5, true}, clean{3, 777, 44100, 9, 0, false};
    std::vector<std::vector<int16_t>> inOrder;
    for (uint64_t n = 0; n < 8; ++n)
        inOrder.push_back(block(p, n));
    for (uint64_t n : {7, 2, 5, 0, 5, 3, 6, 1, 4, 7})
        ASSERT_EQ(block(p, n), inOrder[n]) << "block " << n;
    // The stream does not depend on where it is cut into blocks.
    std::vector<int16_t> thirds;
    for (uint64_t n = 9; n < 12; ++n) {
        const auto b = block({3, 259, 44100, 9, 5, false}, n);
        thirds.insert(thirds.end(), b.begin(), b.end());
    }
    EXPECT_EQ(thirds, block({3, 777, 44100, 9, 5, false}, 3));
    for (uint64_t n : {3, 1000003}) { // each sample as recomputed alone, noise within its peak
        const auto noisy = block(p, n), exact = block(clean, n);
        for (std::size_t i = 0; i < exact.size(); ++i) {
            ASSERT_EQ(exact[i], cleanSample(p, static_cast<int32_t>(i % 3), n * 777 + i / 3)) << n << " " << i;
            if (i >= 2) { // past the stamp
                ASSERT_LE(std::abs(noisy[i] - exact[i]), 5) << n << " " << i;
            }
        }
    }
}

TEST(BlockGenerator, BlockMeansMoveWithinSeconds)
{
    const SimBlockParams p{4, 1000, 10000, 1, 0, false};
    const auto b0 = block(p, 0), b15 = block(p, 15); // 1.5 s apart
    for (std::size_t c = 0; c < 4; ++c) {
        double diff = 0;
        for (std::size_t i = c; i < b0.size(); i += 4)
            diff += b15[i] - b0[i];
        EXPECT_GT(std::abs(diff) / 1000, 100) << "channel " << c;
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
    const auto stamped = block({row.channels, 3, 10000, 1, 3, true}, row.sequence);
    const auto plain = block({row.channels, 3, 10000, 1, 3, false}, row.sequence);
    const std::size_t stamps = row.channels >= 2 ? 2 : 1;
    EXPECT_EQ(stamped[0], row.ch0);
    EXPECT_EQ(stamped[stamps - 1], stamps == 2 ? row.ch1 : row.ch0);
    EXPECT_TRUE(std::equal(stamped.begin() + stamps, stamped.end(), plain.begin() + stamps));
}

INSTANTIATE_TEST_SUITE_P(Rows, SequenceStamp, testing::ValuesIn(std::vector<StampRow>{
    {"carry_into_high_part", 4, 4096, 0, 1},
    {"both_parts", 2, 0xABCDEF, 0xDEF, 0xABC},
    {"wraps_past_24_bits", 4, (1u << 24) + 5, 5, 0},
    {"one_channel_low_bits_only", 1, 4097, 1, 0},
}), kRowName);

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
    {"just_before_first", 10000, 1000, 1, 99999999ns, 0},
    {"one_hour_no_drift", 10000, 1000, 1, 3600s, 36000},
    {"speed_50", 10000, 1000, 50, 1s, 500},
    {"third_of_a_second_rounds_up", 3, 1, 1, 333333333ns, 0},
}), kRowName);

TEST(Pacing, EachBlockFallsDueExactlyAtItsDueTime)
{
    for (const Pacing p : {Pacing(10000, 1000, 1), Pacing(3, 1, 1), Pacing(44100, 7, 3.7), Pacing(1, 1, 1e6)})
        for (uint64_t n = 1; n <= 2000; ++n) {
            ASSERT_EQ(p.blocksDue(p.dueAt(n)), n);
            ASSERT_EQ(p.blocksDue(p.dueAt(n) - 1ns), n - 1);
        }
}
