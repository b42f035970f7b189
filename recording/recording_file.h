#pragma once
// The HDF5 layout of a recording (described in the README, "Recording"): one
// group per run holding the samples, one row per block and the run's settings.
// Used by one thread at a time; every failure throws RecordingError with a
// message for the operator.
#include "acquisition/dlldef.h"

#include <hdf5.h>

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

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

// Conversion of the stored codes to volts: (code - offset) * scale.
inline constexpr int32_t kVoltsOffset = 2048;
inline constexpr double kVoltsScale = 10.0 / 4095.0;

struct RunInfo {
    AcqSettings settings;
    std::string driverLibrary;
    std::string programVersion;
    std::string startTime; // ISO 8601 with offset
};

// One row of a run's `blocks` table.
struct BlockRow {
    int64_t index = 0;  // fetches since the run began, from 0
    int64_t timeNs = 0; // the tick's wall-clock time
    int32_t slot = 0;
    int16_t blockCount = 0;
};

// Owns one HDF5 identifier.
class Hid {
public:
    using Closer = herr_t (*)(hid_t);
    Hid() = default;
    Hid(hid_t id, Closer closer) : id_(id), closer_(closer) {}
    Hid(Hid &&o) noexcept : id_(o.id_), closer_(o.closer_) { o.id_ = H5I_INVALID_HID; }
    Hid &operator=(Hid &&o) noexcept;
    ~Hid() { reset(); }
    hid_t get() const { return id_; }
    bool valid() const { return id_ >= 0; }
    // Returns the closer's result; 0 when there was nothing to close.
    herr_t reset();

private:
    hid_t id_ = H5I_INVALID_HID;
    Closer closer_ = nullptr;
};

class RecordingFile {
public:
    // Creates `path`, or refuses: an existing file unless `overwrite`, a
    // missing directory, no permission. The file is created for real, so what
    // the error says is what the system said.
    RecordingFile(std::string path, bool overwrite);
    ~RecordingFile();
    RecordingFile(const RecordingFile &) = delete;
    RecordingFile &operator=(const RecordingFile &) = delete;

    // Starts /runNNNN. Objects cannot be created in SWMR mode, so a file
    // already in it is closed and reopened first.
    void beginRun(const RunInfo &info);
    // Throws unless a block of `samples` codes belongs in the current run.
    void checkBlock(std::size_t samples) const;
    // Whole blocks as delivered, one after another: each ScansPerBlock x
    // ChannelCount codes.
    void appendBlocks(std::span<const int16_t> samples);
    void appendRows(std::span<const BlockRow> rows);
    void setLosses(int64_t missed, int64_t dropped);
    void flush();
    void close();
    // After a failure: releases what it can, reporting nothing.
    void abandon() noexcept;

    int64_t fileSize() const;
    int runs() const { return runs_; }
    const std::string &path() const { return path_; }

private:
    // Codes in one block of the current run; throws when no run has begun.
    std::size_t runBlockSamples() const;
    void closeRun();
    void open();
    void ensureRoom(hsize_t extra);
    void trimToStoredEnd();

    std::string path_;
    Hid fapl_;
    Hid file_;
    Hid run_;
    Hid samples_;
    Hid blocks_;
    Hid rowType_;
    int runs_ = 0;
    bool swmr_ = false;
    int32_t channels_ = 0;
    int32_t scans_ = 0;
    hsize_t scansStored_ = 0;
    hsize_t rowsStored_ = 0;
    int64_t missed_ = -1;
    int64_t dropped_ = -1;
    int reserveFd_ = -1;
    hsize_t unflushedBytes_ = 0;
};

} // namespace adcard
