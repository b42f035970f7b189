#include "recording/recorder.h"

#include "platform/native_file.h"

#include "recording/event_capture.h"
#include "recording/recording_file.h"
#include "recording/recording_writer.h"
#include "recording/retention.h"
#include "recording/series_writer.h"
#include "recording/slot_queue.h"
#include "recording/timestamp.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <new>
#include <system_error>

namespace adcard {

struct Recorder::Slot {
    enum class Kind : uint8_t { BeginRun, Block, TickEnd, Marker, EndRun, Event, Rules };
    Kind kind = Kind::EndRun;
    AcqSettings settings;  // BeginRun
    int64_t timeNs = 0;    // BeginRun: start; TickEnd: the tick; Marker; EndRun
    int64_t index = 0;     // Block
    int32_t ringSlot = 0;  // Block
    TickEnd tick;          // TickEnd
    std::size_t count = 0; // Block: samples used
    std::vector<int16_t> samples;
    std::string text; // Marker; Event: the rule's name; Rules
    std::string note; // Event
    RuleEvent event;  // Event: its scan in the run's, its texts above
};

namespace {

// Slots that only control messages may take: blocks leave two free, so that
// a tick whose blocks got in always gets its end in too (see tickEnded), and
// tick ends and markers leave one, so that a Stop always gets in.
constexpr std::size_t kControlReserve = 2;
constexpr std::size_t kStopReserve = 1;


} // namespace

const char *stateName(RecorderState s)
{
    switch (s) {
    case RecorderState::Idle:
        return "idle";
    case RecorderState::Armed:
        return "armed";
    case RecorderState::Recording:
        return "recording";
    case RecorderState::Failed:
        return "failed";
    case RecorderState::Closing:
        return "closing";
    }
    return "?";
}

Recorder::Recorder(std::size_t queueBlocks, std::chrono::milliseconds flushEvery)
    : queueBlocks_(std::max(queueBlocks, kControlReserve + 1)), flushEvery_(flushEvery)
{
}

Recorder::~Recorder()
{
    stop();
}

void Recorder::setError(std::string message)
{
    lastError_ = std::move(message);
    errors_.fetch_add(1, std::memory_order_release);
}

bool Recorder::writerRunning() const
{
    const RecorderState st = state_.load(std::memory_order_acquire);
    return thread_.joinable() && st != RecorderState::Failed && st != RecorderState::Idle;
}

void Recorder::joinIfDone()
{
    if (thread_.joinable() && !writerRunning()) {
        thread_.join();
        capture_.reset();
        writer_.reset();
        queue_.reset();
    }
}

std::string Recorder::arm(const std::string &path, bool overwrite, const RecorderInfo &info)
{
    joinIfDone();
    if (thread_.joinable()) {
        if (state_.load(std::memory_order_acquire) == RecorderState::Closing)
            return "still closing '" + path_ + "'; try again in a moment";
        return "already recording to '" + path_ + "'; stop it first";
    }
    if (const std::string why = splitRefusal(overwrite, info); !why.empty()) {
        setError(why);
        return why;
    }
    nativefile::ignoreFileSizeSignal();
    try {
        SeriesWriter::Options options{path, overwrite, info.driverLibrary, info.programVersion, {flushEvery_}, info.split};
        options.policy.units = info.units;
        writer_ = std::make_unique<SeriesWriter>(std::move(options));
        if (info.eventsOnly)
            capture_ = std::make_unique<EventCapture>(*writer_->current());
        queue_ = std::make_unique<SlotQueue<Slot>>(queueBlocks_);
        // The rules already in force go with the file's first run.
        if (!rulesText_.empty())
            writer_->setRules(wallClockNs(), rulesText_);
        if (capture_)
            capture_->setRulesArmed(!rulesText_.empty());
        rulesPending_ = false;
    } catch (const std::exception &e) {
        capture_.reset();
        writer_.reset();
        setError(e.what());
        state_.store(RecorderState::Idle, std::memory_order_release);
        return lastError_;
    }
    path_ = path;
    info_ = info;
    startUpkeep();
    lastError_.clear();
    blocksWritten_ = 0;
    blocksDropped_ = 0;
    fileSize_ = writer_->fileSize();
    inRun_ = false;
    beginPending_ = false;
    closeRequested_ = false;
    state_.store(RecorderState::Armed, std::memory_order_release);
    try {
        thread_ = std::thread(&Recorder::writerMain, this);
    } catch (const std::system_error &e) {
        capture_.reset();
        writer_.reset();
        setError(std::string("cannot start the writer thread: ") + e.what());
        state_.store(RecorderState::Idle, std::memory_order_release);
        return lastError_;
    }
    return {};
}

void Recorder::beginStop()
{
    inRun_ = false;
    beginPending_ = false;
    if (!thread_.joinable())
        return;
    for (RecorderState st = state_.load(std::memory_order_acquire);
         st == RecorderState::Armed || st == RecorderState::Recording;) {
        if (state_.compare_exchange_weak(st, RecorderState::Closing, std::memory_order_acq_rel))
            break;
    }
    // The writer drains what is queued, then closes the file.
    closeRequested_.store(true, std::memory_order_release);
    queue_->wake();
}

void Recorder::stop()
{
    beginStop();
    if (thread_.joinable())
        thread_.join();
    capture_.reset();
    writer_.reset();
    queue_.reset();
}

RecorderStatus Recorder::status() const
{
    RecorderStatus s;
    s.state = state_.load(std::memory_order_acquire);
    s.file = path_;
    s.blocksWritten = blocksWritten_.load(std::memory_order_relaxed);
    s.fileSize = fileSize_.load(std::memory_order_relaxed);
    s.blocksDropped = blocksDropped_.load(std::memory_order_relaxed);
    s.errors = errors_.load(std::memory_order_acquire);
    s.freeBytes = freeBytes_.load(std::memory_order_relaxed);
    s.secondsToFull = secondsToFull_.load(std::memory_order_relaxed);
    {
        const std::lock_guard lock(shared_);
        if (!currentFile_.empty())
            s.file = currentFile_;
    }
    if (!writerRunning())
        s.lastError = lastError_;
    return s;
}

std::optional<std::string> Recorder::takeError()
{
    const uint64_t n = errors_.load(std::memory_order_acquire);
    if (n == errorsTaken_ || writerRunning())
        return std::nullopt;
    errorsTaken_ = n;
    return lastError_;
}

std::optional<MarkerStamp> Recorder::stampMarker() const
{
    if (!recording())
        return std::nullopt;
    return MarkerStamp{wallClockNs(), runSerial_, lastQueued_};
}

bool Recorder::addMarker(const MarkerStamp &stamp, const std::string &text)
{
    if (!recording() || stamp.run != runSerial_ || !queueBegin())
        return false;
    Slot *s = queue_->claim(kStopReserve);
    if (!s)
        return false;
    s->kind = Slot::Kind::Marker;
    s->timeNs = stamp.timeNs;
    s->index = stamp.block;
    s->text = text;
    queue_->publish();
    return true;
}

void Recorder::joinAtNextBlock(const AcqSettings &settings)
{
    if (state_.load(std::memory_order_acquire) != RecorderState::Armed)
        return;
    runSettings_ = settings;
    joinPending_ = true;
}

bool Recorder::recording() const
{
    return inRun_ && state_.load(std::memory_order_relaxed) == RecorderState::Recording;
}

void Recorder::historyStarted(const AcqSettings &)
{
    // The ring starts again: so does the run, at the next acquisitionStarted.
    inRun_ = false;
    handedCount_ = 0;
    beginPending_ = false;
    joinPending_ = false;
}

void Recorder::acquisitionStarted(const AcqSettings &settings)
{
    RecorderState st = state_.load(std::memory_order_acquire);
    if (st != RecorderState::Armed && st != RecorderState::Recording)
        return;
    // Size the free slots for this run's blocks once, here, rather than per
    // block; a slot the writer holds now grows at its next use.
    const auto samples = static_cast<std::size_t>(std::max(0, int(settings.ChannelCount))) *
                         static_cast<std::size_t>(std::max(0, settings.ScansPerBlock));
    try {
        queue_->forEachFree([&](Slot &s) {
            if (s.samples.size() < samples)
                s.samples.resize(samples);
            // A rule's texts are copied into these in the tick.
            s.text.reserve(format::kRuleNameBytes);
            s.note.reserve(format::kEventNoteBytes);
        });
    } catch (const std::bad_alloc &) {
        // Blocks are then dropped (and counted) where a slot cannot grow.
    }
    if (st == RecorderState::Armed &&
        !state_.compare_exchange_strong(st, RecorderState::Recording, std::memory_order_acq_rel))
        return;
    joinPending_ = false;
    indexBase_ = 0;
    beginRun(settings);
}

void Recorder::beginRun(const AcqSettings &settings)
{
    runSettings_ = settings;
    ++runSerial_;
    lastQueued_ = -1;
    runStartNs_ = wallClockNs();
    runMissed_ = 0;
    runDropped_ = 0;
    runBlockCount_ = 0;
    inRun_ = true;
    beginPending_ = true;
    (void)queueBegin();
}

bool Recorder::queueBegin()
{
    if (!beginPending_)
        return true;
    Slot *s = queue_->claim();
    if (!s)
        return false;
    s->kind = Slot::Kind::BeginRun;
    s->settings = runSettings_;
    s->timeNs = runStartNs_;
    queue_->publish();
    beginPending_ = false;
    return true;
}

void Recorder::dropBlock()
{
    ++runDropped_;
    blocksDropped_.fetch_add(1, std::memory_order_relaxed);
}

void Recorder::blockStored(const StoredBlock &block)
{
    if (joinPending_) {
        // Armed during the acquisition: the run begins with this block, as
        // a Start would have begun it.
        joinPending_ = false;
        if (state_.load(std::memory_order_acquire) == RecorderState::Armed) {
            const AcqSettings settings = runSettings_;
            acquisitionStarted(settings); // sizes the slots, then begins
            indexBase_ = block.fetched - 1;
        }
    }
    handed_[std::size_t(handedCount_++ % int64_t(kHandedKept))] = {block.handedOver, block.fetched};
    if (!recording())
        return;
    Slot *s = queueBegin() ? queue_->claim(kControlReserve) : nullptr;
    if (!s) {
        dropBlock();
        return;
    }
    if (s->samples.size() < block.samples.size()) {
        try {
            s->samples.resize(block.samples.size());
        } catch (const std::bad_alloc &) {
            dropBlock();
            return;
        }
    }
    std::copy(block.samples.begin(), block.samples.end(), s->samples.begin());
    s->kind = Slot::Kind::Block;
    s->count = block.samples.size();
    s->index = block.fetched - 1 - indexBase_;
    lastQueued_ = s->index;
    s->ringSlot = block.slot;
    // The writer is woken once a tick, by its end.
    queue_->publish(false);
}

void Recorder::blockMissed(int64_t)
{
    if (recording())
        ++runMissed_;
}

void Recorder::tickEnded(const TickSummary &tick)
{
    if (!recording())
        return;
    // Counted here, so that a tick end that finds no slot still counts.
    runBlockCount_ += tick.readyBlocks;
    if (!queueBegin())
        return;
    // Blocks stop at kControlReserve free slots, so this fails only when no
    // block of this tick got in; the loss totals then travel with a later tick.
    Slot *s = queue_->claim(kStopReserve);
    if (!s) {
        queue_->wake(); // for whatever blocks did get in
        return;
    }
    s->kind = Slot::Kind::TickEnd;
    s->tick.timeNs = wallClockNs();
    s->tick.blockCount = runBlockCount_;
    s->tick.missed = runMissed_;
    s->tick.dropped = runDropped_;
    s->tick.digitalRead = tick.digitalRead;
    s->tick.digital = tick.digitalInputs;
    queue_->publish();
    // Rules the queue had no room for when armed; after the tick's end,
    // whose slot they must not take.
    (void)queueRules();
}

void Recorder::acquisitionStopped(StopReason reason)
{
    if (reason == StopReason::Unload) {
        // The program is ending: the file is closed without the UI waiting.
        beginStop();
        return;
    }
    // The run ends: its last summaries, its end time, a flush and a sync.
    if (recording() && !beginPending_) {
        if (Slot *s = queue_->claim()) {
            s->kind = Slot::Kind::EndRun;
            s->timeNs = wallClockNs();
            queue_->publish();
        } else {
            queue_->wake(); // the blocks in the queue are written all the same
        }
    }
    inRun_ = false;
    joinPending_ = false;
}

void Recorder::rulesArmed(std::string_view rulesText)
{
    rulesText_.assign(rulesText);
    rulesPending_ = true;
    (void)queueRules();
}

bool Recorder::queueRules()
{
    const RecorderState st = state_.load(std::memory_order_acquire);
    if (!rulesPending_ || !queue_ || (st != RecorderState::Armed && st != RecorderState::Recording))
        return true;
    Slot *s = queue_->claim(kStopReserve);
    if (!s)
        return false; // tried again at the next tick
    s->kind = Slot::Kind::Rules;
    s->timeNs = wallClockNs();
    s->text = rulesText_;
    queue_->publish();
    rulesPending_ = false;
    return true;
}

int64_t Recorder::runScan(int64_t historyScan) const
{
    const int64_t perBlock = runSettings_.ScansPerBlock;
    if (perBlock <= 0 || historyScan < 0 || handedCount_ == 0)
        return -1;
    // The fetches that failed before the block that holds the scan shift it
    // in the run, whose blocks are numbered by fetch.
    const int64_t handedOver = historyScan / perBlock + 1;
    const Handed newest = handed_[std::size_t((handedCount_ - 1) % int64_t(kHandedKept))];
    int64_t failed = newest.fetched - newest.handedOver;
    for (int64_t i = handedCount_ - 1; i >= std::max<int64_t>(0, handedCount_ - int64_t(kHandedKept)); --i) {
        const Handed &h = handed_[std::size_t(i % int64_t(kHandedKept))];
        if (h.handedOver == handedOver) {
            failed = h.fetched - h.handedOver;
            break;
        }
    }
    return historyScan + (failed - indexBase_) * perBlock;
}

void Recorder::ruleEvent(const RuleEvent &event)
{
    if (!recording() || !queueBegin())
        return;
    const int64_t scan = runScan(event.scan);
    if (scan < 0)
        return; // before the run began
    // Events keep the tick's slot free for its end, as blocks do.
    Slot *s = queue_->claim(kControlReserve);
    if (!s)
        return;
    s->kind = Slot::Kind::Event;
    s->timeNs = wallClockNs();
    s->event = event;
    s->event.scan = scan;
    // Its texts are views into the tick's strings, gone by the time the
    // writer reads the slot: it copies those the file keeps, and drops the rest.
    s->event.rule = s->event.note = s->event.unit = {};
    // Within the room reserved for them at the Start: no allocation here.
    s->text.assign(event.rule.substr(0, std::min(event.rule.size(), format::kRuleNameBytes)));
    s->note.assign(event.note.substr(0, std::min(event.note.size(), format::kEventNoteBytes)));
    queue_->publish(false); // the tick's end wakes the writer
}

void Recorder::handle(Slot &s)
{
    SeriesWriter &w = *writer_;
    EventCapture *c = capture_.get();
    const auto now = RecordingWriter::Clock::now();
    switch (s.kind) {
    case Slot::Kind::BeginRun:
        c ? c->beginAcquisition(s.settings, now) : w.beginRun(s.settings, s.timeNs, now);
        break;
    case Slot::Kind::Block: {
        const std::span<const int16_t> codes(s.samples.data(), s.count);
        c ? c->onBlock(s.index, s.ringSlot, codes) : w.onBlock(s.index, s.ringSlot, codes);
        return;
    }
    case Slot::Kind::TickEnd:
        c ? c->onTickEnd(s.tick, now) : w.onTickEnd(s.tick, now);
        break;
    case Slot::Kind::Marker:
        if (c)
            c->addMarker(s.timeNs, s.text, s.index);
        else
            (void)w.addMarker(s.timeNs, s.text, s.index);
        return;
    case Slot::Kind::EndRun:
        c ? c->endAcquisition(s.timeNs, now) : w.endRun(s.timeNs, now);
        break;
    case Slot::Kind::Event: {
        RuleEvent e = s.event;
        e.rule = s.text;
        e.note = s.note;
        if (c)
            c->onEvent(e, s.timeNs, now);
        else
            (void)w.addEvent(e, s.timeNs);
        return;
    }
    case Slot::Kind::Rules:
        w.setRules(s.timeNs, s.text);
        if (c)
            c->setRulesArmed(!s.text.empty());
        break;
    }
    blocksWritten_.store(w.rowsFlushed(), std::memory_order_relaxed);
    fileSize_.store(w.fileSize(), std::memory_order_relaxed);
}

void Recorder::writerMain()
{
    for (;;) {
        upkeep(RecordingWriter::Clock::now());
        Slot *s = queue_->front(closeRequested_, std::min(writer_->dueAt(), nextUpkeep_));
        try {
            if (!s && !closeRequested_.load(std::memory_order_acquire)) {
                // Nothing came in time (a card that pauses sends nothing):
                // what waits is flushed and synced on time all the same.
                writer_->onIdle(RecordingWriter::Clock::now());
                blocksWritten_.store(writer_->rowsFlushed(), std::memory_order_relaxed);
                continue;
            }
            if (!s)
                s = queue_->front(closeRequested_); // null once every slot is taken
            if (!s) {
                writer_->close(wallClockNs(), RecordingWriter::Clock::now());
                blocksWritten_.store(writer_->rowsFlushed(), std::memory_order_relaxed);
                std::error_code ec;
                const auto size = std::filesystem::file_size(writer_->currentPath(), ec);
                if (!ec)
                    fileSize_.store(static_cast<int64_t>(size), std::memory_order_relaxed);
                state_.store(RecorderState::Idle, std::memory_order_release);
                return;
            }
            handle(*s);
        } catch (const std::exception &e) {
            // What is flushed stays readable; the hook calls now return at once.
            writer_->closeAfterFailure(dynamic_cast<const NoRoomError *>(&e) != nullptr, wallClockNs());
            blocksWritten_.store(writer_->rowsFlushed(), std::memory_order_relaxed);
            const std::string file = writer_->currentPath().empty() ? path_ : writer_->currentPath();
            setError("recording to '" + file + "' stopped: " + e.what());
            state_.store(RecorderState::Failed, std::memory_order_release);
            if (s)
                queue_->pop();
            return;
        }
        queue_->pop();
    }
}

} // namespace adcard
