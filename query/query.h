#pragma once
// Questions asked of a whole recorded run: where a channel crosses a level,
// its highest or lowest peaks, when a digital input changes, where blocks are
// missing, and the spectrum of a range. The summary pyramid only decides
// where to look; every answer is a scan read from the file. Free of widgets,
// so the review window (in a thread of its own) and the command line ask the
// same code.
#include "recording/recording_reader.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace adcard::query {

// Shared with whoever waits for the answer: a flag that stops the query
// within a few milliseconds, and the share done, reported now and then from
// the query's own thread.
struct Control {
    const std::atomic<bool> *cancel = nullptr;
    std::function<void(double share)> progress;

    bool cancelled() const { return cancel && cancel->load(std::memory_order_relaxed); }
};

inline constexpr int64_t kWholeRun = std::numeric_limits<int64_t>::max();

enum class Outcome { Complete, Cancelled, Failed };

// What every answer carries besides its items.
struct Status {
    Outcome outcome = Outcome::Complete;
    std::string error;   // when Failed: what could not be read
    bool partial = false; // the run is still being written: answered up to what was flushed
    int64_t first = 0, end = 0; // the scans looked at
};

enum class Edge { Rising, Falling, Either };

struct LevelQuery {
    int channel = 0; // from 0
    double level = 0; // in the channel's unit (volts unless the run names another)
    Edge edge = Edge::Rising;
    double hysteresis = 0; // in that unit: how far back the signal must go before it counts again
    int64_t first = 0, end = kWholeRun;
    std::size_t limit = 1000; // crossings and intervals kept; all are counted
};

struct Crossing {
    int64_t scan = 0;
    int16_t code = 0; // the first code past the level
    bool rising = true;
};

// Scans [start, end) within the condition (above the level, until re-armed,
// for a rising search or either; below it for a falling one).
struct Interval {
    int64_t start = 0, end = 0;
    int16_t extreme = 0; // the code of the highest value above, of the lowest below
    bool open = false;   // still within it where the range ends
};

struct LevelResult : Status {
    std::vector<Crossing> crossings;
    std::vector<Interval> intervals;
    int64_t total = 0;          // crossings found, kept or not
    int64_t totalIntervals = 0;
};

// The levels' one rule (data/level.h), compared exactly, code by code:
// a rising search reports each scan where the value is > level after it was
// <= level - hysteresis; a falling one each scan where it is < level after
// it was >= level + hysteresis. Both start armed, so the range's first scan
// counts when it is already past the level. Either reports the events of
// both over the same scans: with no hysteresis, every crossing of the level
// (a scan exactly on the level re-arms both and fires neither).
LevelResult findCrossings(const RecordedRun &run, const LevelQuery &q, const Control &control = {});
// The same answer, from `before` (a complete answer to `q` over the run as
// it was) and only the scans added since: a followed run's search reads what
// the file gained, not the whole run again. Without hysteresis a trigger's
// state after a scan is that scan's own, so the search resumes at the last
// scan looked at; with hysteresis, or a list that is full, it asks again.
LevelResult findCrossingsSince(const RecordedRun &run, const LevelQuery &q, LevelResult before,
                               const Control &control = {});

struct PeakQuery {
    int channel = 0;
    bool highest = true; // in the channel's unit, whichever the sign of its scale
    std::size_t count = 10;
    int64_t apart = 0; // scans: no two peaks closer than this
    int64_t first = 0, end = kWholeRun;
    double prominence = -1; // in the channel's unit; negative: defaultProminence
};

struct Peak {
    int64_t scan = 0;
    int16_t code = 0;
};

// Distinct crests, highest first. A scan is a peak where, on each side,
// the signal falls by at least the prominence (one code at the least)
// before it reaches a scan as high (to the left) or higher (to the right):
// the first scan of a flat top counts, and a crest whose side runs to the
// range's edge without such a fall is not a peak. Of the peaks, the highest,
// then the highest at least `apart` from every one taken, and so on; of
// equal codes the earliest. Lowest: the same for troughs.
struct PeakResult : Status {
    std::vector<Peak> peaks; // highest (lowest) first
};

// 8 codes or 1 % of the card's full range of 4095 codes, the larger, in the
// unit of `cal`: above the card's noise, below any crest a user looks for.
double defaultProminence(const Calibration &cal);

PeakResult findPeaks(const RecordedRun &run, const PeakQuery &q, const Control &control = {});

struct DigitalQuery {
    int port = 0; // 0 or 1
    int bit = -1; // 0..15, or -1 for the whole port
    // When `match`: where the port comes to equal `pattern` on the bits of
    // `mask` (the range's first row counts when it already does).
    bool match = false;
    int mask = 0xff, pattern = 0;
    int64_t first = 0, end = kWholeRun;
    std::size_t limit = 1000;
};

struct DigitalEvent {
    int64_t scan = 0;
    int64_t timeNs = 0;
    int before = 0, after = 0; // the bit, or the port
};

struct DigitalResult : Status {
    std::vector<DigitalEvent> events;
    int64_t total = 0;
};

DigitalResult findChanges(const RecordedRun &run, const DigitalQuery &q, const Control &control = {});

struct LossResult : Status {
    std::vector<ScanGap> holes;
    int64_t totalHoles = 0;
    std::vector<RecordedMarker> markers;
};

LossResult findLosses(const RecordedRun &run, int64_t first, int64_t end, std::size_t limit);

} // namespace adcard::query
