#pragma once
// The summary pyramid of one run, built block by block as the blocks arrive.
// Level 1 entry j covers the run's scans [j*B, (j+1)*B) (scan k of block
// index i is i*S + k); each level above covers `factor` entries of the one
// below. Only scans that are present count: a block index that never comes
// (a missed or dropped block) leaves a gap, and an entry with no scan at all
// is never emitted. An entry is emitted once complete, when a block beyond
// its end arrives, or at finish(), which emits the run's last partial ones.
//
// Sums are kept as integers, so an entry of any level equals a reduction of
// its raw scans exactly, however many levels it went through.
#include "recording/format.h"

#include <cstdint>
#include <span>
#include <vector>

namespace adcard {

struct SummaryEntry {
    int level = 1;     // 1 .. levels
    int64_t start = 0; // the first scan of the entry's span, a multiple of its width
    int64_t count = 0; // scans present in the span
    std::vector<int16_t> min, max;
    std::vector<float> mean, std; // std: population standard deviation of the codes
};

class SummaryBuilder {
public:
    SummaryBuilder(int channels, int scansPerBlock, int base = int(format::kPyramid.base),
                   int factor = int(format::kPyramid.factor), int levels = format::kPyramid.levels);

    int levels() const { return static_cast<int>(acc_.size()); }
    int64_t width(int level) const; // scans an entry of `level` spans

    // Block `index` of the run, `codes` scan after scan (channel c of scan k at
    // k*channels + c). Indices must rise; entries completed by it go to `out`.
    void addBlock(int64_t index, std::span<const int16_t> codes, std::vector<SummaryEntry> &out);
    // The run ends: every entry still open goes to `out`, level 1 first.
    void finish(std::vector<SummaryEntry> &out);

private:
    struct Stats {
        int64_t count = 0;
        std::vector<int16_t> min, max;
        std::vector<int64_t> sum, sumSq;
    };
    struct Level {
        int64_t entry = -1; // -1: none open
        Stats stats;
    };

    void reset(Stats &s) const;
    void merge(Stats &into, const Stats &from) const;
    // Adds `s` (already reduced) to entry `entry` of `level`, closing the open one first.
    void add(int level, int64_t entry, const Stats &s, std::vector<SummaryEntry> &out);
    void close(int level, std::vector<SummaryEntry> &out);
    // Closes every entry that ends at or before `scan`.
    void closeBefore(int64_t scan, std::vector<SummaryEntry> &out);

    int channels_;
    int scansPerBlock_;
    int factor_;
    std::vector<int64_t> widths_;
    std::vector<Level> acc_;
    Stats segment_;
    int64_t lastIndex_ = -1;
};

} // namespace adcard
