#pragma once
// Records every harvested block to an HDF5 file (layout in docs/recording-format.md).
// The acquisition calls the BlockHook methods on the UI thread;
// they only copy into a preallocated queue and return, and a writer thread
// does the disk work. When the queue is full a block is dropped and counted.
//
// The UI thread calls arm(), beginStop(), status(), takeError() and
// addMarker(); none of them touch the file except arm(), which creates it.
// stop() waits for the writer to drain the queue and close the file; the UI
// calls beginStop() instead, which returns at once.
#include "recording/recording_session.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace adcard {

class SeriesWriter;
class EventCapture;
class Retention;
class DiskWatch;
template <typename Slot>
class SlotQueue;

const char *stateName(RecorderState s); // "idle", "armed", "recording", "failed", "closing"

class Recorder final : public RecordingSession {
public:
    static constexpr std::size_t kDefaultQueueBlocks = 64;

    // `flushEvery`: the longest a written tick waits to be flushed, so the
    // most a crash can lose; zero flushes every tick.
    explicit Recorder(std::size_t queueBlocks = kDefaultQueueBlocks,
                      std::chrono::milliseconds flushEvery = std::chrono::milliseconds{0});
    ~Recorder() override; // stop()
    Recorder(const Recorder &) = delete;
    Recorder &operator=(const Recorder &) = delete;

    // Creates the file and waits for the next successful Start. Returns an
    // empty string, or why the file cannot be written (an existing file is
    // refused unless `overwrite`). Refused while armed or recording.
    std::string arm(const std::string &path, bool overwrite, const RecorderInfo &info) override;
    // Writes every block queued so far, closes the file and returns to idle
    // (or stays failed, with its message).
    void stop() override;
    void beginStop() override;
    using RecordingSession::addMarker;
    std::optional<MarkerStamp> stampMarker() const override;
    bool addMarker(const MarkerStamp &stamp, const std::string &text) override;
    bool inRun() const override { return recording(); }
    void joinAtNextBlock(const AcqSettings &settings) override;
    RecorderStatus status() const override;
    // Each new error message once, for the status line and standard error.
    std::optional<std::string> takeError() override;
    std::optional<std::string> takeNotice() override;

    void historyStarted(const AcqSettings &settings) override;
    void acquisitionStarted(const AcqSettings &settings) override;
    void blockStored(const StoredBlock &block) override;
    void blockMissed(int64_t fetched) override;
    void tickEnded(const TickSummary &tick) override;
    // Stop ends the run; Unload also closes the file, as stop() does.
    void acquisitionStopped(StopReason reason) override;
    void rulesArmed(std::string_view rulesText) override;
    void ruleEvent(const RuleEvent &event) override;

    struct Slot;

private:
    bool recording() const;
    bool writerRunning() const;
    void joinIfDone();
    void beginRun(const AcqSettings &settings);
    bool queueBegin();
    void dropBlock();
    void writerMain();
    // Runs one message.
    void handle(Slot &s);
    void setError(std::string message);
    bool queueRules();
    // A scan counted from the history's start, in the run's scans.
    int64_t runScan(int64_t historyScan) const;
    // The series' side (recorder_series.cpp): what arm() refuses of a
    // split, and the writer thread's look at the disk every few seconds
    // and at each new file: retention, free space, notices.
    std::string splitRefusal(bool overwrite, const RecorderInfo &info) const;
    void startUpkeep();
    void upkeep(std::chrono::steady_clock::time_point now);
    void notice(std::string text);

    std::size_t queueBlocks_;
    std::chrono::milliseconds flushEvery_;
    std::unique_ptr<SlotQueue<Slot>> queue_;
    std::unique_ptr<SeriesWriter> writer_;
    std::unique_ptr<EventCapture> capture_; // events-only recording
    std::thread thread_;
    std::atomic<bool> closeRequested_{false};
    std::atomic<RecorderState> state_{RecorderState::Idle};
    std::string path_;
    RecorderInfo info_;

    // Written by the UI thread while no writer runs, or by the writer just
    // before it publishes Failed.
    std::string lastError_;
    std::atomic<uint64_t> errors_{0};
    uint64_t errorsTaken_ = 0;

    std::atomic<int64_t> blocksWritten_{0};
    std::atomic<int64_t> blocksDropped_{0};
    std::atomic<int64_t> fileSize_{0};

    std::unique_ptr<Retention> retention_;
    std::unique_ptr<DiskWatch> watch_;
    std::chrono::steady_clock::time_point nextUpkeep_{};
    std::atomic<int64_t> freeBytes_{-1};
    std::atomic<double> secondsToFull_{-1};
    // Written by the writer thread, read by the UI's.
    mutable std::mutex shared_;
    std::deque<std::string> notices_;
    std::string currentFile_; // the file of the series being written

    // The UI thread's own view of the run.
    bool inRun_ = false;
    bool beginPending_ = false;
    AcqSettings runSettings_;
    int64_t runStartNs_ = 0;
    int64_t runMissed_ = 0;
    int64_t runDropped_ = 0;
    int64_t runBlockCount_ = 0; // the card's blocks since the run's Start, never saturating
    int64_t runSerial_ = 0;     // runs begun
    int64_t lastQueued_ = -1;   // the run's newest block queued
    // A run joined mid-acquisition numbers its blocks from its first one.
    int64_t indexBase_ = 0;
    bool joinPending_ = false;
    // The rules in force, for a recording armed later too; pending until
    // the queue takes them.
    std::string rulesText_;
    bool rulesPending_ = false;
    // Fetches minus blocks handed over, for the newest blocks: where a rule's
    // scan lies in the run when fetches failed between.
    struct Handed {
        int64_t handedOver = 0;
        int64_t fetched = 0;
    };
    static constexpr std::size_t kHandedKept = 64;
    std::array<Handed, kHandedKept> handed_{};
    int64_t handedCount_ = 0;
};

} // namespace adcard
