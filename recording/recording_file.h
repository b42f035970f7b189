#pragma once
// The HDF5 layout of a recording, format 2 (described in
// docs/recording-format.md): every object at the root, created once at the first Start,
// after which the file stays in one SWMR session to its close. Used by one
// thread at a time; every failure throws RecordingError with a message for
// the operator.
#include "acquisition/dlldef.h"
#include "data/calibration.h"
#include "data/channel_units.h"
#include "recording/format.h"
#include "recording/pyramid_builder.h"
#include "recording/recording_reader.h"

#include <hdf5.h>

#include <array>
#include <optional>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace adcard {

class RecordingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The disk (or the size limit) refused more room before HDF5 wrote anything
// that needed it: the file is consistent and can still be closed.
class NoRoomError : public RecordingError {
public:
    using RecordingError::RecordingError;
};

// What the file says about the panel and the first run's Start.
struct FileInfo {
    AcqSettings settings;
    std::string driverLibrary;
    std::string programVersion;
    Calibration calibration; // the codes' volts, as the file states them
    ChannelUnits units;      // each channel's name and unit; volts where it has none
    std::optional<SeriesMembership> series; // the file's place in a series, if any
};

using format::BlockRow;
using format::DigitalRow;
using format::EventRow;
using format::RulesRow;
using format::kMarkerTextBytes;
using format::kStartTimeBytes;
using format::MarkerRow;
using format::RunRow;

// `text` cut to at most `bytes` bytes without splitting a UTF-8 character.
std::string cutUtf8(std::string_view text, std::size_t bytes);

// An extendible one- or two-dimensional dataset and how many rows it holds.
struct Table {
    Hid dset;
    Hid memType; // for compound rows
    hsize_t rows = 0;
};

class RecordingFile {
public:
    // Creates `path` as a valid, empty HDF5 file and locks it for the whole
    // recording, or refuses: a file another program records, an existing file
    // unless `overwrite`, a missing directory, no permission. An existing file
    // is replaced, by a rename, only at the first flush of a run in its
    // successor; closed before that, the successor goes and it stays.
    RecordingFile(std::string path, bool overwrite);
    ~RecordingFile();
    RecordingFile(const RecordingFile &) = delete;
    RecordingFile &operator=(const RecordingFile &) = delete;

    // At the first Start: every object and the root attributes, then SWMR.
    void layOut(const FileInfo &info);
    bool laidOut() const { return samples_.dset.valid(); }
    // Throws unless blocks of these settings fit the file's shape.
    void checkShape(const AcqSettings &s) const;
    int32_t channels() const { return channels_; }
    int32_t scansPerBlock() const { return scans_; }
    std::size_t blockSamples() const { return std::size_t(channels_) * std::size_t(scans_); }

    // Whole blocks as delivered, one after another.
    void appendSamples(std::span<const int16_t> samples);
    // The first `n` entries of `entries`, of `level`.
    void appendSummaries(int level, int32_t run, const EntryTable &entries, std::size_t n);
    void appendRows(std::span<const BlockRow> rows);
    void appendMarkers(std::span<const MarkerRow> rows);
    void appendDigital(std::span<const DigitalRow> rows);
    void appendEvents(std::span<const EventRow> rows);
    // The rules' text, then the row that points at it (its textFirst and
    // textBytes are set here).
    void appendRules(RulesRow row, std::string_view text);
    // Appends a run's row, or rewrites it in place once it exists.
    void writeRun(const RunRow &row);

    // Each part to the system, in the order a reader relies on.
    void flushSamples();
    void flushSummaries();
    void flushRows();
    void flushRest(); // runs, markers, digital, rules, events and the file's own metadata
    // To the disk itself.
    void sync();

    int64_t rows() const { return static_cast<int64_t>(blocks_.rows); }
    // Whole blocks in `samples`.
    int64_t storedBlocks() const { return scans_ > 0 ? static_cast<int64_t>(samples_.rows) / scans_ : 0; }
    // Entries of `level` best written together: a whole chunk where rewriting
    // one would waste room.
    int64_t summaryBatch(int level) const;
    int64_t summaries(int level) const { return static_cast<int64_t>(levels_.at(std::size_t(level - 1)).rows); }

    void close();
    // A file laid out but not yet written (recording_file_parking.cpp):
    // closed to HDF5 with its lock kept, then open again to be written.
    void park();
    void resume();
    // After the disk refused more room: what is left to write (a row, the
    // file's own metadata) uses the margin kept ahead of HDF5.
    void spendReserve() { reserveSpent_ = true; }
    // After a failure: releases what it can, reporting nothing.
    void abandon() noexcept;

    int64_t fileSize() const;
    const std::string &path() const { return path_; }

private:
    // The constructor's steps. Whether a file is there to replace; refuses
    // what must not be replaced.
    bool mayCreate(bool overwrite) const;
    // The new file, beside an old one (its name in `target`) or under the
    // name itself; its handle (a nativefile::Handle).
    std::intptr_t createTarget(bool exists, std::string &target);
    // Locks it and leaves an empty HDF5 file in it.
    void startEmpty(const std::string &target);
    void ensureRoom(hsize_t extra);
    void trimToStoredEnd();
    // Every dataset and then the file closed, for good or to wait parked.
    void closeHdf5();
    void appendTable(Table &t, const void *data, hsize_t count, const char *what);
    void releaseLock() noexcept;
    void replaceOld();
    // Where an open file cannot be renamed: the old file's name of its own
    // from arming to the first run's first flush, and its return.
    void moveOldAside();
    void putOldBack() noexcept;

    std::string path_;
    Hid fapl_;
    Hid file_;
    Table samples_;
    Table blocks_;
    Table runs_;
    Table markers_;
    Table digital_;
    Table events_;
    Table rules_;
    Table rulesText_;
    std::vector<Table> levels_;
    std::vector<unsigned char> summaryBuf_;
    std::size_t summaryRowBytes_ = 0;
    int32_t channels_ = 0;
    int32_t scans_ = 0;
    std::intptr_t reserveFd_ = -1; // nativefile::Handle, as oldFd_
    std::string tempPath_; // the successor's name until it replaces the file at path_
    std::intptr_t oldFd_ = -1; // the file it replaces, locked until then
    std::string asidePath_;    // the file it replaces, moved aside until then (Windows)
    int32_t firstRun_ = 1; // the number of the run in the first row of runs
    hsize_t unflushedBytes_ = 0;
    bool reserveSpent_ = false;
};

} // namespace adcard
