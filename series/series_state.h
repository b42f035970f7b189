#pragma once
// What a series' reader and its runs share: the files in order, the newest
// file held open while it may still grow, and the few files open for reading,
// the least recently used closed first.
#include "series/series_files.h"

#include <atomic>
#include <list>
#include <memory>
#include <mutex>

namespace adcard::series {

// One file's part of a run: its scans [first, end) in the series' run, its
// scan 0 at `offset` (which may be negative: the run counts from the first
// scan the series still holds).
struct Piece {
    std::size_t file = 0; // in SeriesState::files
    std::string path, name;
    int64_t offset = 0, first = 0, end = 0;
    RecordedRunInfo info;
    std::shared_ptr<const RunTotals> totals; // null: read from the file
};

// A place no file holds, between files that hold the run on either side.
struct MissingFile {
    int64_t place = 0; // the first place missing
    int64_t places = 1;
    int64_t first = 0, end = 0; // the scans it would have held
};

class SeriesState {
public:
    SeriesState(Opener open, std::vector<std::string> request, std::string id, std::size_t mostOpen);

    Opener open;
    const std::vector<std::string> request; // what was asked for: listed again on refresh
    const std::string id;
    bool useIndex = true;
    std::mutex mutex; // guards everything below
    std::vector<SeriesFile> files;
    std::vector<std::string> notes;
    std::atomic<uint64_t> generation{0};
    // The newest file, while a run in it is open: held so that its runs see
    // what its writer flushes.
    std::unique_ptr<RecordingReader> live;
    std::string livePath;

    // The run `number` of `path`, opened or from the few kept open; null with
    // the reason in `error`.
    std::shared_ptr<RecordedRun> run(const std::string &path, int number, std::string &error);
    // Pieces and missing files of run `number`, in order; under `mutex`.
    void piecesOf(int number, std::vector<Piece> &pieces, std::vector<MissingFile> &missing) const;
    std::size_t openNow() const;
    std::size_t mostOpenSeen() const { return mostOpenSeen_; }
    // Forgets the open runs of `path` (it changed).
    void forget(const std::string &path);

private:
    struct Open {
        std::string path;
        int number;
        std::shared_ptr<RecordedRun> run;
    };
    std::list<Open> open_; // most recent first; guarded by mutex
    std::size_t mostOpen_;
    std::size_t mostOpenSeen_ = 0;
};

} // namespace adcard::series
