#pragma once
// What the program sees of the recorder. The recorder itself, with HDF5 and
// the libraries HDF5 brings (about 6 MiB of them), lives in a module that the
// program loads only when a recording is first asked for, so that a panel
// that never records starts and runs as it would without it.
#include "acquisition/block_hook.h"
#include "data/channel_units.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace adcard {

// How a recording is split into a series of files, NAME_YYYYMMDD-HHMMSS.h5
// beside NAME.h5; neither set: one file.
struct SplitPolicy {
    int64_t everyNs = 0;    // card time (scans / rate) per file; 0: not by time
    int64_t everyBytes = 0; // a file's size; 0: not by size
    std::string text;       // as the operator gave it: "1h", "10m", "500MiB"
    bool any() const { return everyNs > 0 || everyBytes > 0; }
};

// What a series may delete to keep its disk from filling: files of this
// series and of earlier series of the same name, oldest first, never the
// file being written nor a file of any other recording.
struct RetentionPolicy {
    int64_t keepFreeBytes = 0; // delete while the disk's free space is below this; 0: never
    int64_t keepNs = 0;        // delete files whose last block is older than this; 0: never
    bool any() const { return keepFreeBytes > 0 || keepNs > 0; }
};

// What the panel knows about itself, stored with each run.
struct RecorderInfo {
    std::string driverLibrary;
    std::string programVersion;
    ChannelUnits units{}; // what the file states each channel measures
    // Only the stretches that capture rules ask for, each a run of its own,
    // rather than every block.
    bool eventsOnly = false;
    SplitPolicy split{};
    RetentionPolicy retention{};
};

// Closing: the writer is finishing the file after a stop; the UI does not
// wait for it.
enum class RecorderState { Idle, Armed, Recording, Failed, Closing };

struct RecorderStatus {
    RecorderState state = RecorderState::Idle;
    std::string file;
    int64_t blocksWritten = 0; // in the file and flushed
    int64_t fileSize = 0;      // bytes, as of the latest flush
    int64_t blocksDropped = 0; // refused because the queue was full
    std::string lastError;
    uint64_t errors = 0; // errors so far; a change means a new lastError
    // The recording disk's free space and, at the rate it is being written,
    // the seconds until it is full; -1 where not known.
    int64_t freeBytes = -1;
    double secondsToFull = -1;
};

// Where and when a marker goes, taken when the operator asks for one; its
// text may follow much later.
struct MarkerStamp {
    int64_t timeNs = 0;
    int64_t run = 0;    // the recorder's own count of runs begun
    int64_t block = -1; // the newest block queued in that run then; -1: none yet
};

class RecordingSession : public BlockHook {
public:
    // Creates the file and waits for the next successful Start. Returns an
    // empty string, or why the file cannot be written (an existing file is
    // refused unless `overwrite`). Refused while armed or recording.
    virtual std::string arm(const std::string &path, bool overwrite, const RecorderInfo &info) = 0;
    // Writes every block queued so far, closes the file and returns to idle
    // (or stays failed, with its message). Waits for the writer: never from
    // the UI thread, which calls beginStop().
    virtual void stop() = 0;
    // As stop(), but returns at once; status() says Closing until the file
    // is closed.
    virtual void beginStop() = 0;
    virtual RecorderStatus status() const = 0;
    // Each new error message once, for the status line and standard error.
    virtual std::optional<std::string> takeError() = 0;
    // Each notice once, oldest first: what is worth an operator's eye but
    // stops nothing (an old file of the series deleted to keep the disk from
    // filling, a disk that will fill within the hour).
    virtual std::optional<std::string> takeNotice() { return std::nullopt; }
    // Marks the newest recorded block with `text` (may be empty); false when
    // no run is being recorded.
    virtual bool addMarker(const std::string &text)
    {
        const auto stamp = stampMarker();
        return stamp && addMarker(*stamp, text);
    }
    // The place of a marker now; none when no run is being recorded.
    virtual std::optional<MarkerStamp> stampMarker() const { return std::nullopt; }
    // Marks the stamped place with `text`; false when that run has ended.
    virtual bool addMarker(const MarkerStamp &stamp, const std::string &text)
    {
        (void)stamp, (void)text;
        return false;
    }
    // True while a run is being recorded (not merely armed, nor between
    // a Stop and the next Start).
    virtual bool inRun() const { return false; }
    // Armed while the acquisition runs with `settings`: the run begins at
    // the next block instead of the next Start.
    virtual void joinAtNextBlock(const AcqSettings &settings) { (void)settings; }
};

// The module's one entry: a new recorder with a queue of `queueBlocks` and
// flushes at most `flushEveryMs` apart, for the caller to delete.
using MakeRecorderFn = RecordingSession *(*)(std::size_t queueBlocks, int64_t flushEveryMs);
inline constexpr const char *kMakeRecorderEntry = "adcard_make_recorder";

} // namespace adcard
