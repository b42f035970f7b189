// Reads both layouts of a recording (docs/recording-format.md): the older one, a
// group per run with no summaries, which is summarised here in a background
// thread into memory, and the single-session one, whose summaries are read
// level by level, in blocks of entries, only where a view looks.
//
// Everything read from the file is checked before it sizes a buffer or
// indexes an array: a damaged or foreign file gets a reason, never a crash.
#include "recording/recording_reader_impl.h"

#include "recording/format.h"
#include "recording/format1_summariser.h"
#include "recording/reading_support.h"
#include "recording/run_pyramid.h"
#include "recording/timestamp.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>

namespace adcard {

namespace reading {


constexpr int kMaxChannels = 64;
constexpr int64_t kMaxScansPerBlock = int64_t{1} << 20;
constexpr int64_t kMaxBlockSamples = int64_t{1} << 22;
constexpr hsize_t kMaxRuns = 100000;
// A run's markers read at each look (a follow reads them every second):
// about 1.6 MB of rows at most.
constexpr int64_t kMaxRunMarkers = 10000;
// Names at the root of an older file: each run there is a group.
constexpr std::size_t kMaxOlderNames = 10000;
// Block indices beyond this would overflow the scan space.
constexpr int64_t kMaxIndex = int64_t{1} << 40;

using format::kMaxLevels;
namespace names = format;

constexpr int64_t kIndexBlock = 4096;  // rows per cached block of indices
constexpr int64_t kEntryBlock = 1024;  // entries per cached block
constexpr int64_t kRawBytes = 2 << 20; // raw samples kept: a frame of narrow columns

using Quiet = format::QuietErrors;

// What the file says about one run, and where its rows and entries are.
struct RunPlace {
    RecordedRunInfo info;
    std::string error; // why it cannot be read, if it cannot
    hid_t samples = H5I_INVALID_HID;
    hid_t blocks = H5I_INVALID_HID;
    int64_t rowBase = 0; // its first row in `blocks`, and block in `samples`
    int64_t firstIndex = 0;
    int64_t lastIndex = -1;
    bool closed = false;
    // Per level from 1: positions [first, end) of its entries.
    std::vector<std::pair<int64_t, int64_t>> entries;
};

struct V1Group {
    int number = 0;
    Hid group, samples, blocks;
};

using RunsRow = format::RunRow;

// The open file, shared by the reader and the runs opened from it.
struct RecordingState {
    std::mutex mutex;
    std::string path;
    Hid file;
    int version = 1;
    std::atomic<uint64_t> generation{0};
    bool writer = false; // a writer has (or had) the file open

    std::vector<V1Group> groups; // older layout

    // Single-session layout.
    Hid samples, blocks, runs, markers, digital;
    std::vector<Hid> levels;
    int channels = 0;
    int64_t scansPerBlock = 0;
    double rate = 0;
    int64_t base = format::kPyramid.base, factor = format::kPyramid.factor;
    Calibration calibration;
    std::vector<RunsRow> table;

    bool indexOf(hid_t blocks, int64_t row, int64_t &index) const
    {
        Fields f(blocks, sizeof(int64_t));
        return f.add(format::kIndexAlone) && f.read(blocks, hsize_t(row), 1, &index);
    }

    // Fills `p.info` from what the file holds now; p.error says what is wrong.
    void placeRows(RunPlace &p, int64_t rows) const
    {
        RecordedRunInfo &i = p.info;
        const auto dims = extent(p.samples, 2);
        const int64_t s = i.scansPerBlock;
        if (!dims || (*dims)[1] != hsize_t(i.channels)) {
            p.error = "its samples are not " + std::to_string(i.channels) + " channels wide";
            return;
        }
        const int64_t stored = int64_t((*dims)[0] / hsize_t(s)) - p.rowBase;
        rows = std::max<int64_t>(0, std::min({rows, stored, int64_t(length(p.blocks)) - p.rowBase}));
        i.blocks = rows;
        if (rows == 0)
            return;
        if (!indexOf(p.blocks, p.rowBase, p.firstIndex) || !indexOf(p.blocks, p.rowBase + rows - 1, p.lastIndex) ||
            p.firstIndex < 0 || p.lastIndex >= kMaxIndex || p.lastIndex - p.firstIndex < rows - 1) {
            p.error = "its block indices are out of order";
            i.blocks = 0;
            p.lastIndex = -1;
            return;
        }
        i.scans = (p.lastIndex + 1) * s;
        i.holes = p.lastIndex + 1 - rows;
    }

    // Each run as the file has it; two with one number are both refused, so
    // that nothing takes one for the other.
    std::vector<RunPlace> places() const
    {
        std::vector<RunPlace> out = placesAsStored();
        std::vector<std::pair<int, std::size_t>> numbers;
        for (std::size_t i = 0; i < out.size(); ++i)
            numbers.emplace_back(out[i].info.number, i);
        std::sort(numbers.begin(), numbers.end());
        for (std::size_t k = 1; k < numbers.size(); ++k)
            if (numbers[k].first == numbers[k - 1].first)
                out[numbers[k].second].error = out[numbers[k - 1].second].error = "another run has the same number";
        return out;
    }

