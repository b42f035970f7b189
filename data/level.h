#pragma once
// A level, in a channel's unit, as a set of codes. The codes whose value is
// above a level are found once, so that every scan is compared as an integer
// and a level that is exactly a code's value (0 V, ±2 V, ±4 V on the panel's
// card) behaves the same in a live rule, in a search of a file and in a
// brute-force check over the raw samples.
//
// The one definition of a level condition with hysteresis h:
//   above L        fires when value > L;           clears (re-arms) when value <= L - h
//   below L        fires when value < L;           clears when value >= L + h
//   outside L1 L2  fires when value < L1 or > L2;  clears when L1 + h <= value <= L2 - h
//   inside L1 L2   fires when L1 <= value <= L2;   clears when value < L1 - h or > L2 + h
// A condition starts cleared (armed), so one that holds at the first scan
// fires there.
#include "data/calibration.h"

#include <cstdint>
#include <limits>

namespace adcard {

// Codes lo..hi, both included; empty when lo > hi.
struct CodeRange {
    int32_t lo = 1, hi = 0;

    bool empty() const { return lo > hi; }
    bool contains(int32_t code) const { return code >= lo && code <= hi; }
};

// A range of codes, or every code outside it.
struct CodeSet {
    CodeRange range;
    bool outside = false;

    bool contains(int32_t code) const { return range.contains(code) != outside; }
    // Whether some, or every, code of lo..hi belongs: a span's extremes are
    // enough to skip it.
    bool containsAny(int32_t lo, int32_t hi) const;
    bool containsAll(int32_t lo, int32_t hi) const;
};

enum class Compare { Greater, GreaterOrEqual, Less, LessOrEqual };

// The 16-bit codes whose value under `cal` compares so with `level`. Values
// within a billionth of a code's step of the level count as equal to it, so
// that the rounding of (code - offset) * scale never moves a code that is
// exactly on the level to one side. Works for either sign of the scale.
CodeRange codesWhere(const Calibration &cal, Compare cmp, double level);

enum class LevelKind { Above, Below, Outside, Inside };

struct LevelCondition {
    LevelKind kind = LevelKind::Above;
    double level = 0;  // above and below; outside and inside: the lower level
    double level2 = 0; // outside and inside: the upper level
    double hysteresis = 0; // >= 0, in the unit
};

// The condition as two disjoint sets of codes: where it fires, and where it
// clears. Between the two (the hysteresis band) the state stays as it was.
struct LevelTrigger {
    CodeSet fire, clear;
};

LevelTrigger levelTrigger(const Calibration &cal, const LevelCondition &c);

// The state of one trigger along a channel's scans.
struct LevelState {
    bool active = false;

    // +1 when `code` fires the trigger, -1 when it clears it, 0 otherwise.
    int step(const LevelTrigger &t, int32_t code)
    {
        if (!active && t.fire.contains(code)) {
            active = true;
            return 1;
        }
        if (active && t.clear.contains(code)) {
            active = false;
            return -1;
        }
        return 0;
    }
};

} // namespace adcard
