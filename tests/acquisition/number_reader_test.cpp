#include "acquisition/number_reader.h"
#include "tests/support/row_name.h"

#include <gtest/gtest.h>

#include <string>

namespace adcard {
namespace {

using ::PrintTo; // rows print as their name

constexpr auto Ok = ReadStatus::Ok;
constexpr auto Out = ReadStatus::OutOfRange;

struct GroupRow {
    const char *name;
    std::string text;
    ReadStatus status;
    int16_t group; // before the "above 1 becomes 1" step
};

class GroupReader : public ::testing::TestWithParam<GroupRow> {};

TEST_P(GroupReader, Reads)
{
    const auto &r = GetParam();
    const GroupRead got = readGroupNumber(r.text);
    EXPECT_EQ(got.status, r.status) << '"' << r.text << '"';
    if (r.status == Ok) {
        EXPECT_EQ(got.group, r.group) << '"' << r.text << '"';
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, GroupReader,
    ::testing::Values(
        GroupRow{"Zero", "0", Ok, 0}, GroupRow{"One", "1", Ok, 1}, GroupRow{"Two", "2", Ok, 2},
        GroupRow{"Max", "32767", Ok, 32767}, GroupRow{"JustOver", "32768", Out, 0},
        GroupRow{"Min", "-32768", Ok, -32768}, GroupRow{"JustUnder", "-32769", Out, 0},
        GroupRow{"FortyThousand", "40000", Out, 0},
        GroupRow{"HalfToEvenUp", "1.5", Ok, 2}, GroupRow{"HalfToEvenDown", "0.5", Ok, 0},
        GroupRow{"TwoAndAHalf", "2.5", Ok, 2}, GroupRow{"NegativeHalf", "-1.5", Ok, -2},
        GroupRow{"NegativeOne", "-1", Ok, -1}, GroupRow{"PlusSign", "+1", Ok, 1},
        GroupRow{"Empty", "", Ok, 0}, GroupRow{"Letter", "x", Ok, 0},
        GroupRow{"TrailingJunk", "3abc", Ok, 3}, GroupRow{"HexPrefix", "&H1", Ok, 1},
        GroupRow{"HexPrefixLower", "&hff", Ok, 255}, GroupRow{"HexTooWide", "&H8000", Out, 0},
        GroupRow{"HexMax", "&H7FFF", Ok, 32767}, GroupRow{"HexNoDigits", "&H", Ok, 0},
        GroupRow{"Octal", "&O17", Ok, 15}, GroupRow{"OctalStopsAt8", "&O78", Ok, 7},
        GroupRow{"Exponent", "1E2", Ok, 100}, GroupRow{"NegExponent", "15e-1", Ok, 2},
        GroupRow{"ExponentSign", "3.2e+1", Ok, 32}, GroupRow{"DanglingExponent", "7e", Ok, 7},
        GroupRow{"DanglingExponentSign", "7e-", Ok, 7}, GroupRow{"HugeExponent", "1e999", Out, 0},
        GroupRow{"TinyExponent", "1e-999", Ok, 0}, GroupRow{"LeadingDot", ".6", Ok, 1},
        GroupRow{"DotOnly", ".", Ok, 0}, GroupRow{"SignOnly", "-", Ok, 0},
        GroupRow{"CommaNotSeparator", "1,5", Ok, 1}, GroupRow{"BlanksInside", " 1 2 ", Ok, 12},
        GroupRow{"TabsAndNewlines", "\t-\n3", Ok, -3}, GroupRow{"LeadingZeros", "0007", Ok, 7},
        GroupRow{"RoundsIntoRange", "32767.4", Ok, 32767},
        GroupRow{"RoundsOutOfRange", "32767.5", Out, 0},
        GroupRow{"NegRoundsToEvenInRange", "-32768.5", Ok, -32768},
        GroupRow{"AmpersandAlone", "&", Ok, 0}, GroupRow{"AmpersandOther", "&X1", Ok, 0},
        GroupRow{"ManyDigits", std::string(400, '9'), Out, 0},
        // Long texts are decided on their digits, not on a double or the
        // exponent's sign.
        GroupRow{"HugeMantissaSmallNegExponent", "1" + std::string(400, '0') + "e-1", Out, 0},
        GroupRow{"HugeMantissaCancelledExponent", "1" + std::string(400, '0') + "e-400", Ok, 1},
        GroupRow{"TinyFraction", "0." + std::string(400, '0') + "1", Ok, 0},
        GroupRow{"TinyFractionRaised", "0." + std::string(400, '0') + "15e401", Ok, 2},
        GroupRow{"HalfWithLongTail", "0.5" + std::string(400, '0') + "1", Ok, 1},
        GroupRow{"HalfWithZeroTail", "2.5" + std::string(400, '0'), Ok, 2},
        GroupRow{"CarriageReturnIsNotSkipped", "1\r2", Ok, 1}),
    kRowName);

struct ValueRow {
    const char *name;
    std::string text;
    ReadStatus status;
    uint32_t value;
};

class HexValueReader : public ::testing::TestWithParam<ValueRow> {};

TEST_P(HexValueReader, Reads)
{
    const auto &r = GetParam();
    const ValueRead got = readHexValue(r.text);
    EXPECT_EQ(got.status, r.status) << '"' << r.text << '"';
    if (r.status == Ok) {
        EXPECT_EQ(got.value, r.value) << '"' << r.text << '"';
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, HexValueReader,
    ::testing::Values(ValueRow{"Upper", "FF", Ok, 0xFF}, ValueRow{"Lower", "ff", Ok, 0xFF},
                      ValueRow{"NineBits", "1FF", Ok, 0x1FF}, ValueRow{"Hundred", "100", Ok, 0x100},
                      ValueRow{"StopsAtG", "7G", Ok, 7}, ValueRow{"LeadingG", "G7", Ok, 0},
                      ValueRow{"Empty", "", Ok, 0}, ValueRow{"PrefixEndsNumber", "&H12", Ok, 0},
                      ValueRow{"BlankInside", "F F", Ok, 0xFF},
                      ValueRow{"EightDigits", "FFFFFFFF", Ok, 0xFFFFFFFFu},
                      ValueRow{"NineDigits", "100000000", Out, 0},
                      ValueRow{"LeadingZerosDoNotCount", "000000000FF", Ok, 0xFF},
                      ValueRow{"SignIsNotADigit", "-1", Ok, 0},
                      ValueRow{"Design", "00", Ok, 0}),
    kRowName);

} // namespace
} // namespace adcard
