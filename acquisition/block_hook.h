#pragma once
// What the acquisition tells observers of its data (the history window, the
// recorder) as it happens. Every call comes from the UI thread, inside a
// handler or the tick, so an observer must return at once: it may copy or
// queue, never wait for a disk, a lock held elsewhere or the screen.
#include "acquisition/dlldef.h"

#include <array>
#include <cstdint>
#include <span>

namespace adcard {

enum class StopReason {
    Stop,   // the Stop button
    Unload, // Exit, the close box: the window goes and the program ends
};

struct StoredBlock {
    // The block as it now stands in the ring, BlockSamples long, channel c of
    // scan k at k * ChannelCount + c. Valid only during the call.
    std::span<const int16_t> samples;
    int32_t slot = 0; // ring slot, RingPos / BlockSamples before the advance
    // Blocks handed over since the last Start that replaced the arrays,
    // this one included: 1 for the first block of a new history.
    int64_t handedOver = 0;
    // Fetches tried since that Start, this one included; handedOver plus the
    // fetches whose ADResult was not 1.
    int64_t fetched = 0;
};

struct TickSummary {
    int16_t readyBlocks = 0; // QueryBuf's count for this tick
    int16_t blockCount = 0;  // BlockCount after the tick
    int32_t ringPos = 0;     // RingPos after the tick
    int stored = 0;          // blocks copied into the ring on this tick
    // The digital input ports as this tick read them, when it did.
    bool digitalRead = false;
    std::array<int16_t, 2> digitalInputs{};
};

class BlockHook {
public:
    virtual ~BlockHook() = default;

    // A Start got past Initial and replaced both arrays with zeros: the
    // history begins again. `settings` are the values about to go to
    // StartIntr; the driver has not been started yet.
    virtual void historyStarted(const AcqSettings &settings) { (void)settings; }
    // StartIntr succeeded and the timer runs.
    virtual void acquisitionStarted(const AcqSettings &settings) { (void)settings; }
    // One block was copied into the ring.
    virtual void blockStored(const StoredBlock &block) { (void)block; }
    // A fetch returned something other than 1: the driver counted a block
    // that the panel could not get. `fetched` as in StoredBlock.
    virtual void blockMissed(int64_t fetched) { (void)fetched; }
    // A tick with a non-zero count has finished its counters and captions.
    virtual void tickEnded(const TickSummary &tick) { (void)tick; }
    virtual void acquisitionStopped(StopReason reason) { (void)reason; }
};

} // namespace adcard
