#pragma once
// Events-only recording, on the writer's side: every block of the
// acquisition comes here as it would go to the file, and only the stretches
// that capture rules ask for reach it, each a run of its own with its event
// as a marker. A stretch runs from `before` seconds ahead of its event to
// `after` past it; events closer together than that merge into one stretch.
// The seconds ahead come from a ring of the newest blocks, kept while rules
// are armed: filled on the writer's thread, so the tick only queues blocks
// as in a continuous recording.
//
// Scans here are the acquisition's (block index * scans per block + scan);
// a run's own scans count from its first block.
#include "recording/recording_writer.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace adcard {

class EventCapture {
public:
    using Clock = RecordingWriter::Clock;
    // The most a rule may keep ahead of its event.
    static constexpr double kMaxBeforeSeconds = 10.0;

    explicit EventCapture(RecordingWriter &writer) : writer_(writer) {}

    // A Start: the file's layout, and an empty ring for this acquisition.
    void beginAcquisition(const AcqSettings &settings, Clock::time_point now);
    // Rules armed or not: the ring is kept only while they are.
    void setRulesArmed(bool armed);
    // `index`: fetches since the acquisition began, from 0.
    void onBlock(int64_t index, int32_t slot, std::span<const int16_t> codes);
    void onTickEnd(const TickEnd &tick, Clock::time_point now);
    // `event.scan` in the acquisition's scans.
    void onEvent(const RuleEvent &event, int64_t timeNs, Clock::time_point now);
    // At the end of block `afterBlock` of the acquisition: now if a run
    // holds it, or once a stretch that begins later takes it in (the seconds
    // before an event); forgotten once its block leaves the ring.
    void addMarker(int64_t timeNs, std::string_view text, int64_t afterBlock);
    // Stop: a stretch still open ends here.
    void endAcquisition(int64_t endNs, Clock::time_point now);

    bool inRun() const { return runOpen_; }
    std::size_t ringCapacity() const { return ring_.size(); }

private:
    struct Kept {
        int64_t index = -1;
        int32_t slot = 0;
        int64_t tick = 0;      // the tick that brought it
        bool tickEnded = false;
        TickEnd end;           // that tick's, once ended
        TickEnd before;        // the totals at the tick before it
        std::vector<int16_t> samples;
    };

    int64_t scansOf(double seconds) const;
    int64_t blockScans() const { return settings_.ScansPerBlock; }
    void sizeRing();
    Kept &kept(std::size_t i) { return ring_[(head_ + i) % ring_.size()]; }
    // Writes kept blocks [from, count_) to the run, with the ends of the
    // ticks that ended; the tick in progress ends live.
    void writeKept(std::size_t from, Clock::time_point now);
    void writeBlock(const Kept &k);
    void writeTickEnd(const TickEnd &tick, Clock::time_point now);
    void beginStretch(int64_t from, int64_t end, int64_t timeNs, Clock::time_point now);
    void endStretch(Clock::time_point now);
    // The operator's markers whose blocks the run now holds go to it.
    void writeMarkers();

    RecordingWriter &writer_;
    AcqSettings settings_;
    bool acquiring_ = false;
    bool armed_ = false;
    std::vector<Kept> ring_;
    std::size_t head_ = 0, count_ = 0;
    int64_t tick_ = 0;       // the tick in progress
    TickEnd lastTick_;       // the acquisition's totals at the last tick's end

    bool runOpen_ = false;
    int64_t firstIndex_ = 0;   // the run's first block, in the acquisition
    int64_t stretchEnd_ = 0;   // the scan after the stretch
    int64_t writtenEnd_ = 0;   // the scan after the newest block written
    int64_t newestEnd_ = 0;    // the scan after the newest block seen
    int64_t holdScans_ = 0;    // the longest `before` seen: how long an ended stretch may still merge
    bool tickWritten_ = false; // a block of the tick in progress went to the run
    TickEnd base_;             // the totals before the run's first block
    int64_t lastWrittenNs_ = 0;
    struct Marker {
        int64_t timeNs = 0;
        std::string text;
        int64_t afterBlock = 0;
    };
    std::vector<Marker> markers_; // waiting for a run to hold their blocks
};

} // namespace adcard
