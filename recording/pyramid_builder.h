#pragma once
// The summary pyramid of one run, built from its present scans in order:
// by the writer as blocks arrive, and by the reader for an older file that
// has none. Level L entry j covers the run's scans [j * w, (j + 1) * w),
// w = width(L); each level covers `factor` entries of the one below. Only
// present scans count: a missed block leaves a gap, and an entry with no scan
// is never made. An entry is complete once no scan before its end is still
// to come (advanceTo), or when the run ends (finish).
//
// Sums are kept as integers, so an entry of any level equals a reduction of
// its raw scans exactly, however many levels it went through.
#include "data/statistics.h"
#include "recording/format.h"

#include <cstdint>
#include <span>
#include <vector>

namespace adcard {

// One stored entry, its per-channel values `channels` long.
struct EntryRef {
    int64_t span = 0; // start / width(level)
    int64_t count = 0;
    const int16_t *min = nullptr;
    const int16_t *max = nullptr;
    const int64_t *sum = nullptr;   // of the codes
    const int64_t *sumSq = nullptr; // of their squares
};

// Entries of one level, one array per field (per channel, entry after entry).
struct EntryTable {
    int channels = 0;
    std::vector<int64_t> span, count;
    std::vector<int16_t> min, max;
    std::vector<int64_t> sum, sumSq;

    std::size_t size() const { return span.size(); }
    EntryRef at(std::size_t i) const
    {
        const std::size_t c = std::size_t(channels) * i;
        return {span[i], count[i], &min[c], &max[c], &sum[c], &sumSq[c]};
    }
    void push(int64_t s, std::span<const Stats> acc);
    // Entry i's channel k as the accumulator holds it.
    Stats stats(std::size_t i, std::size_t k) const
    {
        const std::size_t c = std::size_t(channels) * i + k;
        return {count[i], min[c], max[c], sum[c], sumSq[c]};
    }
    void append(const EntryTable &from);
    // Drops the first `n` entries; keeps only the first `n`.
    void dropFront(std::size_t n);
    void truncate(std::size_t n);
    void clear() { dropFront(size()); }
};

class PyramidBuilder {
public:
    explicit PyramidBuilder(int channels, const format::PyramidShape &shape = format::kPyramid);

    int levels() const { return int(widths_.size()) - 1; }
    int64_t width(int level) const { return widths_[std::size_t(level)]; }

    // Present scans from `firstScan` on, after every scan added before
    // (channel c of scan k at k * channels + c).
    void addScans(int64_t firstScan, const int16_t *codes, int64_t scans);
    // No scan before `scan` is still to come: entries of spans ending there
    // or before are complete.
    void advanceTo(int64_t scan);
    // The run ends: its last, partial entries are complete too.
    void finish();
    // Moves the entries completed so far onto the end of `tables` (one per
    // level, from level 1).
    void take(std::vector<EntryTable> &tables);
    int64_t position() const { return position_; }

private:
    void close(int level, int64_t nextSpan);

    int channels_;
    std::vector<int64_t> widths_;         // per level, 0 being the scans
    std::vector<int64_t> span_;           // per level, the open span
    std::vector<std::vector<Stats>> acc_; // per level
    std::vector<EntryTable> done_;
    int64_t position_ = 0;
};

} // namespace adcard
