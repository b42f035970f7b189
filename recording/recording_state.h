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
    Hid events, rules, rulesText; // format 4; invalid in older files
    std::vector<Hid> levels;
    int channels = 0;
    int64_t scansPerBlock = 0;
    double rate = 0;
    int64_t base = format::kPyramid.base, factor = format::kPyramid.factor;
    Calibration calibration;
    ChannelUnits units;
    std::optional<SeriesMembership> series;
    std::vector<RunsRow> table;

    bool indexOf(hid_t blocks, int64_t row, int64_t &index) const;
    // Fills `p.info` from what the file holds now; p.error says what is wrong.
    void placeRows(RunPlace &p, int64_t rows) const;
    // Each run as the file has it; two with one number are both refused, so
    // that nothing takes one for the other.
    std::vector<RunPlace> places() const;
    // Re-reads the single-session layout's runs table.
    bool readTable();

private:
    std::vector<RunPlace> placesAsStored() const;
    std::vector<RunPlace> olderPlaces() const;
    // Row `r` of the runs table; `blockRows`: the rows `blocks` has.
    RunPlace placeOfRow(std::size_t r, hsize_t blockRows) const;
};

// The file's rules events (at most `most`, `total` counting all that point
// into a run's rows), in order of run and scan.
std::vector<RecordedEvent> readEvents(RecordingState &st, std::size_t most, int64_t &total);
// Those of run `run` alone (at most `most`, `total` counting all of them),
// in order of scan; read by bisection to the run's rows of the table.
std::vector<RecordedEvent> readRunEvents(RecordingState &st, int run, std::size_t most, int64_t &total);
// Each arming of rules the file records, in order.
std::vector<RecordedRules> readRules(RecordingState &st);

// Checks that the file holds a recording and opens what it needs; the
// reason when it does not.
std::string layout(RecordingState &st);

} // namespace adcard::reading
