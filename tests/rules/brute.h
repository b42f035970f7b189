#pragma once
// The rules' meaning written out plainly, value by value, for the tests to
// hold the Engine to: each scan's value in long double, compared with the
// levels with a tie of a millionth of a code's step, and the inputs bit by
// bit. It shares nothing with the Engine or with the level's code sets.
#include "rules/engine.h"

#include <cmath>
#include <cstdint>
#include <vector>

namespace adcard::rules::brute {

struct Scan {
    int64_t scan = 0;
    std::vector<int16_t> codes; // one per channel
};

struct Tick {
    int64_t scan = 0; // where the tick's digital row sits
    int16_t port[2] = {0, 0};
};

inline long double valueOf(const Calibration &cal, int32_t code)
{
    return (static_cast<long double>(code) - cal.offset) * static_cast<long double>(cal.scale);
}

// -1, 0, 1 as v is below, on or above the level.
inline int compare(long double v, double level, const Calibration &cal)
{
    const long double d = v - level;
    const long double tie = 1e-6L * std::fabs(static_cast<long double>(cal.scale));
    return d > tie ? 1 : d < -tie ? -1 : 0;
}

inline bool fires(const LevelCondition &c, long double v, const Calibration &cal)
{
    switch (c.kind) {
    case LevelKind::Above: return compare(v, c.level, cal) > 0;
    case LevelKind::Below: return compare(v, c.level, cal) < 0;
    case LevelKind::Outside: return compare(v, c.level, cal) < 0 || compare(v, c.level2, cal) > 0;
    case LevelKind::Inside: return compare(v, c.level, cal) >= 0 && compare(v, c.level2, cal) <= 0;
    }
    return false;
}

inline bool clears(const LevelCondition &c, long double v, const Calibration &cal)
{
    const double h = c.hysteresis;
    switch (c.kind) {
    case LevelKind::Above: return compare(v, c.level - h, cal) <= 0;
    case LevelKind::Below: return compare(v, c.level + h, cal) >= 0;
    case LevelKind::Outside: return compare(v, c.level + h, cal) >= 0 && compare(v, c.level2 - h, cal) <= 0;
    case LevelKind::Inside: return compare(v, c.level - h, cal) < 0 || compare(v, c.level2 + h, cal) > 0;
    }
    return false;
}

// One level rule over scans in order; a scan that does not follow the one
// before it breaks the duration.
inline std::vector<Event> levelEvents(int rule, const LevelWhen &w, const Calibration &cal, double scansPerSecond,
                                      const std::vector<Scan> &scans)
{
    std::vector<Event> out;
    const auto need = static_cast<int64_t>(std::ceil(w.forMs * scansPerSecond / 1000.0));
    bool active = false;
    int64_t held = 0, expected = -1;
    for (const Scan &s : scans) {
        if (s.scan != expected)
            held = 0;
        expected = s.scan + 1;
        const long double v = valueOf(cal, s.codes[std::size_t(w.channel - 1)]);
        if (active) {
            if (clears(w.level, v, cal)) {
                active = false;
                out.push_back({rule, s.scan, false, double(v)});
            }
            continue;
        }
        held = fires(w.level, v, cal) ? held + 1 : 0;
        if (held > 0 && held >= need) {
            active = true;
            held = 0;
            out.push_back({rule, s.scan, true, double(v)});
        }
    }
    return out;
}

inline std::vector<Event> inputEvents(int rule, const InputWhen &w, const std::vector<Tick> &ticks)
{
    std::vector<Event> out;
    bool was = false, first = true;
    int lastBit = 0;
    for (const Tick &t : ticks) {
        const unsigned port = static_cast<uint16_t>(t.port[w.port]);
        const int bit = (port >> w.bit) & 1U;
        if (!w.match && w.edge == InputEdge::Either) {
            if (!first && bit != lastBit)
                out.push_back({rule, t.scan, true, double(port)});
        } else {
            bool holds = false;
            if (w.match)
                holds = (port & unsigned(w.mask)) == unsigned(w.pattern);
            else
                holds = w.edge == InputEdge::Rising ? bit == 1 : bit == 0;
            if (holds != was)
                out.push_back({rule, t.scan, holds, double(port)});
            was = holds;
        }
        first = false;
        lastBit = bit;
    }
    return out;
}

} // namespace adcard::rules::brute
