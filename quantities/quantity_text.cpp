#include "quantities/quantity_text.h"

#include <array>
#include <limits>

namespace adcard::quantities {

namespace {

struct Unit {
    std::string_view name;
    int64_t factor;
};

constexpr std::array<Unit, 5> kDurationUnits{{
    {"s", kNsPerSecond},
    {"m", 60 * kNsPerSecond},
    {"min", 60 * kNsPerSecond},
    {"h", 3600 * kNsPerSecond},
    {"d", 86400 * kNsPerSecond},
}};

constexpr std::array<Unit, 5> kSizeUnits{{
    {"B", 1},
    {"KiB", int64_t{1} << 10},
    {"MiB", int64_t{1} << 20},
    {"GiB", int64_t{1} << 30},
    {"TiB", int64_t{1} << 40},
}};

// Spellings that some tools read as powers of 1000 and others as powers of
// 1024, with the binary unit to write instead.
constexpr std::array<std::pair<std::string_view, std::string_view>, 10> kAmbiguousSizes{{
    {"k", "KiB"}, {"K", "KiB"}, {"kB", "KiB"}, {"KB", "KiB"}, {"M", "MiB"},
    {"MB", "MiB"}, {"G", "GiB"}, {"GB", "GiB"}, {"T", "TiB"}, {"TB", "TiB"},
}};

constexpr std::string_view kDurationUnitList = "s, m, min, h or d";
constexpr std::string_view kSizeUnitList = "B, KiB, MiB, GiB or TiB";

struct Split {
    std::string error;
    int64_t number = 0;
    std::string_view unit;
};

// The whole number in front and the unit after it.
Split splitNumber(std::string_view text)
{
    Split s;
    if (text.empty()) {
        s.error = "no value";
        return s;
    }
    std::size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        if (s.number > (std::numeric_limits<int64_t>::max() - digit) / 10) {
            s.error = "too large";
            return s;
        }
        s.number = s.number * 10 + digit;
    }
    if (i == 0) {
        s.error = text.front() == '-' ? "negative" : "not a number followed by a unit";
        return s;
    }
    if (i < text.size() && (text[i] == '.' || text[i] == ',')) {
        s.error = "not a whole number (give it in a smaller unit)";
        return s;
    }
    if (i < text.size() && text[i] == ' ')
        ++i;
    s.unit = text.substr(i);
    return s;
}

const Unit *find(std::string_view unit, const auto &units)
{
    for (const Unit &u : units)
        if (u.name == unit)
            return &u;
    return nullptr;
}

Reading scale(const Split &s, const Unit &unit)
{
    Reading r;
    if (__builtin_mul_overflow(s.number, unit.factor, &r.value))
        r.error = "too large";
    return r;
}

std::string noUnit(std::string_view units) { return "no unit (give " + std::string(units) + ")"; }

std::string unknownUnit(std::string_view unit, std::string_view units)
{
    return "unknown unit '" + std::string(unit) + "' (give " + std::string(units) + ")";
}

std::string sizeUnitProblem(std::string_view unit)
{
    for (const auto &[name, binary] : kAmbiguousSizes) {
        if (name == unit) {
            // Appended rather than "'" + ...: GCC 12 at -O3 takes a one-byte
            // literal before a string for an overlapping copy (-Wrestrict).
            std::string why(1, '\'');
            why.append(unit).append("' may mean powers of 1000 or of 1024; write ").append(binary);
            return why;
        }
    }
    return unit.empty() ? noUnit(kSizeUnitList) : unknownUnit(unit, kSizeUnitList);
}

// The largest unit of `units` that divides `value` whole.
std::string shortest(int64_t value, const auto &units)
{
    for (auto u = units.rbegin(); u != units.rend(); ++u)
        if (u->name != "min" && value % u->factor == 0)
            return std::to_string(value / u->factor) + std::string(u->name);
    return {};
}

} // namespace

Reading readDuration(std::string_view text)
{
    const Split s = splitNumber(text);
    if (!s.error.empty())
        return {0, s.error};
    if (const Unit *unit = find(s.unit, kDurationUnits))
        return scale(s, *unit);
    return {0, s.unit.empty() ? noUnit(kDurationUnitList) : unknownUnit(s.unit, kDurationUnitList)};
}

Reading readSize(std::string_view text)
{
    const Split s = splitNumber(text);
    if (!s.error.empty())
        return {0, s.error};
    if (const Unit *unit = find(s.unit, kSizeUnits))
        return scale(s, *unit);
    return {0, sizeUnitProblem(s.unit)};
}

PeriodOrSize readPeriodOrSize(std::string_view text)
{
    const Split s = splitNumber(text);
    if (!s.error.empty())
        return {0, 0, s.error};
    if (find(s.unit, kDurationUnits)) {
        const Reading r = readDuration(text);
        return {r.value, 0, r.error};
    }
    if (find(s.unit, kSizeUnits)) {
        const Reading r = readSize(text);
        return {0, r.value, r.error};
    }
    // A period or a size: either may be meant.
    if (s.unit == "M")
        return {0, 0, "'M' may mean minutes or a size; write m or MiB"};
    for (const auto &[name, binary] : kAmbiguousSizes)
        if (name == s.unit)
            return {0, 0, sizeUnitProblem(s.unit)};
    const std::string both = std::string(kDurationUnitList) + "; or " + std::string(kSizeUnitList);
    return {0, 0, s.unit.empty() ? noUnit(both) : unknownUnit(s.unit, both)};
}

std::string durationText(int64_t ns)
{
    if (ns <= 0 || ns % kNsPerSecond != 0)
        return {};
    return shortest(ns, kDurationUnits);
}

std::string sizeText(int64_t bytes)
{
    if (bytes <= 0)
        return {};
    return shortest(bytes, kSizeUnits);
}

} // namespace adcard::quantities
