#pragma once
// One run of a series, read as one: its pieces (one per file) laid end to end
// at their place in the run's scans. A file missing from the middle is a gap
// of the run. Each piece's file is opened only where a question reaches it;
// whole files are counted, drawn from afar and pruned by the index's totals
// and coarse entries without being opened.
#include "series/series_state.h"

#include <mutex>

namespace adcard::series {

class SeriesRun final : public RecordedRun {
public:
    SeriesRun(std::shared_ptr<SeriesState> state, int number);

    const RecordedRunInfo &info() const override;
    int channels() const override { return info().channels; }
    int64_t scanCount() const override { return info().scans; }
    double scansPerSecond() const override { return info().scansPerSecond; }
    Calibration calibration() const override { return info().calibration; }
    ChannelUnits channelUnits() const override { return info().units; }

    void summarise(double first, double last, int columns, std::span<ColumnSummary> out) const override;
    std::vector<RangeStats> stats(int64_t firstScan, int64_t lastScan) const override;
    std::vector<Stats> sums(int64_t firstScan, int64_t lastScan) const override;
    bool forEachScan(int64_t firstScan, int64_t lastScan,
                     const std::function<bool(int64_t, std::span<const int16_t>)> &scan) const override;
    bool readScans(int64_t first, int64_t end,
                   const std::function<bool(int64_t, const int16_t *, int64_t)> &fn) const override;
    int summaryLevels() const override;
    int64_t summaryWidth(int level) const override;
    LevelSpans levelSpans(int level, int channel, int64_t first, int64_t end) const override;
    std::vector<ScanGap> gaps(int64_t first, int64_t end, std::size_t most, int64_t &total) const override;
    std::string readError() const override;
    std::vector<RecordedMarker> markers() const override;
    std::vector<RecordedDigital> digital(int64_t firstScan, int64_t lastScan) const override;
    std::vector<RecordedDigital> digitalThinned(int64_t firstScan, int64_t lastScan, std::size_t most) const override;
    double summaryProgress() const override;

    // The files missing from the run, each with the scans it would have held.
    std::vector<MissingFile> missingFiles() const;

private:
    // The pieces as they are now (the series may have grown): a snapshot
    // that a refresh does not change under the caller.
    using Pieces = std::shared_ptr<const std::vector<Piece>>;
    Pieces pieces() const;
    void sync() const;
    std::shared_ptr<RecordedRun> open(const Piece &p) const;
    // Calls fn(piece, a, b) for the pieces' parts of [first, end), in order,
    // in the series' scans; stops when fn returns false.
    template <typename Fn>
    void overlapping(const std::vector<Piece> &ps, int64_t first, int64_t end, Fn fn) const;
    void addSpans(const Piece &p, int level, int channel, int64_t a, int64_t b, LevelSpans &out, bool &stop) const;
    void addEdge(const Piece &p, int channel, int64_t a, int64_t b, LevelSpans &out) const;
    bool fromCoarse(const Piece &p, int level) const;
    void summarisePiece(const Piece &p, int level, double first, double last, const std::vector<int64_t> &edge,
                        std::span<Stats> acc, std::span<ColumnSummary> out, std::vector<char> &direct) const;

    std::shared_ptr<SeriesState> st_;
    int number_;
    mutable std::mutex mutex_; // guards the members below
    mutable uint64_t gen_ = ~uint64_t{0};
    mutable Pieces pieces_ = std::make_shared<const std::vector<Piece>>();
    mutable std::vector<MissingFile> missing_;
    mutable RecordedRunInfo info_;
    mutable std::vector<int64_t> widths_{1};
    mutable std::string readError_;
};

} // namespace adcard::series
