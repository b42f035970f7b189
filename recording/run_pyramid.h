#pragma once
// A recorded run seen as a pyramid of summaries over its raw scans, free of
// any file format. Level L (1, 2, ...) cuts the run's scan space into spans of
// width(L) scans; an entry sums up the present scans of one span. Where a
// level is not ready yet (the tail of a live run, an older file still being
// summarised) the finer levels, and at last the raw scans, answer instead.
#include "recording/pyramid_builder.h"
#include "recording/recording_reader.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <vector>

namespace adcard {

using StretchFn = std::function<void(int64_t firstScan, const int16_t *codes, int64_t scans)>;

class PyramidRun : public RecordedRun {
public:
    int channels() const override { return info().channels; }
    int64_t scanCount() const override { return info().scans; }
    double scansPerSecond() const override { return info().scansPerSecond; }
    Calibration calibration() const override { return info().calibration; }
    ChannelUnits channelUnits() const override { return info().units; }
    void summarise(double first, double last, int columns, std::span<ColumnSummary> out) const override;
    std::vector<RangeStats> stats(int64_t firstScan, int64_t lastScan) const override;
    std::vector<Stats> sums(int64_t firstScan, int64_t lastScan) const override;
    int summaryLevels() const override { return levels(); }
    int64_t summaryWidth(int level) const override
    {
        return level >= 0 && level <= levels() ? width(level) : 0;
    }
    // `first` and `end` on the level's grid.
    LevelSpans levelSpans(int level, int channel, int64_t first, int64_t end) const override;
    bool readScans(int64_t first, int64_t end,
                   const std::function<bool(int64_t, const int16_t *, int64_t)> &fn) const override;
    std::vector<ScanGap> gapsAtScale(int64_t first, int64_t end, int64_t scale, std::size_t most) const override;

    // Scans per entry of `level`; 1 for level 0, the raw scans.
    int64_t width(int level) const { return widths_[std::size_t(level)]; }
    int levels() const { return int(widths_.size()) - 1; }

protected:
    // The base width and the factor between levels; widths beyond 2^50
    // scans are left out.
    void setGeometry(int64_t base, int64_t factor, int levels);

    // Spans [0, readySpans(L)) of `level` are answered by its entries alone:
    // a span without an entry there has no present scans.
    virtual int64_t readySpans(int level) const = 0;
    // Entries of `level` with span in [firstSpan, endSpan), in order.
    virtual void forEntries(int level, int64_t firstSpan, int64_t endSpan,
                            const std::function<void(const EntryRef &)> &fn) const = 0;
    // The present raw scans in [first, end), in order, as stretches.
    virtual void forStretches(int64_t first, int64_t end, const StretchFn &fn) const = 0;
    // Held while a reduction reads levels that another thread may extend.
    virtual std::unique_lock<std::mutex> lockLevels() const { return {}; }
    // Bounds the raw scans one summarise() may read where no level is ready.
    virtual int64_t rawBudget() const { return int64_t{1} << 22; }

private:
    // summarise()'s two ways: columns narrower than a level-1 entry from the
    // scans, wider ones from `level`'s entries (and finer where not ready).
    void columnsFromScans(double first, double w, int columns, std::span<Stats> acc) const;
    void columnsFromLevel(int level, double first, double w, int columns, std::span<Stats> acc) const;
    // Adds spans [first, end) of `level` into `acc`, descending where the
    // level is not ready; `budget` counts the raw scans still allowed.
    void addSpans(int level, int64_t first, int64_t end, std::span<Stats> acc, int64_t &budget) const;
    void addExact(int64_t first, int64_t end, int level, std::span<Stats> acc) const;

    std::vector<int64_t> widths_{1};
};

} // namespace adcard
