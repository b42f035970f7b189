#include "plot/live_ring_source.h"

#include <algorithm>
#include <cmath>

namespace adcard {

namespace {

int64_t floorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

template <typename T> void refill(std::vector<T> &v, std::size_t n, T value)
{
    v.resize(n); // keeps its capacity: a new Start of the same shape allocates nothing
    std::fill(v.begin(), v.end(), value);
}

// `n` scans of one channel known by their extremes and sum.
void take(Stats &a, int64_t n, int16_t mn, int16_t mx, int64_t sum)
{
    a.count += n;
    a.min = std::min(a.min, mn);
    a.max = std::max(a.max, mx);
    a.sum += sum;
}

} // namespace

void LiveRingSource::reset(int channels, int32_t scansPerBlock, int ringBlocks)
{
    added_ = 0;
    published_ = 0;
    if (channels <= 0 || scansPerBlock <= 0 || ringBlocks <= 0) {
        channels_ = 0;
        scansPerBlock_ = 0;
        ringBlocks_ = 0;
        slots_ = 0;
        return;
    }
    channels_ = channels;
    scansPerBlock_ = scansPerBlock;
    ringBlocks_ = ringBlocks;
    slots_ = ringBlocks + 1;
    groups_ = static_cast<int>((scansPerBlock + kGroupScans - 1) / kGroupScans);
    const auto nslots = static_cast<std::size_t>(slots_);
    const auto ch = static_cast<std::size_t>(channels);
    refill<int64_t>(owner_, nslots, 0);
    refill<int16_t>(raw_, nslots * static_cast<std::size_t>(scansPerBlock) * ch, 0);
    refill<int16_t>(groupMin_, nslots * static_cast<std::size_t>(groups_) * ch, 0);
    refill<int16_t>(groupMax_, nslots * static_cast<std::size_t>(groups_) * ch, 0);
    refill<int32_t>(groupSum_, nslots * static_cast<std::size_t>(groups_) * ch, 0);
    refill<int16_t>(blockMin_, nslots * ch, 0);
    refill<int16_t>(blockMax_, nslots * ch, 0);
    refill<int64_t>(blockSum_, nslots * ch, 0);
    refill<int64_t>(blockSumSq_, nslots * ch, 0);
    refill<Stats>(sums_, ch, Stats{});
}

void LiveRingSource::add(int64_t handedOver, std::span<const int16_t> samples)
{
    const auto ch = static_cast<std::size_t>(channels_);
    const std::size_t blockSamples = static_cast<std::size_t>(scansPerBlock_) * ch;
    if (!shaped() || handedOver <= 0 || samples.size() < blockSamples)
        return;
    const auto slot = static_cast<std::size_t>(handedOver % slots_);
    owner_[slot] = handedOver;
    added_ = handedOver;
    std::copy_n(samples.begin(), blockSamples, raw_.begin() + static_cast<std::ptrdiff_t>(slot * blockSamples));
    const int16_t *block = samples.data();
    int16_t *bmin = &blockMin_[slot * ch];
    int16_t *bmax = &blockMax_[slot * ch];
    int64_t *bsum = &blockSum_[slot * ch];
    int64_t *bsq = &blockSumSq_[slot * ch];
    std::fill_n(bmin, ch, INT16_MAX);
    std::fill_n(bmax, ch, INT16_MIN);
    std::fill_n(bsum, ch, 0);
    std::fill_n(bsq, ch, 0);
    for (int g = 0; g < groups_; ++g) {
        const std::size_t at = (slot * static_cast<std::size_t>(groups_) + static_cast<std::size_t>(g)) * ch;
        int16_t *gmin = &groupMin_[at];
        int16_t *gmax = &groupMax_[at];
        int32_t *gsum = &groupSum_[at];
        std::fill_n(gmin, ch, INT16_MAX);
        std::fill_n(gmax, ch, INT16_MIN);
        std::fill_n(gsum, ch, 0);
        const int32_t end = std::min<int32_t>((g + 1) * kGroupScans, scansPerBlock_);
        for (int32_t k = g * kGroupScans; k < end; ++k) {
            const int16_t *scan = block + static_cast<std::size_t>(k) * ch;
            for (std::size_t c = 0; c < ch; ++c) {
                gmin[c] = std::min(gmin[c], scan[c]);
                gmax[c] = std::max(gmax[c], scan[c]);
                gsum[c] += scan[c];
                bsq[c] += int32_t{scan[c]} * scan[c];
            }
        }
        for (std::size_t c = 0; c < ch; ++c) {
            bmin[c] = std::min(bmin[c], gmin[c]);
            bmax[c] = std::max(bmax[c], gmax[c]);
            bsum[c] += gsum[c];
        }
    }
}

int LiveRingSource::slotOf(int64_t block) const
{
    if (!shaped() || block <= 0 || block > published_ || block <= published_ - slots_)
        return -1;
    const auto slot = static_cast<int>(block % slots_);
    return owner_[static_cast<std::size_t>(slot)] == block ? slot : -1;
}

int LiveRingSource::blocksShown() const
{
    int n = 0;
    for (int64_t b = published_; b > published_ - ringBlocks_ && b > 0; --b)
        n += slotOf(b) >= 0;
    return n;
}

std::size_t LiveRingSource::reductionBytes() const
{
    return owner_.capacity() * sizeof(int64_t) + (groupMin_.capacity() + groupMax_.capacity()) * sizeof(int16_t) +
           groupSum_.capacity() * sizeof(int32_t) + (blockMin_.capacity() + blockMax_.capacity()) * sizeof(int16_t) +
           (blockSum_.capacity() + blockSumSq_.capacity()) * sizeof(int64_t);
}

void LiveRingSource::addPart(std::size_t s, int32_t l, int32_t u) const
{
    const auto ch = static_cast<std::size_t>(channels_);
    const int16_t *raw = &raw_[s * static_cast<std::size_t>(scansPerBlock_) * ch];
    // Squares are kept per block only (per group they would cost as much
    // memory again as the groups): part of a block takes them from its
    // scans, in one pass.
    for (const int16_t *v = raw + static_cast<std::size_t>(l) * ch; v < raw + static_cast<std::size_t>(u) * ch;)
        for (std::size_t c = 0; c < ch; ++c, ++v)
            sums_[c].sumSq += int32_t{*v} * *v;
    int32_t k = l;
    while (k < u) {
        if (k % kGroupScans == 0) {
            const int32_t end = std::min<int32_t>(k + kGroupScans, scansPerBlock_);
            if (end <= u) {
                const std::size_t at = (s * static_cast<std::size_t>(groups_) + static_cast<std::size_t>(k / kGroupScans)) * ch;
                for (std::size_t c = 0; c < ch; ++c)
                    take(sums_[c], end - k, groupMin_[at + c], groupMax_[at + c], groupSum_[at + c]);
                k = end;
                continue;
            }
        }
        const int32_t next = std::min(u, (k / kGroupScans + 1) * kGroupScans);
        for (; k < next; ++k) {
            const int16_t *scan = raw + static_cast<std::size_t>(k) * ch;
            for (std::size_t c = 0; c < ch; ++c)
                take(sums_[c], 1, scan[c], scan[c], scan[c]);
        }
    }
}

void LiveRingSource::reduce(int64_t lo, int64_t hi, std::span<ColumnSummary> out) const
{
    const auto ch = static_cast<std::size_t>(channels_);
    std::fill(sums_.begin(), sums_.end(), Stats{});
    for (std::size_t c = 0; c < ch; ++c)
        out[c] = {};
    if (!shaped() || hi <= lo)
        return;
    const int64_t S = scansPerBlock_;
    const int64_t firstIndex = std::max(floorDiv(lo, S), published_ - slots_);
    const int64_t lastIndex = std::min(floorDiv(hi - 1, S), published_ - 1);
    // Whole blocks and groups by their reductions, the rest scan by scan:
    // the same sums either way, so a column's figures are exact.
    for (int64_t index = firstIndex; index <= lastIndex; ++index) {
        const int slot = slotOf(index + 1);
        if (slot < 0)
            continue;
        const auto s = static_cast<std::size_t>(slot);
        const int64_t base = index * S;
        const auto l = static_cast<int32_t>(std::max(lo, base) - base);
        const auto u = static_cast<int32_t>(std::min(hi, base + S) - base);
        if (l == 0 && u == scansPerBlock_) {
            for (std::size_t c = 0; c < ch; ++c) {
                take(sums_[c], S, blockMin_[s * ch + c], blockMax_[s * ch + c], blockSum_[s * ch + c]);
                sums_[c].sumSq += blockSumSq_[s * ch + c];
            }
            continue;
        }
        addPart(s, l, u);
    }
    for (std::size_t c = 0; c < ch; ++c)
        if (sums_[c].count > 0)
            out[c] = columnSummaryOf(sums_[c]);
}

void LiveRingSource::summarise(double first, double last, int columns, std::span<ColumnSummary> out) const
{
    summariseColumns(first, last, columns, 0, columns, out);
}

void LiveRingSource::summariseColumns(double first, double last, int columns, int from, int to,
                                      std::span<ColumnSummary> out) const
{
    const auto ch = static_cast<std::size_t>(channels_);
    for (int c = from; c < to; ++c) {
        const ScanSpan s = columnScans(first, last, columns, c);
        reduce(s.first, s.last, out.subspan(static_cast<std::size_t>(c - from) * ch, ch));
    }
}

bool LiveRingSource::scanAt(int64_t scan, std::span<int16_t> out) const
{
    if (!shaped())
        return false;
    const int64_t index = floorDiv(scan, scansPerBlock_);
    const int slot = slotOf(index + 1);
    if (slot < 0)
        return false;
    const auto ch = static_cast<std::size_t>(channels_);
    const int16_t *at = &raw_[(static_cast<std::size_t>(slot) * static_cast<std::size_t>(scansPerBlock_) +
                               static_cast<std::size_t>(scan - index * scansPerBlock_)) * ch];
    std::copy_n(at, std::min(ch, out.size()), out.begin());
    return true;
}

bool LiveRingSource::newestMeans(std::span<double> out) const
{
    const int slot = slotOf(published_);
    if (slot < 0)
        return false;
    const auto ch = static_cast<std::size_t>(channels_);
    for (std::size_t c = 0; c < std::min(ch, out.size()); ++c)
        out[c] = static_cast<double>(blockSum_[static_cast<std::size_t>(slot) * ch + c]) / scansPerBlock_;
    return true;
}

std::vector<RangeStats> LiveRingSource::stats(int64_t first, int64_t last) const
{
    const auto ch = static_cast<std::size_t>(channels_);
    std::vector<Stats> acc(ch);
    const int64_t S = scansPerBlock_;
    for (int64_t index = shaped() ? std::max(floorDiv(first, S), published_ - slots_) : 0;
         shaped() && index <= std::min(floorDiv(last - 1, S), published_ - 1); ++index) {
        const int slot = slotOf(index + 1);
        if (slot < 0)
            continue;
        const int64_t base = index * S;
        const int64_t from = std::max(first, base) - base;
        const int64_t to = std::min(last, base + S) - base;
        if (from < to)
            addScans(acc, &raw_[(static_cast<std::size_t>(slot) * static_cast<std::size_t>(S) +
                                 static_cast<std::size_t>(from)) * ch],
                     to - from);
    }
    std::vector<RangeStats> out;
    for (const Stats &a : acc)
        out.push_back(a.range());
    return out;
}

} // namespace adcard
