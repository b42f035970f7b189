// The level's code sets against the comparison done value by value over
// every 16-bit code, for levels that sit exactly on a code (where rounding
// would otherwise put a code on either side), between codes, beyond the
// codes' range, and for an inverting channel.
#include "data/channel_units.h"
#include "data/level.h"
#include "tests/support/row_name.h"

#include <gtest/gtest.h>

#include <cmath>

namespace adcard {
namespace {

using ::PrintTo;

struct LevelRow {
    const char *name;
    Calibration cal;
    LevelCondition cond;
};

// The definition, written out on the exact value: an integer code step
// count as a rational, so no rounding enters. The panel's value is
// (code - 2048) * 10 / 4095, compared here through long double with the
// level rounded to the nearest millionth of a code step.
long double exactValue(const Calibration &cal, int32_t code)
{
    return (static_cast<long double>(code) - cal.offset) * static_cast<long double>(cal.scale);
}

int cmpExact(const Calibration &cal, int32_t code, double level)
{
    const long double d = exactValue(cal, code) - level;
    const long double tie = 1e-6L * std::fabs(static_cast<long double>(cal.scale));
    return d > tie ? 1 : d < -tie ? -1 : 0;
}

bool firesBrute(const Calibration &cal, const LevelCondition &c, int32_t code)
{
    const double lo = std::min(c.level, c.level2), hi = std::max(c.level, c.level2);
    switch (c.kind) {
    case LevelKind::Above: return cmpExact(cal, code, c.level) > 0;
    case LevelKind::Below: return cmpExact(cal, code, c.level) < 0;
    case LevelKind::Outside: return cmpExact(cal, code, lo) < 0 || cmpExact(cal, code, hi) > 0;
    case LevelKind::Inside: return cmpExact(cal, code, lo) >= 0 && cmpExact(cal, code, hi) <= 0;
    }
    return false;
}

bool clearsBrute(const Calibration &cal, const LevelCondition &c, int32_t code)
{
    const double h = c.hysteresis;
    const double lo = std::min(c.level, c.level2), hi = std::max(c.level, c.level2);
    switch (c.kind) {
    case LevelKind::Above: return cmpExact(cal, code, c.level - h) <= 0;
    case LevelKind::Below: return cmpExact(cal, code, c.level + h) >= 0;
    case LevelKind::Outside: return cmpExact(cal, code, lo + h) >= 0 && cmpExact(cal, code, hi - h) <= 0;
    case LevelKind::Inside: return cmpExact(cal, code, lo - h) < 0 || cmpExact(cal, code, hi + h) > 0;
    }
    return false;
}

class LevelCodes : public ::testing::TestWithParam<LevelRow> {};

TEST_P(LevelCodes, EqualTheValueByValueComparisonAtEveryCode)
{
    const LevelRow &row = GetParam();
    const LevelTrigger t = levelTrigger(row.cal, row.cond);
    int fires = 0;
    for (int32_t code = INT16_MIN; code <= INT16_MAX; ++code) {
        ASSERT_EQ(t.fire.contains(code), firesBrute(row.cal, row.cond, code)) << "code " << code;
        ASSERT_EQ(t.clear.contains(code), clearsBrute(row.cal, row.cond, code)) << "code " << code;
        ASSERT_FALSE(t.fire.contains(code) && t.clear.contains(code)) << "code " << code;
        fires += t.fire.contains(code);
    }
    // Spans: a span's extremes decide as well as its codes one by one.
    for (int32_t lo = 3600; lo < 3700; lo += 7)
        for (int32_t hi = lo; hi < lo + 40; hi += 5) {
            bool any = false, all = true;
            for (int32_t c = lo; c <= hi; ++c)
                any |= t.fire.contains(c), all &= t.fire.contains(c);
            EXPECT_EQ(t.fire.containsAny(lo, hi), any) << lo << ".." << hi;
            EXPECT_EQ(t.fire.containsAll(lo, hi), all) << lo << ".." << hi;
        }
    (void)fires;
}

const Calibration kVolts{};
// An inverting amplifier: -2.5 units per volt.
const Calibration kInverting = inUnit(kVolts, ChannelUnit{"", "bar", -2.5, 1.0});
const Calibration kBar = inUnit(kVolts, ChannelUnit{"", "bar", 2.5, -1.0});

INSTANTIATE_TEST_SUITE_P(
    , LevelCodes,
    ::testing::Values(
        LevelRow{"above_0V_exactly_code_2048", kVolts, {LevelKind::Above, 0.0}},
        LevelRow{"above_4V_exactly_a_code", kVolts, {LevelKind::Above, 4.0}},
        LevelRow{"below_minus_2V_exactly_a_code", kVolts, {LevelKind::Below, -2.0, 0, 0.2}},
        LevelRow{"below_minus_2_0001V", kVolts, {LevelKind::Below, -2.0001}},
        LevelRow{"above_between_codes_hysteresis", kVolts, {LevelKind::Above, 1.2345, 0, 0.5}},
        LevelRow{"above_low_code_range", kVolts, {LevelKind::Above, -4.9}},
        LevelRow{"above_beyond_every_code", kVolts, {LevelKind::Above, 1e9}},
        LevelRow{"below_beyond_every_code", kVolts, {LevelKind::Below, -1e9}},
        LevelRow{"outside_band", kVolts, {LevelKind::Outside, -1.0, 2.0, 0.1}},
        LevelRow{"inside_band_levels_swapped", kVolts, {LevelKind::Inside, 2.0, -1.0, 0.1}},
        LevelRow{"outside_hysteresis_wider_than_band", kVolts, {LevelKind::Outside, 0.0, 0.1, 1.0}},
        LevelRow{"bar_above_exact", kBar, {LevelKind::Above, 9.0, 0, 1.0}},
        LevelRow{"inverting_above", kInverting, {LevelKind::Above, 2.0, 0, 0.5}},
        LevelRow{"inverting_below", kInverting, {LevelKind::Below, 2.0}},
        LevelRow{"inverting_inside", kInverting, {LevelKind::Inside, -3.0, 4.0, 0.25}}),
    kRowName);

TEST(LevelState, FiresAtTheFirstScanThatHoldsAndReArmsOnlyPastTheHysteresis)
{
    // Above 0 V with 0.5 V hysteresis, on codes: 2048 is exactly 0 V.
    const LevelTrigger t = levelTrigger(kVolts, {LevelKind::Above, 0.0, 0, 0.5});
    const int32_t codes[] = {2049, 2048, 2049, 2048 - 205, 2049, 2048 - 204, 2200};
    const int expected[] = {1, -0, 0, -1, 1, 0, 0};
    LevelState s;
    for (std::size_t i = 0; i < std::size(codes); ++i)
        EXPECT_EQ(s.step(t, codes[i]), expected[i]) << "scan " << i;
}

} // namespace
} // namespace adcard
