#include "recording/recorder.h"

#include "recording/recording_file.h"
#include "recording/slot_queue.h"
#include "recording/timestamp.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <new>
#include <system_error>

namespace adcard {

struct Recorder::Slot {
    enum class Kind : uint8_t { BeginRun, Block, TickEnd, Flush, Close };
    Kind kind = Kind::Close;
    AcqSettings settings;  // BeginRun
    int64_t timeNs = 0;    // BeginRun: start; TickEnd: the tick
    int64_t index = 0;     // Block
    int32_t ringSlot = 0;  // Block
    int16_t blockCount = 0; // TickEnd
    int64_t missed = 0;    // TickEnd: totals for the run so far
    int64_t dropped = 0;
    std::size_t count = 0; // Block: samples used
    std::vector<int16_t> samples;
};

namespace {

// Slots that only control messages may take, so that a tick whose blocks got
// in always gets its end in too (see tickEnded).
constexpr std::size_t kControlReserve = 2;
// Samples the writer gathers before writing them (256 KiB).
constexpr std::size_t kPendingSamples = std::size_t{128} << 10;

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

std::string Recorder::arm(const std::string &path, bool overwrite, const RecorderInfo &info)
{
    if (writer_.joinable()) {
        if (state_.load(std::memory_order_acquire) != RecorderState::Failed)
            return "already recording to '" + path_ + "'; stop it first";
        stop();
    }
    std::unique_ptr<RecordingFile> file;
    try {
        file = std::make_unique<RecordingFile>(path, overwrite);
        queue_ = std::make_unique<SlotQueue<Slot>>(queueBlocks_);
    } catch (const std::exception &e) {
        setError(e.what());
        state_.store(RecorderState::Idle, std::memory_order_release);
        return lastError_;
    }
    path_ = path;
    info_ = info;
    lastError_.clear();
    blocksWritten_ = 0;
    blocksDropped_ = 0;
    fileSize_ = file->fileSize();
    inRun_ = false;
    beginPending_ = false;
    state_.store(RecorderState::Armed, std::memory_order_release);
    try {
        writer_ = std::thread(&Recorder::writerMain, this, std::move(file));
    } catch (const std::system_error &e) {
        setError(std::string("cannot start the writer thread: ") + e.what());
        state_.store(RecorderState::Idle, std::memory_order_release);
        return lastError_;
    }
    return {};
}

void Recorder::stop()
{
    inRun_ = false;
    beginPending_ = false;
    if (!writer_.joinable())
        return;
    // The writer frees slots as it drains, so the close message gets in; a
    // writer that failed has already ended.
    while (state_.load(std::memory_order_acquire) != RecorderState::Failed) {
        if (Slot *s = queue_->claim()) {
            s->kind = Slot::Kind::Close;
            queue_->publish();
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    writer_.join();
    queue_.reset();
    if (state_.load(std::memory_order_acquire) != RecorderState::Failed)
        state_.store(RecorderState::Idle, std::memory_order_release);
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
    if (s.state == RecorderState::Failed || !writer_.joinable())
        s.lastError = lastError_;
    return s;
}

std::optional<std::string> Recorder::takeError()
{
    const uint64_t n = errors_.load(std::memory_order_acquire);
    const RecorderState st = state_.load(std::memory_order_acquire);
    if (n == errorsTaken_ || (st != RecorderState::Failed && writer_.joinable()))
        return std::nullopt;
    errorsTaken_ = n;
    return lastError_;
}

bool Recorder::recording() const
{
    return inRun_ && state_.load(std::memory_order_relaxed) == RecorderState::Recording;
}

void Recorder::historyStarted(const AcqSettings &)
{
    // The ring starts again: so does the run, at the next acquisitionStarted.
    inRun_ = false;
    beginPending_ = false;
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
        });
    } catch (const std::bad_alloc &) {
        // Blocks are then dropped (and counted) where a slot cannot grow.
    }
    if (st == RecorderState::Armed &&
        !state_.compare_exchange_strong(st, RecorderState::Recording, std::memory_order_acq_rel))
        return;
    runSettings_ = settings;
    runStartNs_ = wallClockNs();
    runMissed_ = 0;
    runDropped_ = 0;
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
    s->index = block.fetched - 1;
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
    if (!recording() || !queueBegin())
        return;
    // Blocks stop at kControlReserve free slots, so this fails only when no
    // block of this tick got in; the loss totals then travel with a later tick.
    Slot *s = queue_->claim();
    if (!s) {
        queue_->wake(); // for whatever blocks did get in
        return;
    }
    s->kind = Slot::Kind::TickEnd;
    s->timeNs = wallClockNs();
    s->blockCount = tick.blockCount;
    s->missed = runMissed_;
    s->dropped = runDropped_;
    queue_->publish();
}

void Recorder::acquisitionStopped(StopReason reason)
{
    if (reason == StopReason::Unload) {
        inRun_ = false;
        stop();
        return;
    }
    // No tick follows to bring the flush that may be pending.
    if (recording() && !beginPending_) {
        if (Slot *s = queue_->claim()) {
            s->kind = Slot::Kind::Flush;
            queue_->publish();
        } else {
            queue_->wake(); // the blocks in the queue are written all the same
        }
    }
    inRun_ = false;
}

void Recorder::writerMain(std::unique_ptr<RecordingFile> file)
{
    std::vector<BlockRow> rows; // this tick's blocks, completed at its end
    rows.reserve(256);
    // Flushing costs far more than writing a block, so ticks are written as
    // they end but flushed together, every flushEvery_ at most.
    // The rows wait for the flush too and go to the file in one write: a
    // reader counts only rows, so samples without their row yet are unseen.
    std::vector<BlockRow> unflushed;
    unflushed.reserve(256);
    // So are the samples, up to kPendingSamples: HDF5's cost is per write
    // far more than per byte.
    std::vector<int16_t> pending;
    const auto writePending = [&] {
        file->appendBlocks(pending);
        pending.clear();
    };
    auto lastFlush = std::chrono::steady_clock::now();
    int64_t missed = 0;
    int64_t dropped = 0;
    const auto flush = [&] {
        writePending();
        if (unflushed.empty())
            return;
        file->appendRows(unflushed);
        if (file->runs() > 0)
            file->setLosses(missed, dropped);
        file->flush();
        blocksWritten_.fetch_add(static_cast<int64_t>(unflushed.size()), std::memory_order_relaxed);
        fileSize_.store(file->fileSize(), std::memory_order_relaxed);
        unflushed.clear();
        lastFlush = std::chrono::steady_clock::now();
    };
    const auto writeRows = [&](int64_t timeNs, int16_t blockCount) {
        for (BlockRow &r : rows) {
            r.timeNs = timeNs;
            r.blockCount = blockCount;
        }
        unflushed.insert(unflushed.end(), rows.begin(), rows.end());
        rows.clear();
        if (std::chrono::steady_clock::now() - lastFlush >= flushEvery_)
            flush();
    };
    // Blocks whose tick never ended (not seen from the acquisition) are kept
    // with block_count -1.
    const auto finishTick = [&] {
        if (!rows.empty())
            writeRows(wallClockNs(), -1);
    };

    for (;;) {
        Slot &s = queue_->front();
        try {
            switch (s.kind) {
            case Slot::Kind::BeginRun:
                finishTick();
                flush();
                missed = dropped = 0;
                file->beginRun({s.settings, info_.driverLibrary, info_.programVersion, iso8601Local(s.timeNs)});
                fileSize_.store(file->fileSize(), std::memory_order_relaxed);
                break;
            case Slot::Kind::Block:
                file->checkBlock(s.count);
                if (pending.size() + s.count > kPendingSamples)
                    writePending();
                if (s.count > kPendingSamples) // a large block goes as it is
                    file->appendBlocks(std::span<const int16_t>(s.samples.data(), s.count));
                else
                    pending.insert(pending.end(), s.samples.begin(),
                                   s.samples.begin() + static_cast<std::ptrdiff_t>(s.count));
                rows.push_back({s.index, 0, s.ringSlot, 0});
                break;
            case Slot::Kind::TickEnd:
                if (file->runs() > 0) {
                    missed = s.missed;
                    dropped = s.dropped;
                    writeRows(s.timeNs, s.blockCount);
                }
                break;
            case Slot::Kind::Flush:
                finishTick();
                flush();
                break;
            case Slot::Kind::Close: {
                finishTick();
                flush();
                file->close();
                std::error_code ec;
                const auto size = std::filesystem::file_size(path_, ec);
                if (!ec)
                    fileSize_.store(static_cast<int64_t>(size), std::memory_order_relaxed);
                queue_->pop();
                return;
            }
            }
        } catch (const std::exception &e) {
            // What is flushed stays readable; the hook calls now return at once.
            // When only the room ran out, nothing written needs more of it:
            // the file can be closed properly.
            bool closed = false;
            if (dynamic_cast<const NoRoomError *>(&e)) {
                try {
                    file->close();
                    closed = true;
                } catch (const RecordingError &) {
                }
            }
            if (!closed)
                file->abandon();
            setError("recording to '" + path_ + "' stopped: " + e.what());
            state_.store(RecorderState::Failed, std::memory_order_release);
            queue_->pop();
            return;
        }
        queue_->pop();
    }
}

} // namespace adcard
