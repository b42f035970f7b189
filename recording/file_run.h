#pragma once
// One recorded run as the reader serves it: a PyramidRun over the file's
// rows, samples and summary entries, read in blocks into small caches, only
// where a view or a query looks; an older file's run is summarised by a
// Format1Summariser meanwhile.
#include "recording/format1_summariser.h"
#include "recording/recording_state.h"
#include "recording/run_pyramid.h"

#include <limits>
#include <memory>
#include <mutex>
#include <optional>

namespace adcard::reading {

class FileRun final : public PyramidRun {
public:
    FileRun(std::shared_ptr<RecordingState> st, RunPlace place) : st_(std::move(st)), p_(std::move(place))
    {
        gen_ = st_->generation.load();
        if (st_->version >= 2) {
            setGeometry(st_->base, st_->factor, int(st_->levels.size()));
        } else {
            setGeometry(format::kPyramid.base, format::kPyramid.factor, format::kPyramid.levels);
            const Where at = where();
            summariser_ = std::make_unique<Format1Summariser>(
                p_.info.channels, p_.info.scansPerBlock,
                [at](int64_t row, int64_t n, int64_t *index, int16_t *codes) {
                    const Quiet quiet;
                    return readIndices(at, row, n, index) && readRows(at, row, n, codes);
                },
                p_.info.blocks, p_.info.open);
        }
        const int64_t rowBytes = int64_t(p_.info.scansPerBlock) * p_.info.channels * 2;
        rawRows_ = std::max<int64_t>(1, 65536 / p_.info.scansPerBlock);
        raw_.setCapacity(std::size_t(std::max<int64_t>(2, kRawBytes / (rawRows_ * rowBytes))));
        entries_.setCapacity(32);
        indices_.setCapacity(32);
        indexChunks_.setCapacity(32);
        entryChunks_.setCapacity(32);
        rowChunk_ = chunkLength(p_.blocks);
        for (const Hid &level : st_->levels)
            levelChunk_.push_back(chunkLength(level.get()));
        levelSearch_.resize(st_->levels.size());
    }
    ~FileRun() override { summariser_.reset(); }

