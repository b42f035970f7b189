#include "acquisition/checked.h"
#include "acquisition/formatting.h"
#include "acquisition/readout.h"
#include "tests/support/row_name.h"

#include <gtest/gtest.h>

#include <limits>

namespace adcard {
namespace {

using ::PrintTo; // rows print as their name

struct VoltsRow {
    const char *name;
    int32_t code;
    const char *caption;
    const char *readout; // the other windows', with the integer digit
};

class VoltsCaption : public ::testing::TestWithParam<VoltsRow> {};

TEST_P(VoltsCaption, CodeThroughVoltsToCaption)
{
    const auto &row = GetParam();
    EXPECT_EQ(voltsText(codeToVolts(row.code), "."), row.caption) << "code " << row.code;
    EXPECT_EQ(readoutVoltsText(codeToVolts(row.code), "."), row.readout) << "code " << row.code;
}

INSTANTIATE_TEST_SUITE_P(Codes, VoltsCaption,
                         ::testing::Values(VoltsRow{"Zero", 0, "-5.001", "-5.001"}, VoltsRow{"One", 1, "-4.999", "-4.999"},
                                           VoltsRow{"MinusOneVolt", 1639, "-.999", "-0.999"},
                                           VoltsRow{"Code2000", 2000, "-.117", "-0.117"},
                                           VoltsRow{"BelowMid", 2047, "-.002", "-0.002"}, VoltsRow{"Mid", 2048, ".000", "0.000"},
                                           VoltsRow{"AboveMid", 2049, ".002", "0.002"}, VoltsRow{"TwoAboveMid", 2050, ".005", "0.005"},
                                           VoltsRow{"OneVoltBelow", 2457, ".999", "0.999"},
                                           VoltsRow{"OneVoltAbove", 2458, "1.001", "1.001"},
                                           VoltsRow{"ThreeQuarters", 3072, "2.501", "2.501"},
                                           VoltsRow{"FullScale", 4095, "4.999", "4.999"},
                                           // Beyond the card's range the integer part is not limited.
                                           VoltsRow{"TwentyVolts", 2048 + 4095 * 2, "20.000", "20.000"},
                                           VoltsRow{"MinusHundredTwenty", 2048 - 4095 * 12, "-120.000", "-120.000"}),
                         kRowName);

TEST(VoltsText, UsesTheGivenSeparatorVerbatim)
{
    const float v = codeToVolts(3072);
    EXPECT_EQ(voltsText(v, ","), "2,501");
    EXPECT_EQ(voltsText(codeToVolts(1639), ","), "-,999");
    EXPECT_EQ(voltsText(codeToVolts(2048), "٫"), "٫000"); // multi-byte separator
}

TEST(VoltsText, RoundsTheExactFloatToThousandths)
{
    EXPECT_EQ(voltsText(0.0004f, "."), ".000");
    EXPECT_EQ(voltsText(0.0006f, "."), ".001");
    EXPECT_EQ(voltsText(-1.9996f, "."), "-2.000");
    EXPECT_EQ(voltsText(12345.678f, "."), "12345.678");
}

TEST(CounterText, LeadingBlankForZeroOrPositive)
{
    EXPECT_EQ(counterText(0), " 0");
    EXPECT_EQ(counterText(20), " 20");
    EXPECT_EQ(counterText(76000), " 76000");
    EXPECT_EQ(counterText(-4), "-4");
    EXPECT_EQ(counterText(std::numeric_limits<int32_t>::min()), "-2147483648");
    EXPECT_EQ(counterText(std::numeric_limits<int32_t>::max()), " 2147483647");
}

TEST(FailureText, ShortestDecimalNoBlank)
{
    EXPECT_EQ(failureText(-3), "Error=-3");
    EXPECT_EQ(failureText(12), "Error=12");
    EXPECT_EQ(failureText(0), "Error=0");
    EXPECT_EQ(failureText(-9001), "Error=-9001");
}

struct PortRow {
    const char *name;
    int16_t port;
    const char *hex;
    const char *row; // portRowText
};

class PortTexts : public ::testing::TestWithParam<PortRow> {};

TEST_P(PortTexts, HexAndBits)
{
    const auto &r = GetParam();
    EXPECT_EQ(hex16(r.port), r.hex);
    EXPECT_EQ(portRowText(r.port), r.row);
}

INSTANTIATE_TEST_SUITE_P(
    Ports, PortTexts,
    ::testing::Values(PortRow{"A5", 165, "A5", "A5      1   0   1   0   0   1   0   1"},
                      PortRow{"Zero", 0, "0", "0      0   0   0   0   0   0   0   0"},
                      PortRow{"ThreeDigits", 300, "12C", "12C      0   0   1   0   1   1   0   0"},
                      PortRow{"MinusOne", -1, "FFFF", "FFFF      1   1   1   1   1   1   1   1"},
                      PortRow{"HighByteOnly", 0x0F00, "F00", "F00      0   0   0   0   0   0   0   0"},
                      PortRow{"Min", -32768, "8000", "8000      0   0   0   0   0   0   0   0"},
                      PortRow{"Max", 0x7FFF, "7FFF", "7FFF      1   1   1   1   1   1   1   1"}),
    kRowName);

TEST(PortTexts, SummaryAndHeader)
{
    EXPECT_EQ(portsSummaryText(165, 0), "A5  0");
    EXPECT_EQ(portsSummaryText(-1, 300), "FFFF  12C");
    const std::string header = bitHeader();
    EXPECT_EQ(header, "            7   6   5   4   3   2   1   0");
    EXPECT_EQ(header.size(), 41u);
    EXPECT_EQ(header[12], '7');
}

TEST(CheckedArithmetic, BoundaryTable)
{
    constexpr int32_t max = std::numeric_limits<int32_t>::max();
    constexpr int32_t min = std::numeric_limits<int32_t>::min();
    EXPECT_EQ(checkedMul32(4, 1000), 4000);
    EXPECT_EQ(checkedMul32(4000, 20), 80000);
    EXPECT_EQ(checkedMul32(46341, 46341), std::nullopt);
    EXPECT_EQ(checkedMul32(-1, min), std::nullopt);
    EXPECT_EQ(checkedAdd32(max, 1), std::nullopt);
    EXPECT_EQ(checkedAdd32(max - 1, 1), max);
    EXPECT_EQ(checkedAdd32(min, -1), std::nullopt);
    EXPECT_EQ(checkedSub32(min, 1), std::nullopt);
    EXPECT_EQ(checkedSub32(0, max), -max);

    EXPECT_EQ(saturatingAdd16(32766, 1), 32767);
    EXPECT_EQ(saturatingAdd16(32767, 1), 32767);
    EXPECT_EQ(saturatingAdd16(32760, 32767), 32767);
    EXPECT_EQ(saturatingAdd16(-32767, -1), -32768);
    EXPECT_EQ(saturatingAdd16(-32768, -5), -32768);
    EXPECT_EQ(saturatingAdd16(32767, -1), 32766);
}

} // namespace
} // namespace adcard
