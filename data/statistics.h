#pragma once
// One channel's statistics over a set of scans: how many, the extremes and
// integer sums, so that a statistic made of parts equals the one made of the
// scans themselves, however the parts were grouped. The recording's pyramid,
// the reader's range figures and the live ring's all accumulate with it.
#include <cstdint>
#include <span>

namespace adcard {

// Per channel over a scan range, in codes; count 0 when nothing is there.
struct RangeStats {
    int64_t count = 0;
    double min = 0, max = 0, mean = 0, rms = 0;
};

struct Stats {
    int64_t count = 0;
    int16_t min = INT16_MAX;
    int16_t max = INT16_MIN;
    int64_t sum = 0;
    int64_t sumSq = 0; // 2^33 scans of any code before it could overflow

    void add(int16_t code)
    {
        ++count;
        min = code < min ? code : min;
        max = code > max ? code : max;
        sum += code;
        sumSq += int64_t{code} * code;
    }
    void add(const Stats &o)
    {
        if (o.count == 0)
            return;
        count += o.count;
        min = o.min < min ? o.min : min;
        max = o.max > max ? o.max : max;
        sum += o.sum;
        sumSq += o.sumSq;
    }
    // `n` scans known only by their mean and population standard deviation
    // (as files before format 4 kept them): the sums they imply, to the nearest integer.
    void addSummary(int64_t n, int16_t lo, int16_t hi, double mean, double sd);

    double mean() const { return count ? double(sum) / double(count) : 0.0; }
    double rms() const; // from 0
    double sd() const;  // population standard deviation, exact from the sums
    RangeStats range() const;
};

// Adds `scans` scans, channel after channel within each (channel c of scan k
// at k * channels.size() + c), one Stats per channel. Without `squares`,
// sumSq is left as it was, at about half the cost: for a caller that needs
// neither RMS nor standard deviation.
void addScans(std::span<Stats> channels, const int16_t *codes, int64_t scans, bool squares = true);

} // namespace adcard