    std::vector<RunPlace> placesAsStored() const
    {
        std::vector<RunPlace> out;
        if (version == 1) {
            for (const V1Group &g : groups) {
                RunPlace p;
                RecordedRunInfo &i = p.info;
                i.number = g.number;
                const hid_t h = g.group.get();
                const auto ch = attrInt(h, names::kChannels, 1, kMaxChannels);
                const auto s = attrInt(h, names::kScansPerBlock, 1, kMaxScansPerBlock);
                i.startTime = attrText(h, names::kV1StartTime);
                i.startTimeNs = parseIso8601(i.startTime);
                i.missed = attrInt(h, names::kV1Missed, 0, INT64_MAX / 2).value_or(0);
                i.dropped = attrInt(h, names::kV1Dropped, 0, INT64_MAX / 2).value_or(0);
                i.scansPerSecond = double(attrInt(h, names::kRate, 1, INT32_MAX).value_or(0));
                i.calibration = calibrationOf(h);
                p.samples = g.samples.get();
                p.blocks = g.blocks.get();
                if (!ch || !s || *ch * *s > kMaxBlockSamples) {
                    p.error = "its block shape is missing or out of range";
                } else {
                    i.channels = int(*ch);
                    i.scansPerBlock = int32_t(*s);
                    placeRows(p, INT64_MAX);
                }
                out.push_back(std::move(p));
            }
            if (writer && !out.empty())
                out.back().info.open = true;
            return out;
        }
        const hsize_t blockRows = length(blocks.get());
        for (std::size_t r = 0; r < table.size(); ++r) {
            const RunsRow &row = table[r];
            RunPlace p;
            RecordedRunInfo &i = p.info;
            i.number = row.run;
            i.startTimeNs = row.startTimeNs;
            i.startTime = std::string(row.startTime, strnlen(row.startTime, sizeof row.startTime));
            i.missed = std::max<int64_t>(0, row.missed);
            i.dropped = std::max<int64_t>(0, row.dropped);
            i.channels = channels;
            i.scansPerBlock = int32_t(scansPerBlock);
            i.scansPerSecond = rate;
            i.calibration = calibration;
            i.open = row.endTimeNs == 0;
            p.closed = !i.open;
            p.samples = samples.get();
            p.blocks = blocks.get();
            p.rowBase = row.firstRow;
            if (row.firstRow < 0 || hsize_t(row.firstRow) > blockRows) {
                p.error = "its first block is outside the file";
                out.push_back(std::move(p));
                continue;
            }
            int64_t rows = row.rows;
            // The next run's rows end this one's, unless that run is damaged.
            if (r + 1 < table.size() && table[r + 1].firstRow >= row.firstRow)
                rows = std::min(rows, table[r + 1].firstRow - row.firstRow);
            placeRows(p, rows);
            // A run's last entries cover its last rows; with rows cut short
            // (samples missing), they would cover what is not there.
            p.closed = p.closed && p.info.blocks == row.rows;
            for (std::size_t l = 0; l < levels.size(); ++l) {
                const int64_t size = int64_t(length(levels[l].get()));
                const int64_t first = row.summaryFirst[l];
                const int64_t end = r + 1 < table.size() ? table[r + 1].summaryFirst[l] : size;
                if (first < 0 || first > end || end > size)
                    break; // this level and those above are of no use
                p.entries.emplace_back(first, end);
            }
            out.push_back(std::move(p));
        }
        return out;
    }

