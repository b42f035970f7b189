// Durations and sizes as typed: what each spelling reads as, and that a
// refused one says why (the ambiguous decimal sizes name the binary unit).
#include "quantities/quantity_text.h"
#include "tests/support/row_name.h"

#include <gtest/gtest.h>

namespace adcard::quantities {
namespace {

using ::PrintTo;

constexpr int64_t kS = kNsPerSecond;
constexpr int64_t kGiB = int64_t{1} << 30;

// What a reader gives back for a text: its value, or a part of its reason.
struct ReadRow {
    const char *name;
    Reading (*read)(std::string_view);
    const char *text;
    int64_t value;      // when `why` is empty
    const char *why;    // the refusal contains this; empty: accepted
};

class Readings : public ::testing::TestWithParam<ReadRow> {};

TEST_P(Readings, GiveTheValueOrSayWhy)
{
    const ReadRow &row = GetParam();
    const Reading r = row.read(row.text);
    if (*row.why == '\0') {
        ASSERT_TRUE(r.ok()) << r.error;
        EXPECT_EQ(r.value, row.value);
    } else {
        EXPECT_FALSE(r.ok()) << "read as " << r.value;
        EXPECT_NE(r.error.find(row.why), std::string::npos) << r.error;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Readings,
    ::testing::Values(
        ReadRow{"seconds", readDuration, "30s", 30 * kS, ""},
        ReadRow{"minutes", readDuration, "10m", 600 * kS, ""},
        ReadRow{"minutes_spelt_min", readDuration, "10min", 600 * kS, ""},
        ReadRow{"hours", readDuration, "1h", 3600 * kS, ""},
        ReadRow{"days", readDuration, "7d", 7 * 86400 * kS, ""},
        ReadRow{"zero_is_a_value", readDuration, "0s", 0, ""},
        ReadRow{"leading_zeros", readDuration, "010m", 600 * kS, ""},
        ReadRow{"space_before_unit", readDuration, "2 h", 7200 * kS, ""},
        ReadRow{"longest_in_days", readDuration, "106751d", int64_t{106751} * 86400 * kS, ""},
        ReadRow{"days_beyond_64_bits", readDuration, "106752d", 0, "too large"},
        ReadRow{"digits_beyond_64_bits", readDuration, "99999999999999999999s", 0, "too large"},
        ReadRow{"no_unit", readDuration, "90", 0, "no unit (give s, m, min, h or d)"},
        ReadRow{"capital_m", readDuration, "10M", 0, "unknown unit 'M'"},
        ReadRow{"milliseconds", readDuration, "500ms", 0, "unknown unit 'ms'"},
        ReadRow{"fraction", readDuration, "1.5h", 0, "not a whole number"},
        ReadRow{"negative", readDuration, "-5s", 0, "negative"},
        ReadRow{"empty", readDuration, "", 0, "no value"},
        ReadRow{"unit_alone", readDuration, "h", 0, "not a number"},
        ReadRow{"two_spaces", readDuration, "2  h", 0, "unknown unit ' h'"},
        ReadRow{"size_as_duration", readDuration, "5MiB", 0, "unknown unit 'MiB'"},
        ReadRow{"mebibytes", readSize, "500MiB", 500 * kMiB, ""},
        ReadRow{"gibibytes", readSize, "2GiB", 2 * kGiB, ""},
        ReadRow{"kibibytes", readSize, "64KiB", 65536, ""},
        ReadRow{"tebibytes", readSize, "1TiB", kGiB * 1024, ""},
        ReadRow{"bytes", readSize, "4096B", 4096, ""},
        ReadRow{"largest_tebibytes", readSize, "8388607TiB", int64_t{8388607} << 40, ""},
        ReadRow{"tebibytes_beyond_64_bits", readSize, "8388608TiB", 0, "too large"},
        ReadRow{"decimal_megabytes", readSize, "500MB", 0, "'MB' may mean powers of 1000 or of 1024; write MiB"},
        ReadRow{"decimal_gigabytes", readSize, "2GB", 0, "write GiB"},
        ReadRow{"bare_g", readSize, "2G", 0, "write GiB"},
        ReadRow{"kilobytes", readSize, "64kB", 0, "write KiB"},
        ReadRow{"lower_case_binary", readSize, "2gib", 0, "unknown unit 'gib' (give B, KiB, MiB, GiB or TiB)"},
        ReadRow{"bare_number_of_bytes", readSize, "1048576", 0, "no unit"},
        ReadRow{"fractional_size", readSize, "1.5GiB", 0, "not a whole number"},
        ReadRow{"duration_as_size", readSize, "10m", 0, "unknown unit 'm'"}),
    kRowName);

struct SplitRow {
    const char *name;
    const char *text;
    int64_t ns;
    int64_t bytes;
    const char *why;
};

class Splits : public ::testing::TestWithParam<SplitRow> {};

TEST_P(Splits, AreAPeriodOrASizeByTheirUnit)
{
    const SplitRow &row = GetParam();
    const PeriodOrSize r = readPeriodOrSize(row.text);
    if (*row.why == '\0') {
        ASSERT_TRUE(r.ok()) << r.error;
        EXPECT_EQ(r.ns, row.ns);
        EXPECT_EQ(r.bytes, row.bytes);
    } else {
        EXPECT_FALSE(r.ok());
        EXPECT_NE(r.error.find(row.why), std::string::npos) << r.error;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Splits,
    ::testing::Values(SplitRow{"hour", "1h", 3600 * kS, 0, ""}, SplitRow{"ten_minutes", "10min", 600 * kS, 0, ""},
                      SplitRow{"size", "500MiB", 0, 500 * kMiB, ""},
                      SplitRow{"capital_m_either", "10M", 0, 0, "minutes or a size; write m or MiB"},
                      SplitRow{"decimal_size", "1GB", 0, 0, "write GiB"},
                      SplitRow{"no_unit", "600", 0, 0, "no unit (give s, m, min, h or d; or B, KiB"},
                      SplitRow{"unknown_unit", "3w", 0, 0, "unknown unit 'w'"},
                      SplitRow{"too_large", "9000000TiB", 0, 0, "too large"}),
    kRowName);

// The text a file states for its split, and the dialog's choices become.
TEST(QuantityText, IsTheShortestExactSpellingAndReadsBack)
{
    const std::pair<int64_t, const char *> durations[] = {
        {3600 * kS, "1h"}, {90 * kS, "90s"}, {600 * kS, "10m"}, {86400 * kS, "1d"},
        {25 * 3600 * kS, "25h"}, {kS / 2, ""}, {0, ""}, {-60 * kS, ""}};
    for (const auto &[ns, text] : durations) {
        EXPECT_EQ(durationText(ns), text) << ns;
        if (*text) {
            EXPECT_EQ(readDuration(durationText(ns)).value, ns) << text;
        }
    }
    const std::pair<int64_t, const char *> sizes[] = {
        {500 * kMiB, "500MiB"}, {2 * kGiB, "2GiB"}, {1536 * 1024, "1536KiB"}, {1000, "1000B"}, {0, ""}};
    for (const auto &[bytes, text] : sizes) {
        EXPECT_EQ(sizeText(bytes), text) << bytes;
        if (*text) {
            EXPECT_EQ(readSize(sizeText(bytes)).value, bytes) << text;
        }
    }
}

} // namespace
} // namespace adcard::quantities
