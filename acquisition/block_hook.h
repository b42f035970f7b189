#pragma once
// What the acquisition tells observers of its data (the history window, the
// recorder) as it happens. Every call comes from the UI thread, inside a
// handler or the tick, so an observer must return at once: it may copy or
// queue, never wait for a disk, a lock held elsewhere or the screen.
#include "acquisition/dlldef.h"

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

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

// What an armed rule did at one scan. Scans count from the first scan of the
// history that the last Start began: scan k of the block with handedOver n
// is (n - 1) * ScansPerBlock + k.
struct RuleEvent {
    std::string_view rule;  // the rule's name, UTF-8
    int64_t scan = 0;
    bool fired = true;      // false: the condition cleared
    double value = 0;       // the value that decided, in the channel's unit (a port's value for an input)
    bool mark = false;      // the rule asks for a marker
    bool capture = false;   // the rule asks for the stretch around it (fired events only)
    double beforeS = 0, afterS = 0;
    std::string_view note;  // what went wrong with an action (an output the driver refused), or empty
    std::string_view unit;  // the channel's unit; empty for an input's port value
    int decimals = 0;       // the digits one code's step justifies in that unit
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
    // Rules were armed (their file's text) or disarmed (empty): a recording
    // keeps the rules in force.
    virtual void rulesArmed(std::string_view rulesText) { (void)rulesText; }
    // An armed rule fired or cleared. Called in the tick, after the
    // blockStored of the block that holds the scan (for a digital input:
    // after the tick's inputs were read, before tickEnded).
    virtual void ruleEvent(const RuleEvent &event) { (void)event; }
};

} // namespace adcard
