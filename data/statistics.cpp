#include "data/statistics.h"

#include <algorithm>
#include <cmath>

namespace adcard {

namespace {

// A level-8 entry spans 2^29 scans of squares up to 2^30: its sum of squares
// fits an int64, but n * sumSq does not.
__extension__ typedef __int128 Wide;

// Channel counts that divide 8: eight codes at a time, code j of each eight
// being channel j % channels, so that the compiler can use vector
// instructions. Sums go through 32-bit lanes, emptied before they could
// overflow; squares through 64-bit ones.
template <bool Squares>
void addLanes(std::span<Stats> acc, const int16_t *codes, int64_t scans)
{
    const std::size_t ch = acc.size();
    const int64_t n = scans * int64_t(ch);
    int16_t lo[8], hi[8];
    int64_t sum[8] = {}, sq[8] = {};
    for (std::size_t j = 0; j < 8; ++j) {
        lo[j] = acc[j % ch].min;
        hi[j] = acc[j % ch].max;
    }
    const int64_t whole = n - n % 8;
    for (int64_t i = 0; i < whole;) {
        const int64_t stop = std::min(whole, i + 8 * 4096);
        int32_t part[8] = {};
        for (; i < stop; i += 8)
            for (std::size_t j = 0; j < 8; ++j) {
                const int16_t v = codes[i + int64_t(j)];
                lo[j] = std::min(lo[j], v);
                hi[j] = std::max(hi[j], v);
                part[j] += v;
                if constexpr (Squares)
                    sq[j] += int32_t(v) * v;
            }
        for (std::size_t j = 0; j < 8; ++j)
            sum[j] += part[j];
    }
    for (int64_t i = whole; i < n; ++i) {
        const std::size_t j = std::size_t(i % 8);
        const int16_t v = codes[i];
        lo[j] = std::min(lo[j], v);
        hi[j] = std::max(hi[j], v);
        sum[j] += v;
        sq[j] += int32_t(v) * v;
    }
    for (std::size_t k = 0; k < ch; ++k)
        acc[k].count += scans;
    for (std::size_t j = 0; j < 8; ++j) {
        Stats &a = acc[j % ch];
        a.min = std::min(a.min, lo[j]);
        a.max = std::max(a.max, hi[j]);
        a.sum += sum[j];
        if constexpr (Squares)
            a.sumSq += sq[j];
    }
}

} // namespace

void addScans(std::span<Stats> acc, const int16_t *codes, int64_t scans, bool squares)
{
    const std::size_t ch = acc.size();
    if (scans <= 0 || ch == 0)
        return;
    if (8 % ch == 0)
        return squares ? addLanes<true>(acc, codes, scans) : addLanes<false>(acc, codes, scans);
    for (std::size_t k = 0; k < ch; ++k) {
        int lo = acc[k].min, hi = acc[k].max;
        int64_t sum = 0, sq = 0;
        const int16_t *p = codes + k;
        for (int64_t i = 0; i < scans; ++i, p += ch) {
            const int v = *p;
            lo = std::min(lo, v);
            hi = std::max(hi, v);
            sum += v;
            sq += int64_t(v) * v;
        }
        acc[k].count += scans;
        acc[k].min = int16_t(lo);
        acc[k].max = int16_t(hi);
        acc[k].sum += sum;
        if (squares)
            acc[k].sumSq += sq;
    }
}

void Stats::addSummary(int64_t n, int16_t lo, int16_t hi, double m, double sd)
{
    if (n <= 0)
        return;
    count += n;
    min = std::min(min, lo);
    max = std::max(max, hi);
    sum += std::llround(double(n) * m);
    sumSq += std::llround(double(n) * (sd * sd + m * m));
}

double Stats::rms() const
{
    return count ? std::sqrt(double(sumSq) / double(count)) : 0.0;
}

double Stats::sd() const
{
    if (count == 0)
        return 0.0;
    // n * sumSq - sum^2 is exact, and never negative for sums of scans.
    const Wide num = Wide{count} * sumSq - Wide{sum} * sum;
    return std::sqrt(double(std::max<Wide>(num, 0))) / double(count);
}

RangeStats Stats::range() const
{
    if (count == 0)
        return {};
    return {count, double(min), double(max), mean(), rms()};
}

} // namespace adcard