    // Re-reads the single-session layout's runs table.
    bool readTable()
    {
        table.clear();
        const hsize_t n = length(runs.get());
        if (n > kMaxRuns)
            return false;
        Fields f(runs.get(), sizeof(RunsRow));
        const format::RunFields fields = format::runFields(int(levels.size()));
        for (const format::Field &field : fields.all()) {
            if (field.kind == format::Field::I64Array) {
                // Summaries are of use only with the runs' first entries.
                if (!levels.empty() && !f.add(field))
                    levels.clear();
            } else if (!f.add(field) && field.required) {
                return false;
            }
        }
        table.assign(n, RunsRow{});
        if (!f.read(runs.get(), 0, n, table.data())) {
            table.clear();
            return n == 0;
        }
        for (RunsRow &r : table)
            r.startTime[sizeof r.startTime - 1] = '\0';
        return true;
    }
};

// Checks that the file holds a recording and opens what it needs.
std::string layout(RecordingState &st)
{
    const hid_t f = st.file.get();
    const auto version = attrNumber(f, names::kFormatVersion);
    if (!version) {
        std::vector<std::string> names;
        H5Literate(f, H5_INDEX_NAME, H5_ITER_INC, nullptr,
                   [](hid_t, const char *name, const H5L_info_t *, void *out) -> herr_t {
                       auto &all = *static_cast<std::vector<std::string> *>(out);
                       all.emplace_back(name);
                       return all.size() > kMaxOlderNames ? 1 : 0; // 1 stops
                   },
                   &names);
        if (names.size() > kMaxOlderNames)
            return "more than " + std::to_string(kMaxOlderNames) + " objects at its top, more than a recording holds";
        for (const std::string &n : names) {
            int number = 0;
            char tail = 0;
            if (n.size() < 4 || n.compare(0, 3, "run") != 0 || std::sscanf(n.c_str(), "run%d%c", &number, &tail) != 1 ||
                number < 1)
                continue;
            V1Group g;
            g.number = number;
            H5O_info_t oi{};
            if (H5Oget_info_by_name2(f, n.c_str(), &oi, H5O_INFO_BASIC, H5P_DEFAULT) < 0 || oi.type != H5O_TYPE_GROUP)
                continue;
            g.group = Hid(H5Gopen2(f, n.c_str(), H5P_DEFAULT), H5Gclose);
            g.samples = openDataset(g.group.get(), names::kSamples, 256 << 10);
            g.blocks = openDataset(g.group.get(), names::kBlocks);
            if (g.samples.valid() && g.blocks.valid())
                st.groups.push_back(std::move(g));
        }
        if (st.groups.empty())
            return "not a recording (an HDF5 file of another layout)";
        st.version = 1;
        return {};
    }
    if (*version != names::kVersion)
        return "recording format " + std::to_string(int64_t(*version)) + ", which this program does not read";
    st.version = 2;
    st.samples = openDataset(f, names::kSamples, 256 << 10);
    st.blocks = openDataset(f, names::kBlocks);
    st.runs = openDataset(f, names::kRuns);
    if (!st.samples.valid() || !st.blocks.valid() || !st.runs.valid())
        return "not a recording (samples, blocks or runs missing)";
    const auto ch = attrInt(f, names::kChannels, 1, kMaxChannels);
    const auto s = attrInt(f, names::kScansPerBlock, 1, kMaxScansPerBlock);
    if (!ch || !s || *ch * *s > kMaxBlockSamples)
        return "the block shape is missing or out of range";
    st.channels = int(*ch);
    st.scansPerBlock = *s;
    st.rate = double(attrInt(f, names::kRate, 1, INT32_MAX).value_or(0));
    st.calibration = calibrationOf(f);
    st.base = attrInt(f, names::kSummaryBase, 2, 1 << 20).value_or(0);
    st.factor = attrInt(f, names::kSummaryFactor, 2, 64).value_or(0);
    const int levels = int(attrInt(f, names::kSummaryLevels, 0, kMaxLevels).value_or(0));
    st.markers = openDataset(f, names::kMarkers);
    st.digital = openDataset(f, names::kDigital);
    // A level is of use only with all those below it.
    for (int l = 1; l <= levels && st.base && st.factor; ++l) {
        Hid d = openDataset(f, format::levelPath(l).c_str());
        if (!d.valid() || !extent(d.get(), 1))
            break;
        const format::SummaryLayout at{std::size_t(st.channels)};
        Fields probe(d.get(), at.bytes());
        if (!probe.add(at.fields().all()))
            break;
        st.levels.push_back(std::move(d));
    }
    Fields rows(st.blocks.get(), 8);
    if (!rows.add(format::kIndexAlone) || !st.readTable())
        return "not a recording (its blocks or runs table is of another kind)";
    return {};
}

class FileRun final : public PyramidRun {
public:
    FileRun(std::shared_ptr<RecordingState> st, RunPlace place) : st_(std::move(st)), p_(std::move(place))
    {
        gen_ = st_->generation.load();
        if (st_->version == 2) {
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
    const int16_t *nearRow(int64_t row) const;
    static bool readIndices(const Where &at, int64_t row, int64_t n, int64_t *out);
    const EntryTable *entryBlock(int level, int64_t block) const;
    bool readEntryRows(int level, int64_t pos, int64_t n, EntryTable &table) const;
    // A query's few spans read as such, not through the view's blocks of
    // entries; nullopt where their positions must be searched for.
    static constexpr int64_t kFewSpans = 64;
    std::optional<LevelSpans> fewSpans(int level, int channel, int64_t first, int64_t end) const;
    int64_t entrySpan(int level, int64_t pos) const;
    int64_t entryCount(int level, int64_t pos) const; // -1 where there is none
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
    // Per level, the span of the run's last entry so far.
    static constexpr int64_t kUnknown = std::numeric_limits<int64_t>::min();
    mutable std::vector<int64_t> lastSpan_;

    // An older file's levels, built in the background.
    std::unique_ptr<Format1Summariser> summariser_;
};

void FileRun::sync() const
{
    const std::lock_guard lock(mutex_);
    const uint64_t g = st_->generation.load();
    if (g == gen_)
        return;
    gen_ = g;
    RunPlace fresh;
    {
        const std::lock_guard stLock(st_->mutex);
        const Quiet quiet;
        for (RunPlace &p : st_->places())
            if (p.info.number == p_.info.number)
                fresh = std::move(p);
    }
    if (fresh.info.number != p_.info.number || !fresh.error.empty() || fresh.info.blocks < p_.info.blocks)
        return; // the run is gone, damaged or shrank: keep what was read
    // Blocks read short may have grown; whole ones never change.
    raw_.dropIf([&](uint64_t, const Raw &r) { return r.rows < rawRows_; });
    nearFirst_ = -1;
    indices_.dropIf([&](uint64_t, const Indices &r) { return r.rows < kIndexBlock; });
    entries_.dropIf([&](uint64_t, const Entries &r) { return r.entries < kEntryBlock; });
    lastSpan_.clear();
    p_ = std::move(fresh);
    if (summariser_)
        summariser_->rowsChanged(p_.info.blocks, p_.info.open);
}

bool FileRun::readRows(const Where &at, int64_t row, int64_t n, int16_t *out)
{
    const hsize_t s = hsize_t(at.scansPerBlock);
    const hsize_t start[2] = {hsize_t(at.rowBase + row) * s, 0};
    const hsize_t count[2] = {hsize_t(n) * s, hsize_t(at.channels)};
    const Hid fileSpace(H5Dget_space(at.samples), H5Sclose);
    const Hid memSpace(H5Screate_simple(2, count, nullptr), H5Sclose);
    return fileSpace.valid() && memSpace.valid() &&
           H5Sselect_hyperslab(fileSpace.get(), H5S_SELECT_SET, start, nullptr, count, nullptr) >= 0 &&
           H5Dread(at.samples, H5T_NATIVE_INT16, memSpace.get(), fileSpace.get(), H5P_DEFAULT, out) >= 0;
}

bool FileRun::readIndices(const Where &at, int64_t row, int64_t n, int64_t *out)
{
    Fields f(at.blocks, sizeof(int64_t));
    return f.add(format::kIndexAlone) &&
           f.read(at.blocks, hsize_t(at.rowBase + row), hsize_t(n), out);
}

int64_t FileRun::rowIndex(int64_t row) const
{
    const int64_t rows = p_.info.blocks;
    if (p_.lastIndex - p_.firstIndex == rows - 1)
        return p_.firstIndex + row;
    const int64_t b = row / kIndexBlock;
    Indices *c = indices_.find(uint64_t(b));
    if (!c) {
        Indices fresh;
        fresh.rows = std::min(kIndexBlock, rows - b * kIndexBlock);
        fresh.index.resize(std::size_t(fresh.rows));
        if (!readIndices(where(), b * kIndexBlock, fresh.rows, fresh.index.data()))
            fresh.index.assign(fresh.index.size(), -1);
        c = &indices_.put(uint64_t(b), std::move(fresh));
    }
    return c->index[std::size_t(row - b * kIndexBlock)];
}

int64_t FileRun::firstRowFrom(int64_t block) const
{
    const int64_t rows = p_.info.blocks;
    // Indices rise strictly, so the row lies within as many rows as there
    // are holes.
    int64_t lo = std::clamp<int64_t>(block - p_.lastIndex + rows - 1, 0, rows);
    int64_t hi = std::clamp<int64_t>(block - p_.firstIndex, 0, rows);
    while (lo < hi) {
        const int64_t mid = lo + (hi - lo) / 2;
        if (rowIndex(mid) < block)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

void FileRun::forStretches(int64_t first, int64_t end, const StretchFn &fn) const
{
    stretches(first, end, fn, false);
}

const int16_t *FileRun::nearRow(int64_t r) const
{
    const int64_t s = p_.info.scansPerBlock;
    const std::size_t ch = std::size_t(p_.info.channels);
    if (r < nearFirst_ || r >= nearFirst_ + near_.rows) {
        near_.rows = std::min(kNearRows, p_.info.blocks - r);
        near_.codes.resize(std::size_t(near_.rows * s) * ch);
        nearFirst_ = r;
        if (!readRows(where(), r, near_.rows, near_.codes.data())) {
            if (readError_.empty())
                readError_ = "cannot read the samples of run " + std::to_string(p_.info.number) + " from row " +
                             std::to_string(r);
            near_.rows = 0;
            return nullptr;
        }
    }
    return &near_.codes[std::size_t((r - nearFirst_) * s) * ch];
}

void FileRun::stretches(int64_t first, int64_t end, const StretchFn &fn, bool narrow) const
{
    const int64_t s = p_.info.scansPerBlock;
    const std::size_t ch = std::size_t(p_.info.channels);
    const int64_t rows = p_.info.blocks;
    int64_t last = -1;
    for (int64_t r = firstRowFrom(first / s); r < rows; ++r) {
        const int64_t index = rowIndex(r);
        if (index > p_.lastIndex || index * s >= end)
            break;
        if (index <= last || index < 0)
            continue; // out of order: damaged, skip it
        last = index;
        const int64_t from = std::max(first, index * s);
        const int64_t to = std::min(end, (index + 1) * s);
        if (narrow) {
            if (const int16_t *codes = nearRow(r); codes && from < to)
                fn(from, codes + std::size_t(from - index * s) * ch, to - from);
            continue;
        }
        const int64_t b = r / rawRows_;
        Raw *c = raw_.find(uint64_t(b));
        if (!c) {
            // The buffer of the block it replaces, so that a pan does not
            // map and clear fresh pages every time.
            Raw fresh;
            if (Raw *old = raw_.victim())
                fresh.codes = std::move(old->codes);
            fresh.rows = std::min(rawRows_, rows - b * rawRows_);
            fresh.codes.resize(std::size_t(fresh.rows * s) * ch);
            if (!readRows(where(), b * rawRows_, fresh.rows, fresh.codes.data())) {
                if (readError_.empty())
                    readError_ = "cannot read the samples of run " + std::to_string(p_.info.number) + " from block " +
                                 std::to_string(index);
                fresh.rows = 0;
            }
            c = &raw_.put(uint64_t(b), std::move(fresh));
        }
        if (r - b * rawRows_ >= c->rows)
            continue;
        if (from < to)
            fn(from, &c->codes[std::size_t((r - b * rawRows_) * s + from - index * s) * ch], to - from);
    }
}

std::vector<ScanGap> FileRun::gaps(int64_t first, int64_t end, std::size_t most, int64_t &total) const
{
    const std::lock_guard lock(mutex_);
    sync();
    const Quiet quiet;
    std::vector<ScanGap> out;
    total = 0;
    const int64_t s = p_.info.scansPerBlock;
    const int64_t rows = p_.info.blocks;
    end = std::min(end, p_.info.scans);
    if (rows == 0 || first >= end)
        return out;
    auto emit = [&](int64_t fromBlock, int64_t toBlock) { // blocks [from, to) have no row
        const int64_t a = std::max(first, fromBlock * s), b = std::min(end, toBlock * s);
        if (a >= b)
            return;
        ++total;
        if (out.size() < most)
            out.push_back({a, b});
    };
    // Indices rise strictly: rows ra < rb enclose index(rb) - index(ra) -
    // (rb - ra) missing blocks, so only halves that hold some are split.
    auto split = [&](auto &self, int64_t ra, int64_t rb) -> void {
        const int64_t ia = rowIndex(ra), ib = rowIndex(rb);
        if (ia < 0 || ib <= ia || ib - ia == rb - ra)
            return;
        if (rb - ra == 1)
            return emit(ia + 1, ib);
        const int64_t mid = ra + (rb - ra) / 2;
        self(self, ra, mid);
        self(self, mid, rb);
    };
    const int64_t r0 = firstRowFrom(first / s);
    const int64_t r1 = std::min(rows - 1, firstRowFrom((end + s - 1) / s));
    if (r0 == 0)
        emit(0, rowIndex(0));
    split(split, std::max<int64_t>(0, r0 - 1), r1);
    return out;
}

bool FileRun::forEachScan(int64_t firstScan, int64_t lastScan,
                          const std::function<bool(int64_t, std::span<const int16_t>)> &scan) const
{
    // An export may take long, perhaps in a thread of its own: it holds the
    // run only to find where to begin, then reads batches of its own, so
    // that views go on being drawn meanwhile and keep their cache.
    Where at{};
    int64_t rows = 0, lastIndex = -1, r0 = 0;
    firstScan = std::max<int64_t>(firstScan, 0);
    {
        const std::lock_guard lock(mutex_);
        sync();
        const Quiet quiet;
        at = where();
        rows = p_.info.blocks;
        lastIndex = p_.lastIndex;
        r0 = firstRowFrom(firstScan / at.scansPerBlock);
        readError_.clear();
    }
    const Quiet quiet;
    const int64_t s = at.scansPerBlock;
    const std::size_t ch = std::size_t(at.channels);
    const int64_t batch = rawRows_;
    std::vector<int16_t> codes(std::size_t(batch * s) * ch);
    std::vector<int64_t> index(static_cast<std::size_t>(batch));
    int64_t last = -1;
    for (int64_t r = r0; r < rows; r += batch) {
        const int64_t n = std::min(batch, rows - r);
        if (!readIndices(at, r, n, index.data()) || !readRows(at, r, n, codes.data())) {
            const std::lock_guard lock(mutex_);
            readError_ = "HDF5 cannot read blocks " + std::to_string(r + 1) + " to " + std::to_string(r + n) +
                         " of run " + std::to_string(p_.info.number) + " in '" + st_->path + "'";
            return false;
        }
        for (int64_t i = 0; i < n; ++i) {
            const int64_t b = index[std::size_t(i)];
            if (b > lastIndex || b * s >= lastScan)
                return true;
            if (b <= last || b < 0)
                continue; // out of order: damaged
            last = b;
            for (int64_t k = std::max(firstScan, b * s); k < std::min(lastScan, (b + 1) * s); ++k)
                if (!scan(k, std::span<const int16_t>(&codes[std::size_t(i * s + k - b * s) * ch], ch)))
                    return false;
        }
    }
    return true;
}

int64_t FileRun::readySpans(int level) const
{
    const int64_t w = width(level);
    const int64_t scans = p_.info.scans;
    if (st_->version == 1)
        return summariser_->complete() ? (scans + w - 1) / w : summariser_->readyScan() / w;
    if (level > int(p_.entries.size()))
        return 0;
    // Entries come in order but may lag behind the rows (the writer may
    // gather them a chunk at a time, and a reader may catch the file between
    // two of its flushes): a span past the level's last entry may yet get
    // one. An entry whose span the rows do not cover yet is not trusted
    // either, unless the run has ended: its last, partial entries are
    // written at its end.
    const int64_t limit = p_.closed ? (scans + w - 1) / w : scans / w;
    lastSpan_.resize(p_.entries.size(), kUnknown);
    int64_t &last = lastSpan_[std::size_t(level) - 1];
    if (last == kUnknown) {
        const int64_t n = p_.entries[std::size_t(level) - 1].second - p_.entries[std::size_t(level) - 1].first;
        last = n > 0 ? entrySpan(level, n - 1) : -1;
        if (last == std::numeric_limits<int64_t>::max())
            last = -1;
        // A recording stopped by a full disk may have left entries that
        // count blocks which never got a row: the one for the rows' last,
        // partial span is used only if it holds exactly the scans the rows
        // have there.
        const int64_t j = scans / w;
        if (p_.closed && scans % w != 0 && last >= j) {
            int64_t lo = 0, hi = n;
            while (lo < hi) {
                const int64_t mid = lo + (hi - lo) / 2;
                if (entrySpan(level, mid) < j)
                    lo = mid + 1;
                else
                    hi = mid;
            }
            const bool whole = lo < n && entrySpan(level, lo) == j && entryCount(level, lo) == presentFrom(j * w);
            last = whole ? j : j - 1;
        }
    }
    return std::min(last + 1, limit);
}

bool FileRun::readEntryRows(int level, int64_t pos, int64_t n, EntryTable &table) const
{
    const std::size_t ch = std::size_t(p_.info.channels);
    const format::SummaryLayout at{ch};
    const std::size_t size = at.bytes();
    const hid_t dset = st_->levels[std::size_t(level) - 1].get();
    Fields f(dset, size);
    f.add(at.fields().all());
    thread_local std::vector<unsigned char> bytes;
    bytes.resize(std::size_t(std::max<int64_t>(n, 0)) * size);
    table.channels = int(ch);
    const int64_t w = width(level);
    if (n <= 0 || !f.read(dset, hsize_t(pos), hsize_t(n), bytes.data()))
        return false;
    for (int64_t i = 0; i < n; ++i) {
        const unsigned char *b = &bytes[std::size_t(i) * size];
        int32_t run;
        int64_t start, count;
        std::memcpy(&run, b + at.kRun, 4);
        std::memcpy(&start, b + at.kStart, 8);
        std::memcpy(&count, b + at.kCount, 8);
        // Kept in place even when foreign, so positions stay positions;
        // a count of 0 makes it add nothing.
        const bool ok = run == p_.info.number && start >= 0 && count > 0 && count <= w;
        table.span.push_back(start >= 0 ? start / w : -1);
        table.count.push_back(ok ? count : 0);
        for (std::size_t k = 0; k < ch; ++k) {
            int16_t lo, hi;
            float mean, sd;
            std::memcpy(&lo, b + at.kMin + 2 * k, 2);
            std::memcpy(&hi, b + at.max() + 2 * k, 2);
            std::memcpy(&mean, b + at.mean() + 4 * k, 4);
            std::memcpy(&sd, b + at.sd() + 4 * k, 4);
            table.min.push_back(lo);
            table.max.push_back(hi);
            table.mean.push_back(std::isfinite(mean) ? mean : 0.0F);
            table.sd.push_back(std::isfinite(sd) ? sd : 0.0F);
        }
    }
    return true;
}

const EntryTable *FileRun::entryBlock(int level, int64_t block) const
{
    static const EntryTable none;
    const uint64_t key = uint64_t(level) << 48 | uint64_t(block);
    if (Entries *c = entries_.find(key))
        return &c->table;
    if (level > int(p_.entries.size()))
        return &none;
    const auto [first, end] = p_.entries[std::size_t(level) - 1];
    const int64_t n = std::min(kEntryBlock, end - first - block * kEntryBlock);
    Entries e;
    e.entries = n;
    if (!readEntryRows(level, first + block * kEntryBlock, n, e.table)) {
        e.table = EntryTable{};
        e.entries = 0; // read again next time
        if (n > 0 && readError_.empty())
            readError_ = "cannot read the summaries of run " + std::to_string(p_.info.number) + " (level " +
                         std::to_string(level) + ")";
    }
    return &entries_.put(key, std::move(e)).table;
}

std::optional<LevelSpans> FileRun::fewSpans(int level, int channel, int64_t first, int64_t end) const
{
    if (st_->version != 2 || level < 1 || level > int(p_.entries.size()) || channel < 0 ||
        channel >= p_.info.channels)
        return std::nullopt;
    const int64_t w = width(level);
    const auto [p0, p1] = p_.entries[std::size_t(level) - 1];
    const int64_t n = p1 - p0;
    if (first % w != 0 || end % w != 0 || end - first > kFewSpans * w || n <= 0)
        return std::nullopt;
    // Where every span has its entry, a span's position is known without
    // a search.
    const int64_t span0 = entrySpan(level, 0), spanLast = entrySpan(level, n - 1);
    if (spanLast - span0 != n - 1)
        return std::nullopt;
    const int64_t ready = std::max(first / w, std::min(end / w, readySpans(level)));
    const int64_t a = std::max(first / w, span0), b = std::min(ready, spanLast + 1);
    LevelSpans out;
    out.readyEnd = std::max(first, ready * w);
    EntryTable t;
    if (a < b && !readEntryRows(level, p0 + a - span0, b - a, t))
        return std::nullopt;
    const std::size_t ch = std::size_t(p_.info.channels), c = std::size_t(channel);
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (t.span[i] != a + int64_t(i))
            return std::nullopt; // damaged: the search copes
        if (t.count[i] > 0)
            out.spans.push_back({t.span[i] * w, (t.span[i] + 1) * w, t.count[i], t.min[i * ch + c], t.max[i * ch + c]});
    }
    return out;
}

int64_t FileRun::entryCount(int level, int64_t pos) const
{
    const EntryTable *t = entryBlock(level, pos / kEntryBlock);
    const std::size_t i = std::size_t(pos % kEntryBlock);
    return i < t->size() ? t->count[i] : -1;
}

int64_t FileRun::presentFrom(int64_t scan) const
{
    const int64_t s = p_.info.scansPerBlock;
    const int64_t rows = p_.info.blocks;
    const int64_t r = firstRowFrom(scan / s);
    if (r >= rows)
        return 0;
    return (rows - r) * s - std::max<int64_t>(0, scan - rowIndex(r) * s);
}

int64_t FileRun::entrySpan(int level, int64_t pos) const
{
    const EntryTable *t = entryBlock(level, pos / kEntryBlock);
    const std::size_t i = std::size_t(pos % kEntryBlock);
    return i < t->size() ? t->span[i] : std::numeric_limits<int64_t>::max();
}

void FileRun::forEntries(int level, int64_t firstSpan, int64_t endSpan,
                         const std::function<void(const EntryRef &)> &fn) const
{
    if (st_->version == 1) {
        const EntryTable &t = summariser_->tables()[std::size_t(level) - 1];
        auto it = std::lower_bound(t.span.begin(), t.span.end(), firstSpan);
        for (std::size_t i = std::size_t(it - t.span.begin()); i < t.size() && t.span[i] < endSpan; ++i)
            fn(t.at(i));
        return;
    }
    if (level > int(p_.entries.size()))
        return;
    const auto [first, end] = p_.entries[std::size_t(level) - 1];
    const int64_t n = end - first;
    if (n <= 0)
        return;
    // Spans rise strictly, so the entry lies within as many positions as
    // the level has spans without one.
    const int64_t span0 = entrySpan(level, 0);
    const int64_t spanLast = entrySpan(level, n - 1);
    int64_t lo = std::clamp<int64_t>(firstSpan - spanLast + n - 1, 0, n);
    int64_t hi = std::clamp<int64_t>(firstSpan - span0, 0, n);
    if (spanLast < span0)
        lo = 0, hi = n; // damaged: search it all
    while (lo < hi) {
        const int64_t mid = lo + (hi - lo) / 2;
        if (entrySpan(level, mid) < firstSpan)
            lo = mid + 1;
        else
            hi = mid;
    }
    int64_t previous = firstSpan - 1;
    for (int64_t pos = lo; pos < n;) {
        const EntryTable *t = entryBlock(level, pos / kEntryBlock);
        std::size_t i = std::size_t(pos % kEntryBlock);
        if (i >= t->size())
            return;
        for (; i < t->size(); ++i, ++pos) {
            const int64_t span = t->span[i];
            if (span >= endSpan)
                return;
            if (span <= previous)
                continue; // out of order: damaged
            previous = span;
            if (t->count[i] > 0)
                fn(t->at(i));
        }
    }
}

std::vector<RecordedMarker> FileRun::markers() const
{
    std::vector<RecordedMarker> out;
    const int64_t scans = info().scans;
    const std::lock_guard lock(st_->mutex);
    const hid_t d = st_->markers.get();
    if (st_->version != 2 || d < 0)
        return out;
    const Quiet quiet;
    using Row = format::MarkerRow;
    Fields f(d, sizeof(Row));
    if (!f.add(format::kMarkerFields))
        return out;
    // Rows are in order of run: this run's first by bisection, then no more
    // than a bounded number of them.
    const int32_t run = p_.info.number;
    int64_t lo = 0, hi = int64_t(length(d));
    const int64_t total = hi;
    while (lo < hi) {
        const int64_t mid = lo + (hi - lo) / 2;
        Row r{};
        if (!f.read(d, hsize_t(mid), 1, &r))
            return out;
        if (r.run < run)
            lo = mid + 1;
        else
            hi = mid;
    }
    const hsize_t n = hsize_t(std::min(kMaxRunMarkers, total - lo));
    std::vector<Row> rows(n, Row{});
    if (!f.read(d, hsize_t(lo), n, rows.data()))
        return out;
    for (Row &r : rows) {
        r.text[sizeof r.text - 1] = '\0';
        if (r.run == p_.info.number && r.scan >= 0 && r.scan <= scans) // only what the rows hold
            out.push_back({r.scan, r.timeNs, r.text});
    }
    return out;
}

std::vector<RecordedDigital> FileRun::digitalThinned(int64_t firstScan, int64_t lastScan, std::size_t most) const
{
    std::vector<RecordedDigital> out;
    const std::lock_guard lock(st_->mutex);
    const hid_t d = st_->digital.get();
    if (st_->version != 2 || d < 0 || most == 0)
        return out;
    const Quiet quiet;
    using Row = format::DigitalRow;
    Fields f(d, sizeof(Row));
    if (!f.add(format::kDigitalFields))
        return out;
    // Rows are in order of run, then scan: both ends by bisection.
    const int32_t run = p_.info.number;
    auto position = [&](int64_t scan) {
        int64_t lo = 0, hi = int64_t(length(d));
        while (lo < hi) {
            const int64_t mid = lo + (hi - lo) / 2;
            Row r{};
            if (!f.read(d, hsize_t(mid), 1, &r))
                return lo;
            if (r.run < run || (r.run == run && r.scan < scan))
                lo = mid + 1;
            else
                hi = mid;
        }
        return lo;
    };
    const int64_t first = position(firstScan);
    const int64_t count = std::max<int64_t>(0, position(lastScan) - first);
    // More than asked for: every stride-th row, read as such.
    const hsize_t stride = hsize_t(std::max<int64_t>(1, (count + int64_t(most) - 1) / int64_t(most)));
    const hsize_t n = (hsize_t(count) + stride - 1) / stride;
    std::vector<Row> rows(n);
    if (n > 0 && f.read(d, hsize_t(first), n, rows.data(), stride))
        for (const Row &r : rows)
            if (r.run == run)
                out.push_back({r.scan, r.timeNs, r.port0, r.port1});
    return out;
}

class FileReader final : public RecordingReader {
public:
    explicit FileReader(std::shared_ptr<RecordingState> st) : st_(std::move(st)) {}
    int formatVersion() const override { return st_->version; }
    std::vector<RecordedRunInfo> runs() const override
    {
        const std::lock_guard lock(st_->mutex);
        const Quiet quiet;
        std::vector<RecordedRunInfo> out;
        for (const RunPlace &p : st_->places())
            out.push_back(p.info);
        return out;
    }
    std::unique_ptr<RecordedRun> openRun(int number, std::string &error) override
    {
        const std::lock_guard lock(st_->mutex);
        const Quiet quiet;
        for (RunPlace &p : st_->places()) {
            if (p.info.number != number)
                continue;
            if (!p.error.empty()) {
                error = "run " + std::to_string(number) + ": " + p.error;
                return nullptr;
            }
            if (p.info.blocks == 0) {
                error = "run " + std::to_string(number) + " has no blocks";
                return nullptr;
            }
            return std::make_unique<FileRun>(st_, std::move(p));
        }
        error = "no run " + std::to_string(number);
        return nullptr;
    }
    bool refresh() override
    {
        const std::lock_guard lock(st_->mutex);
        const Quiet quiet;
        auto key = [&] {
            std::vector<int64_t> k;
            // Levels grow on their own, behind the rows.
            for (const RunPlace &p : st_->places()) {
                k.insert(k.end(), {p.info.number, p.info.blocks, p.info.open, p.info.missed, p.info.dropped});
                for (const auto &[first, end] : p.entries)
                    k.push_back(end - first);
            }
            return k;
        };
        const auto before = key();
        std::vector<hid_t> sets;
        for (const V1Group &g : st_->groups)
            sets.insert(sets.end(), {g.samples.get(), g.blocks.get()});
        for (const Hid *h : {&st_->samples, &st_->blocks, &st_->runs, &st_->markers, &st_->digital})
            sets.push_back(h->get());
        for (const Hid &h : st_->levels)
            sets.push_back(h.get());
        for (hid_t h : sets)
            if (h >= 0)
                H5Drefresh(h);
        if (st_->version == 2)
            st_->readTable();
        st_->writer = openForWriting(st_->path);
        if (key() == before)
            return false;
        ++st_->generation;
        return true;
    }

private:
    std::shared_ptr<RecordingState> st_;
};

} // namespace reading

RecordingReader *openRecording(const char *path, std::string *error)
{
    using namespace reading;
    std::string why;
    auto fail = [&](std::string reason) -> RecordingReader * {
        if (error)
            *error = std::move(reason);
        return nullptr;
    };
    if (!path || !*path)
        return fail("no file name");
    struct stat sb {};
    if (::stat(path, &sb) != 0)
        return fail(errno == ENOENT ? "no such file" : std::strerror(errno));
    if (S_ISDIR(sb.st_mode))
        return fail("is a directory");
    if (const int fd = ::open(path, O_RDONLY | O_CLOEXEC); fd < 0)
        return fail(std::strerror(errno));
    else
        ::close(fd);
    if (!hdf5Signature(path))
        return fail("not an HDF5 file");

    const Quiet quiet;
    auto st = std::make_shared<RecordingState>();
    st->path = path;
    // The writer holds the file's lock while it records; a reader must not
    // ask for one. A file written before SWMR existed opens only plainly.
    const Hid fapl(H5Pcreate(H5P_FILE_ACCESS), H5Pclose);
    H5Pset_file_locking(fapl.get(), false, true);
    st->file = Hid(H5Fopen(path, H5F_ACC_RDONLY | H5F_ACC_SWMR_READ, fapl.get()), H5Fclose);
    if (!st->file.valid())
        st->file = Hid(H5Fopen(path, H5F_ACC_RDONLY, fapl.get()), H5Fclose);
    if (!st->file.valid())
        return fail("HDF5 cannot open it (damaged?)");
    st->writer = openForWriting(path);
    if (std::string wrong = layout(*st); !wrong.empty())
        return fail(wrong);
    return new FileReader(std::move(st));
}

} // namespace adcard
