#pragma once
// The simulated card behind the exported entries: one instance per process,
// as with a real card. Every entry takes `mu_`, so callers on any thread are
// serialised; the card has no thread of its own.
#include "simcard/block_generator.h"
#include "simcard/block_queue.h"
#include "simcard/config.h"
#include "simcard/pacing.h"

#include <chrono>
#include <cstdint>
#include <mutex>

namespace adcard::sim {

class SimCard {
public:
    SimCard() = default;
    SimCard(const SimCard &) = delete;
    SimCard &operator=(const SimCard &) = delete;

    int32_t initial();
    int32_t startIntr(int32_t scansPerBlock, int32_t channelCount, int32_t scanRate);
    int32_t stopIntr();
    int16_t queryBuf();
    int32_t adResult(int16_t *buffer);
    int32_t lastError();
    int16_t readDI(int32_t count, int16_t *states);
    int16_t writeDO(int16_t group, int16_t value);

private:
    using Clock = std::chrono::steady_clock;

    struct Counters {
        uint64_t produced = 0;  // blocks made since StartIntr, overruns included
        uint64_t delivered = 0; // handed to the caller by ADResult
        uint64_t discarded = 0; // lost by a failed ADResult
        uint64_t overruns = 0;  // dropped because the queue was full
        uint64_t flushed = 0;   // still waiting when acquisition stopped
    };

    // All of these need mu_.
    int32_t fail(int32_t code);
    // Brings the queue up to the blocks owed at `now`.
    void catchUp(Clock::time_point now);
    bool stopAcquisition(); // true if it stopped a run
    void writeStats();

    std::mutex mu_;
    SimConfig config_;
    bool initialised_ = false;
    bool running_ = false;
    SimBlockParams params_;
    Pacing pacing_{1, 1, 1.0};
    Clock::time_point start_;
    int32_t lastError_ = 0;
    BlockQueue queue_;
    Counters counters_;
    uint64_t transfers_ = 0;   // ADResult calls that found a block, since StartIntr
    uint64_t blocksEver_ = 0;  // drives the input-port counter; never reset
    int16_t outputs_[2] = {0, 0};
};

} // namespace adcard::sim
