#pragma once
// The writer's work, without a thread: the recorder's thread calls these
// methods as it takes messages from its queue, and a test or a tool calls
// them directly. Every failure throws RecordingError.
//
// A flush puts on disk, in this order, the samples written so far, the
// summary entries that cover them, the rows that point at them, and then the
// run's row, the markers, the digital inputs, the rules and the rules'
// events: a reader that trusts only rows never finds a row without its
// samples, nor an event before the row of the block that holds its scan.
#include "acquisition/block_hook.h"
#include "recording/recording_file.h"
#include "recording/recording_reader.h"
#include "recording/pyramid_builder.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace adcard {

struct TickEnd {
    int64_t timeNs = 0;     // wall clock
    int64_t blockCount = 0; // blocks the card reported since the run's Start
    int64_t missed = 0;     // the run's totals so far
    int64_t dropped = 0;
    bool digitalRead = false;
    std::array<int16_t, 2> digital{};
};

// A rule's marker: its name and the value that fired it ("过压 4.0123").
std::string ruleMarkerText(std::string_view rule, double value);

class RecordingWriter {
public:
    using Clock = std::chrono::steady_clock;
    struct Policy {
        // The longest a written tick waits to be flushed (the most a crash
        // loses); zero flushes every tick.
        std::chrono::milliseconds flushEvery{0};
        // The longest flushed data waits to reach the disk itself (the most a
        // power cut loses).
        std::chrono::milliseconds syncEvery{5000};
        // What the file states its codes mean; the panel's card unless a
        // tool records another.
        Calibration calibration = kPanelCalibration;
        // Each channel's name and unit, as the operator gave them.
        ChannelUnits units{};
        // The file's place in a series of files; none: a recording of its own.
        std::optional<SeriesMembership> series{};
    };
    // A run as a series numbers it, for a file after the series' first: its
    // number, and its block index (counted across the series) that is this
    // file's block 0; `continues` when it began in an earlier file.
    struct SeriesRun {
        int32_t run = 1;
        int64_t firstBlock = 0;
        bool continues = false;
    };

    RecordingWriter(std::unique_ptr<RecordingFile> file, std::string driverLibrary, std::string programVersion,
                    Policy policy);

    // Lays the file out for runs of `settings` (a run of events-only
    // recording begins later, if at all), or checks that they fit it.
    void layOut(const AcqSettings &settings, Clock::time_point now);
    // A Start: ends the run still open, lays the file out at the first one,
    // and puts the new run's row on disk at once. Blocks, markers and events
    // then count in the run's own blocks and scans: with `seriesRun`, those of
    // the whole series, which the file stores from its block 0 on.
    void beginRun(const AcqSettings &settings, int64_t startNs, Clock::time_point now,
                  std::optional<SeriesRun> seriesRun = std::nullopt);
    void onBlock(int64_t index, int32_t slot, std::span<const int16_t> codes);
    void onTickEnd(const TickEnd &tick, Clock::time_point now);
    // At the end of block `afterBlock` of the run (-1: its start), or of
    // the newest block written when none is given. False when no run is open.
    bool addMarker(int64_t timeNs, std::string_view text, std::optional<int64_t> afterBlock = std::nullopt);
    // At scan `scan` of the run (not a block's end).
    bool addMarkerAt(int64_t scan, int64_t timeNs, std::string_view text);
    // An armed rule's event, its scan already in the run's scans; a fired
    // event that asks for a mark or a capture also marks its scan with the
    // rule's name and value. False when no run is open.
    bool addEvent(const RuleEvent &event, int64_t timeNs);
    // The rules now in force (empty: none), for the run open now or, between
    // runs, the next; written once the file is laid out.
    void setRules(int64_t timeNs, std::string text);
    void flush(Clock::time_point now);
    // When a flush or a sync falls due if no message comes to bring it
    // (a card that pauses sends none); Clock::time_point::max() when
    // nothing waits for either.
    Clock::time_point dueAt() const;
    // No message came by dueAt(): flushes, or syncs, what has waited.
    void onIdle(Clock::time_point now);
    // Stop: the run's last summaries, its end time, a flush and a sync.
    void endRun(int64_t endNs, Clock::time_point now);
    void close(int64_t endNs, Clock::time_point now);
    // After a failure: when only the room ran out, every block whose samples
    // reached the file gets its row and summaries, the run's row is brought
    // up to date and the file closed properly; otherwise released as it is.
    void closeAfterFailure(bool noRoom, int64_t endNs) noexcept;

    bool inRun() const { return run_.run > 0 && run_.endTimeNs == 0; }
    int64_t rowsFlushed() const { return rowsFlushed_; }
    int64_t fileSize() const { return file_->fileSize(); }
    const RecordingFile &file() const { return *file_; }
    RecordingFile &file() { return *file_; }

private:
    void finishTick(int64_t timeNs, int64_t blockCount);
    void keepStoredBlocks(int64_t endNs);
    void sync(Clock::time_point now);
    // Rows, markers, inputs or the run's row not yet flushed.
    bool unflushed() const;
    void writeSamples();
    // Events whose scan the flushed rows cover (or whose run has ended), to
    // the file; the others wait for their rows.
    void writeCoveredEvents();
    bool eventsReady() const;
    // Markers likewise: one stamped within a tick still going waits for it.
    void writeCoveredMarkers();
    bool markersReady() const;
    void writePendingRules();
    int64_t scanAfter(int64_t index) const { return (index + 1) * file_->scansPerBlock(); }
    // A scan of the run as the caller counts it, as the file stores it.
    int64_t localScan(int64_t scan) const { return std::max<int64_t>(scan - run_.seriesFirstBlock * file_->scansPerBlock(), 0); }

    std::unique_ptr<RecordingFile> file_;
    std::string driverLibrary_;
    std::string programVersion_;
    Policy policy_;
    std::optional<PyramidBuilder> summaries_;
    RunRow run_;
    int64_t lastIndex_ = -1;     // the run's newest block
    int64_t tickLastIndex_ = -1; // the current tick's
    std::vector<int16_t> pending_; // samples not yet handed to HDF5
    std::vector<BlockRow> tick_;   // this tick's rows, completed at its end
    std::vector<BlockRow> rows_;   // completed rows awaiting the flush
    std::vector<EntryTable> levelEntries_; // per level, completed and not yet written
    std::vector<MarkerRow> markers_;
    std::vector<DigitalRow> digital_;
    std::vector<EventRow> events_;
    struct PendingRules {
        RulesRow row;
        std::string text;
    };
    std::vector<PendingRules> rules_;
    bool runDirty_ = false;
    bool unsynced_ = false; // flushed since the last sync
    int64_t rowsFlushed_ = 0;
    int64_t runRowsFlushed_ = 0;
    int64_t flushedEnd_ = 0; // the scan after the run's last flushed row
    Clock::time_point lastFlush_{};
    Clock::time_point lastSync_{};
};

} // namespace adcard
