#include "acquisition/readout.h"
#include "tests/support/row_name.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <vector>

namespace adcard {
namespace {

using ::PrintTo; // rows print as their name

AcqSettings settings(int16_t channels, int32_t scans)
{
    AcqSettings s;
    s.ChannelCount = channels;
    s.ScansPerBlock = scans;
    return s;
}

// A block buffer (elements 0..channels*scans+1) filled by sample(c, k).
std::vector<int16_t> block(int channels, int scans, const std::function<int(int, int)> &sample)
{
    std::vector<int16_t> buf(static_cast<std::size_t>(channels * scans + 2), -1);
    for (int k = 0; k < scans; ++k)
        for (int c = 0; c < channels; ++c)
            buf[1 + k * channels + c] = static_cast<int16_t>(sample(c, k));
    return buf;
}

struct MeanRow {
    const char *name;
    int channel;
    std::function<int(int)> sampleOfScan; // the other channels hold 2048
    int32_t code;
    float volts; // written out, so that the conversion is checked too
};

class ChannelMean : public ::testing::TestWithParam<MeanRow> {};

TEST_P(ChannelMean, RoundsHalfToEven)
{
    const auto &r = GetParam();
    const auto buf = block(4, 1000, [&](int c, int k) { return c == r.channel ? r.sampleOfScan(k) : 2048; });
    std::array<int32_t, kMaxReadoutChannels> codes{};
    std::array<float, kMaxReadoutChannels> volts{};
    ASSERT_TRUE(computeReadout(settings(4, 1000), buf, codes, volts));
    EXPECT_EQ(codes[r.channel], r.code);
    EXPECT_EQ(volts[r.channel], r.volts);
    for (int c = 0; c < 4; ++c)
        if (c != r.channel) {
            EXPECT_EQ(codes[c], 2048) << "channel " << c;
        }
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, ChannelMean,
    ::testing::Values(MeanRow{"Constant3072", 2, [](int) { return 3072; }, 3072, 0x1.401402p+1f},
                      MeanRow{"Half2048", 0, [](int k) { return 2048 + k % 2; }, 2048, 0.0f},
                      MeanRow{"Half2049", 0, [](int k) { return 2049 + k % 2; }, 2050, 0x1.401402p-8f},
                      MeanRow{"OneHigh", 0, [](int k) { return k == 500 ? 2049 : 2048; }, 2048, 0.0f},
                      MeanRow{"Alternating1000And3000", 1, [](int k) { return k % 2 ? 3000 : 1000; }, 2000,
                              -0x1.e01e02p-4f},
                      MeanRow{"LastChannelFullScale", 3, [](int) { return 4095; }, 4095, 0x1.3febfep+2f},
                      MeanRow{"Zeros", 1, [](int) { return 0; }, 0, -0x1.401402p+2f}),
    kRowName);

// The float nearest to (code - 2048) / 4095 * 10 worked out in double. Codes
// 1 and 411 tell it apart from the same formula in float (as x * (10 / 4095)
// or as x / 4095 * 10); the 32-bit extremes catch an int subtraction.
struct ReadoutVoltsRow {
    const char *name;
    int32_t code;
    float volts;
};

class CodeToVolts : public ::testing::TestWithParam<ReadoutVoltsRow> {};

TEST_P(CodeToVolts, IsTheDoubleResultRoundedToFloat)
{
    const auto &r = GetParam();
    EXPECT_EQ(codeToVolts(r.code), r.volts) << std::hexfloat << codeToVolts(r.code);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, CodeToVolts,
    ::testing::Values(ReadoutVoltsRow{"Zero", 0, -0x1.401402p+2f}, ReadoutVoltsRow{"One", 1, -0x1.3febfep+2f},
                      ReadoutVoltsRow{"FloatDivideShows", 411, -0x1.ffaffap+1f},
                      ReadoutVoltsRow{"BelowMid", 2047, -0x1.401402p-9f}, ReadoutVoltsRow{"Mid", 2048, 0.0f},
                      ReadoutVoltsRow{"AboveMid", 2049, 0x1.401402p-9f}, ReadoutVoltsRow{"ThreeQuarters", 3072, 0x1.401402p+1f},
                      ReadoutVoltsRow{"FullScale", 4095, 0x1.3febfep+2f},
                      ReadoutVoltsRow{"Int32Min", std::numeric_limits<int32_t>::min(), -0x1.401416p+22f},
                      ReadoutVoltsRow{"Int32Max", std::numeric_limits<int32_t>::max(), 0x1.4013eep+22f}),
    kRowName);

TEST(Readout, SumsAsFloatInScanOrder)
{
    // Samples beyond the card's 12 bits push the running sum past 2^24, where
    // a 32-bit float sum rounds at each step: 1000 x 32767 then 1 sums to
    // 32767488 in float (32767001 exactly), so the code is 32735, not 32734.
    const auto buf = block(1, 1001, [](int, int k) { return k < 1000 ? 32767 : 1; });
    std::array<int32_t, kMaxReadoutChannels> codes{};
    std::array<float, kMaxReadoutChannels> volts{};
    ASSERT_TRUE(computeReadout(settings(1, 1001), buf, codes, volts));
    EXPECT_EQ(codes[0], 32735);
}

TEST(Readout, OnlyWritesChannelsInUse)
{
    const auto buf = block(2, 10, [](int, int) { return 4095; });
    std::array<int32_t, kMaxReadoutChannels> codes{};
    std::array<float, kMaxReadoutChannels> volts{};
    codes[2] = 77;
    volts[2] = 1.5f;
    ASSERT_TRUE(computeReadout(settings(2, 10), buf, codes, volts));
    EXPECT_EQ(codes[1], 4095);
    EXPECT_EQ(codes[2], 77);
    EXPECT_EQ(volts[2], 1.5f);
}

struct LimitRow {
    const char *name;
    int16_t channels;
    int32_t scans;
    bool accepted;
};

class ReadoutLimits : public ::testing::TestWithParam<LimitRow> {};

TEST_P(ReadoutLimits, NeverLeavesTheTablesOrTheBuffer)
{
    const auto &r = GetParam();
    // A buffer sized for 33 x 1001 so that only the limits decide.
    std::vector<int16_t> buf(33 * 1001 + 2, 3000);
    std::array<int32_t, kMaxReadoutChannels> codes{};
    std::array<float, kMaxReadoutChannels> volts{};
    codes.fill(-7);
    EXPECT_EQ(computeReadout(settings(r.channels, r.scans), buf, codes, volts), r.accepted);
    if (!r.accepted)
        for (int32_t c : codes)
            EXPECT_EQ(c, -7);
    else
        EXPECT_EQ(codes[0], 3000);
}

INSTANTIATE_TEST_SUITE_P(Settings, ReadoutLimits,
                         ::testing::Values(LimitRow{"Fixed", 4, 1000, true},
                                           LimitRow{"MostChannels", 33, 1001, true},
                                           LimitRow{"TooManyChannels", 34, 10, false},
                                           LimitRow{"NoChannels", 0, 10, false},
                                           LimitRow{"NegativeChannels", -4, 10, false},
                                           LimitRow{"NoScans", 4, 0, false},
                                           LimitRow{"TooManyScans", 4, 1002, false},
                                           LimitRow{"HugeScans", 4, 2000000000, false}),
                         kRowName);

TEST(Readout, RefusesABufferShorterThanTheBlock)
{
    std::vector<int16_t> buf(4 * 1000, 0); // one short of elements 1..4000
    std::array<int32_t, kMaxReadoutChannels> codes{};
    std::array<float, kMaxReadoutChannels> volts{};
    EXPECT_FALSE(computeReadout(settings(4, 1000), buf, codes, volts));
    buf.push_back(0);
    EXPECT_TRUE(computeReadout(settings(4, 1000), buf, codes, volts));
}

} // namespace
} // namespace adcard
