#include "data/level.h"

#include <algorithm>
#include <cmath>

namespace adcard {

namespace {

constexpr int32_t kLowest = std::numeric_limits<int16_t>::min();
constexpr int32_t kHighest = std::numeric_limits<int16_t>::max();

bool compares(const Calibration &cal, Compare cmp, double level, int32_t code)
{
    const double v = cal.volts(code);
    const double tie = 1e-9 * std::fabs(cal.scale);
    switch (cmp) {
    case Compare::Greater: return v > level + tie;
    case Compare::GreaterOrEqual: return v >= level - tie;
    case Compare::Less: return v < level - tie;
    case Compare::LessOrEqual: return v <= level + tie;
    }
    return false;
}

CodeRange intersect(CodeRange a, CodeRange b)
{
    return {std::max(a.lo, b.lo), std::min(a.hi, b.hi)};
}

} // namespace

bool CodeSet::containsAny(int32_t lo, int32_t hi) const
{
    if (lo > hi)
        return false;
    if (!outside)
        return !intersect(range, {lo, hi}).empty();
    // Some code of lo..hi lies outside the range unless the range covers it.
    return range.empty() || lo < range.lo || hi > range.hi;
}

bool CodeSet::containsAll(int32_t lo, int32_t hi) const
{
    if (lo > hi)
        return true;
    if (!outside)
        return range.lo <= lo && hi <= range.hi;
    return range.empty() || intersect(range, {lo, hi}).empty();
}

CodeRange codesWhere(const Calibration &cal, Compare cmp, double level)
{
    if (std::isnan(level))
        return {};
    // The comparison is monotonic in the code: it holds on a prefix or a
    // suffix of the codes, or on all or none of them.
    const bool atLowest = compares(cal, cmp, level, kLowest);
    const bool atHighest = compares(cal, cmp, level, kHighest);
    if (atLowest == atHighest)
        return atLowest ? CodeRange{kLowest, kHighest} : CodeRange{};
    // Find the last code that compares as the lowest does.
    int32_t lo = kLowest, hi = kHighest; // compares(lo) == atLowest != compares(hi)
    while (hi - lo > 1) {
        const int32_t mid = lo + (hi - lo) / 2;
        (compares(cal, cmp, level, mid) == atLowest ? lo : hi) = mid;
    }
    return atLowest ? CodeRange{kLowest, lo} : CodeRange{hi, kHighest};
}

LevelTrigger levelTrigger(const Calibration &cal, const LevelCondition &c)
{
    const double h = std::max(0.0, c.hysteresis);
    const double lo = std::min(c.level, c.level2), hi = std::max(c.level, c.level2);
    switch (c.kind) {
    case LevelKind::Above:
        return {{codesWhere(cal, Compare::Greater, c.level)},
                {codesWhere(cal, Compare::LessOrEqual, c.level - h)}};
    case LevelKind::Below:
        return {{codesWhere(cal, Compare::Less, c.level)},
                {codesWhere(cal, Compare::GreaterOrEqual, c.level + h)}};
    case LevelKind::Outside:
        return {{intersect(codesWhere(cal, Compare::GreaterOrEqual, lo),
                           codesWhere(cal, Compare::LessOrEqual, hi)),
                 true},
                {intersect(codesWhere(cal, Compare::GreaterOrEqual, lo + h),
                           codesWhere(cal, Compare::LessOrEqual, hi - h))}};
    case LevelKind::Inside:
        return {{intersect(codesWhere(cal, Compare::GreaterOrEqual, lo),
                           codesWhere(cal, Compare::LessOrEqual, hi))},
                {intersect(codesWhere(cal, Compare::GreaterOrEqual, lo - h),
                           codesWhere(cal, Compare::LessOrEqual, hi + h)),
                 true}};
    }
    return {};
}

} // namespace adcard
