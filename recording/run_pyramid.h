#pragma once
// A recorded run seen as a pyramid of summaries over its raw scans, free of
// any file format. Level L (1, 2, ...) cuts the run's scan space into spans of
// width(L) scans; an entry sums up the present scans of one span. Where a
// level is not ready yet (the tail of a live run, an older file still being
// summarised) the finer levels, and at last the raw scans, answer instead.
#include "recording/recording_reader.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <vector>

namespace adcard {

// One channel's share of a reduction.
struct ChannelAcc {
    int64_t count = 0;
    int16_t min = INT16_MAX;
    int16_t max = INT16_MIN;
    double sum = 0;
    double sumSq = 0;

    void addScan(int16_t v)
    {
        ++count;
        min = v < min ? v : min;
        max = v > max ? v : max;
        sum += v;
        sumSq += double(v) * v;
    }
    // An entry with population standard deviation `sd`.
    void addEntry(int64_t n, int16_t lo, int16_t hi, double mean, double sd)
    {
        if (n <= 0)
            return;
        count += n;
        min = lo < min ? lo : min;
        max = hi > max ? hi : max;
        sum += double(n) * mean;
        sumSq += double(n) * (sd * sd + mean * mean);
    }
    void add(const ChannelAcc &o)
    {
        if (o.count == 0)
            return;
        count += o.count;
        min = o.min < min ? o.min : min;
        max = o.max > max ? o.max : max;
        sum += o.sum;
        sumSq += o.sumSq;
    }
};

// One stored entry, its per-channel values `channels` long.
struct EntryRef {
    int64_t span = 0; // start / width(level)
    int64_t count = 0;
    const int16_t *min = nullptr;
    const int16_t *max = nullptr;
    const float *mean = nullptr;
    const float *sd = nullptr;
};

// Entries of one level, one array per field (per channel, entry after entry).
struct EntryTable {
    int channels = 0;
    std::vector<int64_t> span, count;
    std::vector<int16_t> min, max;
    std::vector<float> mean, sd;

    std::size_t size() const { return span.size(); }
    EntryRef at(std::size_t i) const
    {
        const std::size_t c = std::size_t(channels) * i;
        return {span[i], count[i], &min[c], &max[c], &mean[c], &sd[c]};
    }
    void push(int64_t s, std::span<const ChannelAcc> acc);
    void clear();
};

using StretchFn = std::function<void(int64_t firstScan, const int16_t *codes, int64_t scans)>;

class PyramidRun : public RecordedRun {
public:
    int channels() const override { return info().channels; }
    int64_t scanCount() const override { return info().scans; }
    double scansPerSecond() const override { return info().scansPerSecond; }
    void summarise(double first, double last, int columns, std::span<ColumnSummary> out) const override;
    std::vector<RangeStats> stats(int64_t firstScan, int64_t lastScan) const override;
    int summaryLevels() const override { return levels(); }
    int64_t summaryWidth(int level) const override
    {
        return level >= 0 && level <= levels() ? width(level) : 0;
    }
    // `first` and `end` on the level's grid.
    LevelSpans levelSpans(int level, int channel, int64_t first, int64_t end) const override;
    bool readScans(int64_t first, int64_t end,
                   const std::function<bool(int64_t, const int16_t *, int64_t)> &fn) const override;

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
    // Adds spans [first, end) of `level` into `acc`, descending where the
    // level is not ready; `budget` counts the raw scans still allowed. Raw
    // squares are summed only when `squares`.
    void addSpans(int level, int64_t first, int64_t end, std::span<ChannelAcc> acc, int64_t &budget,
                  bool squares) const;
    void addExact(int64_t first, int64_t end, int level, std::span<ChannelAcc> acc) const;

    std::vector<int64_t> widths_{1};
};

// Builds the levels of an older file's run from its raw scans, in scan order.
class PyramidBuilder {
public:
    PyramidBuilder(int channels, int64_t base, int64_t factor, int levels);
    // Present scans from `firstScan` on, after every scan added before.
    void addScans(int64_t firstScan, const int16_t *codes, int64_t scans);
    // No scan before `scan` is still to come: entries of spans ending there
    // or before are complete.
    void advanceTo(int64_t scan);
    // Moves the entries completed so far onto the end of `tables` (one per
    // level, from level 1).
    void take(std::vector<EntryTable> &tables);
    int64_t position() const { return position_; }

private:
    void close(int level, int64_t nextSpan);

    int channels_;
    std::vector<int64_t> widths_;
    std::vector<int64_t> span_;              // per level, the open span
    std::vector<std::vector<ChannelAcc>> acc_; // per level
    std::vector<EntryTable> done_;
    int64_t position_ = 0;
};

} // namespace adcard
