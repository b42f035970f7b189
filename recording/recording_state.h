#pragma once
// What the reader knows of an open recording file: its layout (either
// format), its runs and where each one's rows and summary entries lie. Every
// value taken from the file is checked before it sizes or indexes anything.
#include "recording/reading_support.h"
#include "recording/recording_reader.h"
#include "recording/timestamp.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace adcard::reading {


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

// Checks that the file holds a recording and opens what it needs; the
// reason when it does not.
std::string layout(RecordingState &st);

} // namespace adcard::reading
