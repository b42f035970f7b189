#pragma once
// What a plot asks of its data, and all it may ask: for a range of scans cut
// into equal pixel columns, each channel's extremes and mean in each column.
// The live ring and a recorded run answer it; the plot knows neither.
#include <cstdint>
#include <span>

namespace adcard {

// One channel in one column, in codes. `count` is how many scans were present
// there; 0 is a gap (nothing recorded), which a plot draws as a break.
struct ColumnSummary {
    int16_t min = 0;
    int16_t max = 0;
    float mean = 0.0F;
    int64_t count = 0;
};

class DataSource {
public:
    virtual ~DataSource() = default;

    virtual int channels() const = 0;
    // Scans from the source's start, gaps included (scan k of block index i
    // is i * scansPerBlock + k).
    virtual int64_t scanCount() const = 0;
    // Scans a second; 0 where the source does not know.
    virtual double scansPerSecond() const = 0;

    // Column c covers scans [first + c * w, first + (c + 1) * w), w = (last -
    // first) / columns; a column narrower than a scan shows the scan under
    // it. `out` holds columns * channels() entries, column after column.
    // Answered from the coarsest stored level that is still fine enough.
    virtual void summarise(double first, double last, int columns, std::span<ColumnSummary> out) const = 0;
};

} // namespace adcard
