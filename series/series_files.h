#pragma once
// Finding the files of a series: a recording split into files named
// NAME_YYYYMMDD-HHMMSS[_N].h5, each stating its place in the series. The
// files are grouped by the series they name and ordered by their place, never
// by name (the clock may go back). What was left out, and why, is said in
// notes. No HDF5 here: files are opened through the reader's entry.
#include "recording/recording_reader.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace adcard::series {

// Opens one file for reading; null with the reason in `error`.
using Opener = std::function<std::unique_ptr<RecordingReader>(const std::string &path, std::string &error)>;

// What a run of one file adds up to, kept so that a whole file need not be
// opened to be counted: each channel's totals, the file's summary levels'
// widths, and a coarse level of the file's own pyramid.
struct RunTotals {
    int number = 0;
    std::vector<int64_t> widths;   // widths[L] for L = 0..levels (widths[0] = 1)
    std::vector<Stats> whole;      // per channel, over the file's run
    int coarseLevel = 0;           // 0: no coarse entries
    struct Entry {
        int64_t first = 0;         // the file's scan where the entry's span begins
        std::vector<Stats> stats;  // per channel
    };
    std::vector<Entry> coarse;     // spans with present scans only
    std::vector<RecordedMarker> markers; // in the file's scans
};

struct SeriesFile {
    std::string path; // as given or found, UTF-8
    std::string name; // the file's name alone
    int64_t size = 0, mtimeNs = 0;
    SeriesMembership membership;
    std::vector<RecordedRunInfo> runs;
    std::vector<RunTotals> totals; // may be empty: then read from the file
    std::vector<RecordedRules> rules;
    int64_t events = 0; // the rules' events the file holds
    int formatVersion = 4;
    bool indexed = false;          // came from the index, not the file
};

struct FoundSeries {
    std::string id;
    int64_t startNs = 0;
    std::string folder, base; // where, and NAME
    std::vector<SeriesFile> files; // in the order they are read
};

struct Found {
    std::vector<FoundSeries> series; // newest (latest startNs) first
    std::vector<std::string> notes;  // each file left out and why; places that disagree
};

// NAME of NAME_YYYYMMDD-HHMMSS[_N].h5; empty for a name of another shape.
std::string baseName(std::string_view fileName);

// A folder; one file of a series (its folder's files of the same name then
// count); or several files, just those. `useIndex`: read and keep the index
// beside the files (NAME.series-index) where it is up to date.
Found findSeries(const std::vector<std::string> &paths, const Opener &open, bool useIndex = true);

// The metadata of one file, read from it: its runs' infos and totals.
// With `totals`, also its runs' totals, markers and coarse entries, for the index.
bool readFile(SeriesFile &file, const Opener &open, std::string &error, bool totals = true);

// Puts files in series order: by place, or, where two claim one place or the
// clock runs backwards from one to the next, by their first blocks; a note
// for each such file.
void orderFiles(std::vector<SeriesFile> &files, std::vector<std::string> &notes);

// UTF-8 text to a path and back, the same on every system.
std::string pathText(const std::string &folder, const std::string &name);

} // namespace adcard::series
