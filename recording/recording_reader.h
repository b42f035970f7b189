#pragma once
// Reading a recording, as the review window sees it: no HDF5 type shows here,
// so the program can load the reader from the recorder module only when a
// file is first opened.
#include "data/data_source.h"
#include "data/statistics.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <span>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace adcard {

struct RecordedRunInfo {
    int number = 0;           // 1, 2, ... as in the file
    int64_t startTimeNs = 0;  // wall clock, ns since 1970-01-01 UTC
    std::string startTime;    // ISO 8601 as stored
    int channels = 0;
    int32_t scansPerBlock = 0;
    double scansPerSecond = 0; // from the run's settings; 0 if unknown
    int64_t blocks = 0;        // rows: blocks in the file
    int64_t scans = 0;         // scan space: up to the end of the last row's block
    int64_t missed = 0;
    int64_t dropped = 0;
    int64_t holes = 0;         // block indices with no row
    bool open = false;         // still being recorded
    Calibration calibration;   // as the file says
    ChannelUnits units;        // each channel's name and unit, as the file says; empty: volts
    // In a file of a series: the run's block index across the series of the
    // file's block 0, and whether the run began in an earlier file.
    int64_t seriesFirstBlock = 0;
    bool continues = false;

    // Channel c's codes straight to its unit.
    Calibration channelCalibration(int c) const { return inUnit(calibration, channelUnit(units, c)); }
};

struct RecordedMarker {
    int64_t scan = 0;
    int64_t timeNs = 0;
    std::string text;
};

// What an armed rule did, as the file's `events` table holds it.
struct RecordedEvent {
    int run = 0;
    int64_t scan = 0;   // in the run's scans
    int64_t timeNs = 0; // wall clock of the tick that saw it
    std::string rule;
    bool fired = true; // false: cleared
    double value = 0;  // in the channel's unit (a port's value for an input)
    std::string note;  // what went wrong with an action, or empty
};

// Rules armed from run `run` on (`text` empty: disarmed).
struct RecordedRules {
    int run = 0;
    int64_t timeNs = 0;
    std::string text;
};

struct RecordedDigital {
    int64_t scan = 0;
    int64_t timeNs = 0;
    int16_t port0 = 0;
    int16_t port1 = 0;
};

// One channel's extremes over one span of a summary level: what a query
// prunes with. Codes are the span's own samples, so an answer read from them
// is exact.
struct SpanExtremes {
    int64_t first = 0, end = 0; // the span's scans
    int64_t count = 0;          // present scans in it, > 0
    int16_t min = 0, max = 0;
};

struct LevelSpans {
    std::vector<SpanExtremes> spans; // in order; a span not listed holds no present scan
    int64_t readyEnd = 0;            // from this scan on the level does not answer yet: look finer
};

// Scans [first, end) of blocks that have no row: missed or dropped.
struct ScanGap {
    int64_t first = 0, end = 0;
};

class RecordedRun : public DataSource {
public:
    virtual const RecordedRunInfo &info() const = 0;
    virtual std::vector<RecordedMarker> markers() const = 0;
    virtual std::vector<RecordedDigital> digital(int64_t firstScan, int64_t lastScan) const = 0;
    // At most `most` of them, evenly spread, when there are more (a day
    // holds 864,000): what a strip `most` pixels wide can show.
    virtual std::vector<RecordedDigital> digitalThinned(int64_t firstScan, int64_t lastScan, std::size_t most) const
    {
        if (most == 0)
            return {};
        auto all = digital(firstScan, lastScan);
        const std::size_t stride = std::max<std::size_t>(1, (all.size() + most - 1) / most);
        std::vector<RecordedDigital> some;
        for (std::size_t i = 0; i < all.size(); i += stride)
            some.push_back(all[i]);
        return some;
    }
    // Exact, over the present scans in [firstScan, lastScan).
    virtual std::vector<RangeStats> stats(int64_t firstScan, int64_t lastScan) const = 0;
    // The same as each channel's count, extremes and integer sums, so that
    // ranges read apart (the files of a series) add up exactly. This default
    // rebuilds the sums from stats(), to the nearest integer.
    virtual std::vector<Stats> sums(int64_t firstScan, int64_t lastScan) const
    {
        std::vector<Stats> out;
        for (const RangeStats &r : stats(firstScan, lastScan)) {
            Stats s;
            if (r.count > 0)
                s.addSummary(r.count, int16_t(r.min), int16_t(r.max), r.mean,
                             std::sqrt(std::max(0.0, r.rms * r.rms - r.mean * r.mean)));
            out.push_back(s);
        }
        return out;
    }
    // Calls `scan(index, codes)` for each present scan in [firstScan, lastScan),
    // in order; stops early and returns false when it returns false.
    virtual bool forEachScan(int64_t firstScan, int64_t lastScan,
                             const std::function<bool(int64_t, std::span<const int16_t>)> &scan) const = 0;

