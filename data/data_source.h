#pragma once
// What a plot asks of its data, and all it may ask: for a range of scans cut
// into equal pixel columns, each channel's extremes and mean in each column.
// The live ring and a recorded run answer it; the plot knows neither.
#include "data/calibration.h"
#include "data/channel_units.h"
#include "data/statistics.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>

namespace adcard {

// One channel in one column, in codes. `count` is how many scans were present
// there; 0 is a gap (nothing recorded), which a plot draws as a break. `sd`
// is the population standard deviation of those scans, from exact sums (a
// stored summary's within its rounding): with the mean, it shows where most
// of a column lies, which its extremes alone do not.
struct ColumnSummary {
    int16_t min = 0;
    int16_t max = 0;
    float mean = 0.0F;
    int64_t count = 0;
    float sd = 0.0F;
};

// What a column of exact statistics shows: nothing where no scan was present.
inline ColumnSummary columnSummaryOf(const Stats &a)
{
    if (a.count <= 0)
        return {};
    return {a.min, a.max, float(a.mean()), a.count, float(a.sd())};
}

// How many of `columns` columns over [first, last) a source fills, with room
// in `out` for `outSize` summaries of `channels` channels each: 0 where the
// range is empty or not finite, or nothing fits.
inline int columnsToFill(double first, double last, int columns, std::size_t outSize, int channels)
{
    if (channels <= 0 || columns <= 0 || !std::isfinite(first) || !std::isfinite(last) || !(last > first))
        return 0;
    return int(std::min<std::size_t>(std::size_t(columns), outSize / std::size_t(channels)));
}

// The scans [first, last) one column takes, gaps included.
struct ScanSpan {
    int64_t first = 0;
    int64_t last = 0;
};

// Column c of `columns` over [first, last): the scans k with x0 <= k < x1,
// x0 = first + c * w, x1 = x0 + w, w = (last - first) / columns; where no
// scan lies inside (w < 1), the scan under x0. Worked out in integers when
// the range's ends are whole scans, so that a range moved by whole columns
// gives every column the very same scans: a plot that scrolls its picture
// relies on it. Every source cuts its columns with this.
inline ScanSpan columnScans(double first, double last, int columns, int c)
{
    if (columns <= 0 || !(last > first))
        return {};
    int64_t lo = 0;
    int64_t hi = 0;
    const double span = last - first;
    if (first == std::floor(first) && last == std::floor(last) && std::fabs(first) < 0x1p52 &&
        std::fabs(last) < 0x1p52 && span * columns < 0x1p62) {
        const auto f = static_cast<int64_t>(first);
        const auto s = static_cast<int64_t>(span);
        const auto ceilDiv = [](int64_t a, int64_t b) { return a >= 0 ? (a + b - 1) / b : -(-a / b); };
        lo = f + ceilDiv(s * c, columns);
        hi = f + ceilDiv(s * (int64_t{c} + 1), columns);
    } else {
        const double x0 = first + span * c / columns;
        const double x1 = first + span * (c + 1.0) / columns;
        lo = static_cast<int64_t>(std::ceil(x0));
        hi = static_cast<int64_t>(std::ceil(x1));
    }
    if (hi <= lo) {
        // A column narrower than a scan: the scan it lies on.
        const double x0 = first + span * c / columns;
        lo = static_cast<int64_t>(std::floor(x0));
        hi = lo + 1;
    }
    return {lo, hi};
}

class DataSource {
public:
    virtual ~DataSource() = default;

    virtual int channels() const = 0;
    // Scans from the source's start, gaps included (scan k of block index i
    // is i * scansPerBlock + k).
    virtual int64_t scanCount() const = 0;
    // Scans a second; 0 where the source does not know.
    virtual double scansPerSecond() const = 0;
    // How its codes become volts.
    virtual Calibration calibration() const { return kPanelCalibration; }
    // What each channel measures; empty: every channel in volts.
    virtual ChannelUnits channelUnits() const { return {}; }

    // Column c covers scans [first + c * w, first + (c + 1) * w), w = (last -
    // first) / columns; a column narrower than a scan shows the scan under
    // it (columnScans() says exactly which). `out` holds columns * channels()
    // entries, column after column.
    // Answered from the coarsest stored level that is still fine enough.
    // Scans outside the source (before 0 or viewFirst(), from scanCount()
    // on) are gaps: a plot asks for the column before its first, and a
    // view may reach past what a young source holds.
    virtual void summarise(double first, double last, int columns, std::span<ColumnSummary> out) const = 0;

    // Where a view of the whole source begins: 0 for a recording; the live
    // ring begins a ring's length before its newest scan, so that a young
    // history fills in from the right (and this may be negative).
    virtual double viewFirst() const { return 0.0; }

    // Columns [from, to) of what summarise(first, last, columns) answers: a
    // plot whose picture moved asks only for the new strip. `from` may be
    // -1, the column just before `first` (a plot joins its first column to
    // it). `out` holds (to - from) * channels() entries. This default asks
    // summarise() for the piece as a range of its own, which may put a scan
    // at a column's edge into its neighbour; a source that cuts exactly as
    // columnScans() does overrides it, and only such a source's picture can
    // be moved.
    virtual void summariseColumns(double first, double last, int columns, int from, int to,
                                  std::span<ColumnSummary> out) const
    {
        if (columns <= 0 || to <= from)
            return;
        const double w = (last - first) / columns;
        summarise(first + from * w, to == columns ? last : first + to * w, to - from, out);
    }
};

} // namespace adcard
