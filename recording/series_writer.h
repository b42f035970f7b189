#pragma once
// The writer's work over a series of files, without a thread: the recorder's
// thread feeds it as it fed one RecordingWriter, and bench/make_recording
// drives it directly. Without a split it is that one file; with one, the
// recording goes to NAME_YYYYMMDD-HHMMSS.h5 files beside NAME.h5 (which is
// not written), each a whole recording of its own.
//
// Blocks go to the file whose span holds their first scan, in card time
// (scans / rate) from the series' first scan. The run that goes on over a
// boundary keeps its number and carries on in the next file. The file left
// behind stays open only until the end of the tick that crossed the
// boundary, so that its rows get that tick's time and count, and a marker or
// an event for one of its scans that comes meanwhile goes into it; one that
// comes later goes to the current file at its first scan. A tick's digital
// inputs go with the file that holds its last block.
//
// The next file is made (created, laid out, locked, under its final name)
// once the current one is half through its span, by prepare(), so that
// the boundary costs only the close of the old file.
#include "recording/recording_session.h"
#include "recording/recording_writer.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace adcard {

class SeriesWriter {
public:
    using Clock = RecordingWriter::Clock;
    struct Options {
        std::string path; // NAME.h5: the file, or the series' base name
        bool overwrite = false;
        std::string driverLibrary;
        std::string programVersion;
        RecordingWriter::Policy policy{};
        SplitPolicy split{};
    };
    // A file of the series once it is closed, for the retention's list.
    struct Closed {
        std::string path;
        int64_t place = 0;
        int64_t endNs = 0; // its last block's time
        int64_t bytes = 0;
    };

    // Without a split, creates the file (refusals as RecordingFile's);
    // with one, checks only that the folder takes new files: the first file
    // is named by the first run's start.
    explicit SeriesWriter(Options options);
    ~SeriesWriter();
    SeriesWriter(const SeriesWriter &) = delete;
    SeriesWriter &operator=(const SeriesWriter &) = delete;

    bool splitting() const { return options_.split.any(); }
    // The file being written; null in a series before its first run.
    RecordingWriter *current() { return cur_.get(); }
    std::string currentPath() const { return curPath_; }
    std::string aheadPath() const { return ahead_ ? aheadPath_ : std::string(); }
    const std::string &seriesId() const { return id_; }
    int64_t place() const { return place_; }
    int64_t seriesStartNs() const { return seriesStartNs_; }

    void beginRun(const AcqSettings &settings, int64_t startNs, Clock::time_point now);
    void onBlock(int64_t index, int32_t slot, std::span<const int16_t> codes);
    void onTickEnd(const TickEnd &tick, Clock::time_point now);
    bool addMarker(int64_t timeNs, std::string_view text, std::optional<int64_t> afterBlock = std::nullopt);
    bool addEvent(const RuleEvent &event, int64_t timeNs);
    void setRules(int64_t timeNs, std::string text);
    Clock::time_point dueAt() const;
    void onIdle(Clock::time_point now);
    void endRun(int64_t endNs, Clock::time_point now);
    void close(int64_t endNs, Clock::time_point now);
    void closeAfterFailure(bool noRoom, int64_t endNs) noexcept;
    // Makes the next file when the current one is half through its span.
    void prepare(Clock::time_point now);

    int64_t rowsFlushed() const;
    int64_t fileSize() const { return cur_ ? cur_->fileSize() : 0; }
    // Every byte of the series' files so far, for the rate of writing.
    int64_t bytesWritten() const;
    // The files closed since the last call, oldest first.
    std::vector<Closed> takeClosed();
    // Files never to delete: those being written or made ahead.
    std::vector<std::string> inUse() const;

private:
    std::unique_ptr<RecordingWriter> makeFile(int64_t place, int64_t nameNs, std::string &path,
                                              Clock::time_point now);
    void discardAhead() noexcept;
    // To the file whose span holds card time `cardNs`, from block `index`.
    void switchTo(int64_t cardNs, int64_t index, Clock::time_point now);
    void finishPrevious(const TickEnd *tick, Clock::time_point now);
    void finish(RecordingWriter &w, const std::string &path, int64_t place, int64_t endNs, Clock::time_point now);
    void startFileRun(int64_t firstBlock, bool continues, int64_t startNs, Clock::time_point now);
    int64_t periodNs() const;
    int64_t cardOfBlock(int64_t index) const;
    int64_t wallOfCard(int64_t cardNs) const { return runStartNs_ + (cardNs - runCardNs_); }
    int64_t scansPerBlock() const { return settings_.ScansPerBlock; }

    Options options_;
    std::string splitText_;
    std::string id_;
    int64_t seriesStartNs_ = 0;
    bool started_ = false;

    std::unique_ptr<RecordingWriter> cur_;
    std::string curPath_;
    int64_t place_ = 0;
    int64_t fileStartCard_ = 0, fileEndCard_ = 0; // the current file's span, in card ns
    // The file left behind at a boundary, until the tick that crossed it ends.
    std::unique_ptr<RecordingWriter> prev_;
    std::string prevPath_;
    int64_t prevPlace_ = 0;
    int64_t prevBoundary_ = 0; // the current file's first block
    TickEnd prevTotals_{};     // the losses the file left behind counts
    std::unique_ptr<RecordingWriter> ahead_;
    std::string aheadPath_;
    int64_t aheadPlace_ = -1;
    Clock::time_point aheadRetry_{}; // after a next file could not be made

    // The run now, as the series counts it.
    AcqSettings settings_{};
    int32_t run_ = 0;
    bool inRun_ = false;
    int64_t runStartNs_ = 0; // wall clock of its first scan
    int64_t runCardNs_ = 0;  // card time of its first scan, from the series' first
    int64_t cardEndNs_ = 0;  // card time after the last run's last block
    int64_t lastIndex_ = -1;
    bool tickOpen_ = false; // blocks came since the last tick's end
    Clock::time_point lastNow_{}; // the caller's clock at its last tick
    TickEnd lastTick_{};    // the run's totals at the last tick's end
    TickEnd fileBase_{};    // the run's totals when the current file began
    struct Rules {
        int64_t timeNs = 0;
        std::string text;
    };
    std::optional<Rules> rules_; // the rules in force, for each new file

    int64_t bytesPerBlock_ = 0; // a size split's measure, from the layout or the last file
    int64_t closedRows_ = 0;
    int64_t closedBytes_ = 0;
    std::vector<Closed> closed_;
};

} // namespace adcard