    // For queries. The summary levels, 1..summaryLevels(), level L cutting
    // the scan space into spans of summaryWidth(L) scans.
    virtual int summaryLevels() const { return 0; }
    virtual int64_t summaryWidth(int level) const { return level == 0 ? 1 : 0; }
    // Channel `channel`'s spans of `level` that lie within [first, end).
    virtual LevelSpans levelSpans(int level, int channel, int64_t first, int64_t end) const
    {
        (void)level, (void)channel, (void)end;
        return {{}, first};
    }
    // The present scans of [first, end) in order, as stretches of
    // consecutive scans (codes channel after channel, scan after scan);
    // false when `fn` stopped. The run stays locked meanwhile: keep ranges short.
    virtual bool readScans(int64_t first, int64_t end,
                           const std::function<bool(int64_t firstScan, const int16_t *codes, int64_t scans)> &fn) const
    {
        return forEachScan(first, end, [&](int64_t k, std::span<const int16_t> c) { return fn(k, c.data(), 1); });
    }
    // The gaps within [first, end), at most `most` of them; `total` counts all.
    virtual std::vector<ScanGap> gaps(int64_t first, int64_t end, std::size_t most, int64_t &total) const
    {
        (void)first, (void)end, (void)most;
        total = 0;
        return {};
    }
    // The gaps within [first, end) as a view `scale` scans a pixel shows
    // them: gaps closer than about `scale` may come as one, with the present
    // scans between them, and a gap's ends may be off by as much. At most
    // `most` of them. Read from the summaries where they answer, so that it
    // costs what the view's columns cost, however many holes the run has.
    virtual std::vector<ScanGap> gapsAtScale(int64_t first, int64_t end, int64_t scale, std::size_t most) const
    {
        (void)scale;
        int64_t total = 0;
        return gaps(first, end, most, total);
    }
    // Why the latest forEachScan that returned false without being stopped
    // could not read on, or what a read of samples or summaries since then
    // could not read (those parts are skipped); empty when none failed.
    virtual std::string readError() const { return {}; }

    // Share of the run whose summaries are ready (1 for a file that has them;
    // an older file is summarised in the background).
    virtual double summaryProgress() const = 0;
};

// A file's place in a series: one recording split into files.
struct SeriesMembership {
    std::string id;      // 32 hex digits, the same in each file of the series
    int64_t place = 0;   // 0 for the series' first file, then 1, 2, ...
    int64_t startNs = 0; // wall clock of the series' first scan
    std::string split;   // what it is split by: "1h", "10m", "500MiB"
};

class RecordingReader {
public:
    virtual ~RecordingReader() = default;
    virtual int formatVersion() const = 0;
    virtual std::vector<RecordedRunInfo> runs() const = 0;
    // Null with the reason in `error` when the run cannot be read.
    virtual std::unique_ptr<RecordedRun> openRun(int number, std::string &error) = 0;
    // For a file still being recorded: takes in what has been flushed since;
    // true when something changed.
    virtual bool refresh() = 0;
    // The rules' events of every run, in order of run and scan: the first
    // `most`, with `total` counting them all. None in a file before format 4.
    virtual std::vector<RecordedEvent> events(std::size_t most, int64_t &total) const
    {
        (void)most;
        total = 0;
        return {};
    }
    // Those of run `run` alone, in order of scan: what a view of the run
    // lists, read without the other runs' events.
    virtual std::vector<RecordedEvent> runEvents(int run, std::size_t most, int64_t &total) const
    {
        std::vector<RecordedEvent> out;
        int64_t all = 0;
        total = 0;
        for (RecordedEvent &e : events(std::numeric_limits<std::size_t>::max(), all)) {
            if (e.run != run)
                continue;
            ++total;
            if (out.size() < most)
                out.push_back(std::move(e));
        }
        return out;
    }
    // Each time rules were armed or disarmed while recording, in order.
    virtual std::vector<RecordedRules> rules() const { return {}; }
    // The file's place in a series; none for a recording of its own.
    virtual std::optional<SeriesMembership> series() const { return std::nullopt; }
    // What a reader of several files left out or found amiss (a file
    // skipped, one missing from the middle, another series beside it), for
    // the operator to see; none for one file.
    virtual std::vector<std::string> notes() const { return {}; }
};

// The module's second entry: opens `path` for reading, or returns null and
// says why in `error` ("not an HDF5 file", "not a recording", "no such file", ...).
using OpenRecordingFn = RecordingReader *(*)(const char *path, std::string *error);
inline constexpr const char *kOpenRecordingEntry = "adcard_open_recording";

} // namespace adcard