    const RecordedRunInfo &info() const override
    {
        sync();
        return p_.info;
    }
    void summarise(double first, double last, int columns, std::span<ColumnSummary> out) const override
    {
        const std::lock_guard lock(mutex_);
        sync();
        const Quiet quiet;
        PyramidRun::summarise(first, last, columns, out);
    }
    std::vector<RangeStats> stats(int64_t firstScan, int64_t lastScan) const override
    {
        const std::lock_guard lock(mutex_);
        sync();
        const Quiet quiet;
        return PyramidRun::stats(firstScan, lastScan);
    }
    std::vector<Stats> sums(int64_t firstScan, int64_t lastScan) const override
    {
        const std::lock_guard lock(mutex_);
        sync();
        const Quiet quiet;
        return PyramidRun::sums(firstScan, lastScan);
    }
    bool forEachScan(int64_t firstScan, int64_t lastScan,
                     const std::function<bool(int64_t, std::span<const int16_t>)> &scan) const override;
    LevelSpans levelSpans(int level, int channel, int64_t first, int64_t end) const override
    {
        const std::lock_guard lock(mutex_);
        sync();
        const Quiet quiet;
        if (auto few = fewSpans(level, channel, first, end))
            return *few;
        return PyramidRun::levelSpans(level, channel, first, end);
    }
    bool readScans(int64_t first, int64_t end,
                   const std::function<bool(int64_t, const int16_t *, int64_t)> &fn) const override
    {
        const std::lock_guard lock(mutex_);
        sync();
        const Quiet quiet;
        // A query reads a few blocks here and there: only those, not the
        // view's wide batches.
        if (end - first > kNearRows * p_.info.scansPerBlock)
            return PyramidRun::readScans(first, end, fn);
        bool going = true;
        stretches(first, end, [&](int64_t at, const int16_t *codes, int64_t n) { going = going && fn(at, codes, n); },
                  true);
        return going;
    }
    std::vector<ScanGap> gaps(int64_t first, int64_t end, std::size_t most, int64_t &total) const override;
    std::vector<ScanGap> gapsAtScale(int64_t first, int64_t end, int64_t scale, std::size_t most) const override
    {
        const std::lock_guard lock(mutex_);
        sync();
        const Quiet quiet;
        return PyramidRun::gapsAtScale(first, end, scale, most);
    }
    std::string readError() const override
    {
        const std::lock_guard lock(mutex_);
        return readError_;
    }
    std::vector<RecordedMarker> markers() const override;
    std::vector<RecordedDigital> digital(int64_t firstScan, int64_t lastScan) const override
    {
        return digitalThinned(firstScan, lastScan, std::numeric_limits<std::size_t>::max());
    }
    std::vector<RecordedDigital> digitalThinned(int64_t firstScan, int64_t lastScan, std::size_t most) const override;
    double summaryProgress() const override
    {
        if (!summariser_ || summariser_->complete())
            return 1.0;
        const auto lock = summariser_->lock();
        return p_.info.scans > 0 ? std::min(1.0, double(summariser_->readyScan()) / double(p_.info.scans)) : 1.0;
    }

protected:
    int64_t readySpans(int level) const override;
    void forEntries(int level, int64_t firstSpan, int64_t endSpan,
                    const std::function<void(const EntryRef &)> &fn) const override;
    void forStretches(int64_t first, int64_t end, const StretchFn &fn) const override;
    std::unique_lock<std::mutex> lockLevels() const override
    {
        return summariser_ ? summariser_->lock() : std::unique_lock<std::mutex>();
    }

private:
    void sync() const;
    int64_t rowIndex(int64_t row) const;
    int64_t firstRowFrom(int64_t block) const;
    struct Where {
        hid_t samples, blocks;
        int64_t rowBase, scansPerBlock;
        int channels;
    };
    Where where() const { return {p_.samples, p_.blocks, p_.rowBase, p_.info.scansPerBlock, p_.info.channels}; }
    static bool readRows(const Where &at, int64_t row, int64_t n, int16_t *out);
    // `narrow`: through the few rows of near_, for reads of a block or two.
    void stretches(int64_t first, int64_t end, const StretchFn &fn, bool narrow) const;
    // At most `want` rows from `row` on.
    const int16_t *nearRow(int64_t row, int64_t want) const;
    static bool readIndices(const Where &at, int64_t row, int64_t n, int64_t *out);
    const EntryTable *entryBlock(int level, int64_t block) const;
    bool readEntryRows(int level, int64_t pos, int64_t n, EntryTable &table) const;
    // A query's few spans read as such, not through the view's blocks of
    // entries; nullopt where their positions must be searched for.
    static constexpr int64_t kFewSpans = 64;
    std::optional<LevelSpans> fewSpans(int level, int channel, int64_t first, int64_t end) const;
    int64_t entrySpan(int level, int64_t pos) const;
    int64_t entryCount(int level, int64_t pos) const; // -1 where there is none
    // A query looks a few rows or entries up here and there, a day apart:
    // those are read a chunk of the file at a time (where the cache of wide
    // blocks does not hold them), not a block of dozens of chunks.
    int64_t indexNear(int64_t row) const;
    // The table holding entry `pos` of `level`, and where in it; null where
    // there is none.
    const EntryTable *entryNear(int level, int64_t pos, std::size_t &i) const;
    // The first entry of `level` whose span is >= `span`.
    int64_t entryFrom(int level, int64_t span) const;
    static int64_t chunkLength(hid_t dset);
    // The most chunks of the inputs' table one thinned read of them touches.
    static constexpr int64_t kMostDigitalChunks = 256;
    // The present scans from `scan` to the run's end, by its rows.
    int64_t presentFrom(int64_t scan) const;

    std::shared_ptr<RecordingState> st_;
    mutable RunPlace p_;
    mutable uint64_t gen_ = 0;
    mutable std::string readError_; // under mutex_
    mutable std::recursive_mutex mutex_;

    struct Raw {
        int64_t rows = 0;
        std::vector<int16_t> codes;
    };
    struct Indices {
        int64_t rows = 0;
        std::vector<int64_t> index;
    };
    struct Entries {
        int64_t entries = 0;
        EntryTable table;
    };
    int64_t rawRows_ = 1;
    static constexpr int64_t kNearRows = 4;
    mutable Raw near_;
    mutable int64_t nearFirst_ = -1;
    mutable Lru<Raw> raw_;
    mutable Lru<Indices> indices_;
    mutable Lru<Entries> entries_;
    // Chunks read for a look-up, by their number in the dataset: `first`
    // is the run's row (entry) they begin with.
    struct IndexChunk {
        int64_t first = 0;
        std::vector<int64_t> index;
    };
    struct EntryChunk {
        int64_t first = 0;
        EntryTable table;
    };
    int64_t rowChunk_ = 1;
    std::vector<int64_t> levelChunk_;
    mutable Lru<IndexChunk> indexChunks_;
    mutable Lru<EntryChunk> entryChunks_;
    mutable KeySearch rowSearch_;
    mutable std::vector<KeySearch> levelSearch_;
    // Per level, the span of the run's last entry so far.
    static constexpr int64_t kUnknown = std::numeric_limits<int64_t>::min();
    mutable std::vector<int64_t> lastSpan_;

    // An older file's levels, built in the background.
    std::unique_ptr<Format1Summariser> summariser_;
};

} // namespace adcard::reading
