#include "recording/summary_builder.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace adcard {

namespace {

// A level-8 entry spans 2^29 scans of squares up to 2^30: its sum of squares
// fits an int64, but n * sumSq does not.
__extension__ typedef __int128 Wide;

} // namespace

SummaryBuilder::SummaryBuilder(int channels, int scansPerBlock, int base, int factor, int levels)
    : channels_(channels), scansPerBlock_(scansPerBlock), factor_(factor)
{
    if (channels < 1 || scansPerBlock < 1 || base < 1 || factor < 2 || levels < 1)
        throw std::invalid_argument("summary shape");
    int64_t w = base;
    for (int l = 0; l < levels; ++l) {
        widths_.push_back(w);
        w *= factor;
    }
    acc_.resize(static_cast<std::size_t>(levels));
    for (Level &l : acc_)
        reset(l.stats);
    reset(segment_);
}

int64_t SummaryBuilder::width(int level) const
{
    return widths_.at(static_cast<std::size_t>(level - 1));
}

void SummaryBuilder::reset(Stats &s) const
{
    const auto n = static_cast<std::size_t>(channels_);
    s.count = 0;
    s.min.assign(n, std::numeric_limits<int16_t>::max());
    s.max.assign(n, std::numeric_limits<int16_t>::min());
    s.sum.assign(n, 0);
    s.sumSq.assign(n, 0);
}

void SummaryBuilder::merge(Stats &into, const Stats &from) const
{
    into.count += from.count;
    for (std::size_t c = 0; c < into.min.size(); ++c) {
        into.min[c] = std::min(into.min[c], from.min[c]);
        into.max[c] = std::max(into.max[c], from.max[c]);
        into.sum[c] += from.sum[c];
        into.sumSq[c] += from.sumSq[c];
    }
}

void SummaryBuilder::close(int level, std::vector<SummaryEntry> &out)
{
    Level &l = acc_[static_cast<std::size_t>(level)];
    if (l.entry < 0)
        return;
    const Stats &s = l.stats;
    SummaryEntry e;
    e.level = level + 1;
    e.start = l.entry * widths_[static_cast<std::size_t>(level)];
    e.count = s.count;
    e.min = s.min;
    e.max = s.max;
    e.mean.resize(s.sum.size());
    e.std.resize(s.sum.size());
    const auto n = static_cast<double>(s.count);
    for (std::size_t c = 0; c < s.sum.size(); ++c) {
        e.mean[c] = static_cast<float>(static_cast<double>(s.sum[c]) / n);
        // n*sumSq - sum^2 is exact and never negative.
        const Wide num = Wide{s.count} * s.sumSq[c] - Wide{s.sum[c]} * s.sum[c];
        e.std[c] = static_cast<float>(std::sqrt(static_cast<double>(num)) / n);
    }
    out.push_back(std::move(e));
    const int64_t parent = l.entry / factor_;
    l.entry = -1;
    if (level + 1 < levels())
        add(level + 1, parent, s, out);
    reset(l.stats);
}

void SummaryBuilder::add(int level, int64_t entry, const Stats &s, std::vector<SummaryEntry> &out)
{
    Level &l = acc_[static_cast<std::size_t>(level)];
    if (l.entry >= 0 && l.entry != entry)
        close(level, out);
    l.entry = entry;
    merge(l.stats, s);
}

void SummaryBuilder::closeBefore(int64_t scan, std::vector<SummaryEntry> &out)
{
    for (int level = 0; level < levels(); ++level) {
        const Level &l = acc_[static_cast<std::size_t>(level)];
        if (l.entry >= 0 && (l.entry + 1) * widths_[static_cast<std::size_t>(level)] <= scan)
            close(level, out);
    }
}

void SummaryBuilder::addBlock(int64_t index, std::span<const int16_t> codes, std::vector<SummaryEntry> &out)
{
    const auto channels = static_cast<std::size_t>(channels_);
    if (index <= lastIndex_ || codes.size() != channels * static_cast<std::size_t>(scansPerBlock_))
        throw std::invalid_argument("summary: block out of order or of another shape");
    lastIndex_ = index;
    const int64_t first = index * scansPerBlock_;
    const int64_t end = first + scansPerBlock_;
    closeBefore(first, out);
    const int64_t base = widths_[0];
    for (int64_t p = first; p < end;) {
        const int64_t entry = p / base;
        const int64_t segEnd = std::min(end, (entry + 1) * base);
        reset(segment_);
        segment_.count = segEnd - p;
        const int16_t *row = codes.data() + static_cast<std::size_t>(p - first) * channels;
        for (int64_t k = p; k < segEnd; ++k, row += channels) {
            for (std::size_t c = 0; c < channels; ++c) {
                const int16_t v = row[c];
                segment_.min[c] = std::min(segment_.min[c], v);
                segment_.max[c] = std::max(segment_.max[c], v);
                segment_.sum[c] += v;
                segment_.sumSq[c] += int64_t{v} * v;
            }
        }
        add(0, entry, segment_, out);
        p = segEnd;
    }
}

void SummaryBuilder::finish(std::vector<SummaryEntry> &out)
{
    for (int level = 0; level < levels(); ++level)
        close(level, out);
}

} // namespace adcard
