#include "simcard/card.h"

#include "simcard/error_codes.h"

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <limits>
#include <new>
#include <span>

namespace adcard::sim {

namespace {
constexpr int32_t kMaxChannels = 32;
// The card's buffer memory: a queue of more blocks is refused, as the card would.
constexpr int64_t kMaxQueueBytes = int64_t{512} << 20;
} // namespace

int32_t SimCard::fail(int32_t code)
{
    lastError_ = code;
    return 0;
}

// The card has no thread of its own: a caller that asks at time t finds
// exactly the blocks a card filling its buffer in the background would hold
// by t, and the card costs nothing between calls.
void SimCard::catchUp(Clock::time_point now)
{
    if (!running_)
        return;
    const uint64_t owed = pacing_.blocksDue(now - start_);
    if (owed <= counters_.produced)
        return;
    const uint64_t due = owed - counters_.produced;
    const uint64_t fit = std::min<uint64_t>(due, queue_.capacity() - queue_.size());
    for (uint64_t i = 0; i < fit; ++i)
        queue_.push(counters_.produced + i);
    // When the queue is full every further block owed is lost. They still
    // count as produced, so the sequence numbers show the gap.
    counters_.overruns += due - fit;
    counters_.produced = owed;
    blocksEver_ += due;
}

bool SimCard::stopAcquisition()
{
    if (!running_)
        return false;
    catchUp(Clock::now());
    counters_.flushed += queue_.clear();
    running_ = false;
    return true;
}

void SimCard::writeStats()
{
    if (config_.statsPath.empty())
        return;
    const Counters &c = counters_;
    std::FILE *f = std::fopen(config_.statsPath.c_str(), "w");
    if (!f) {
        std::fprintf(stderr, "adcard-sim: cannot write the statistics file %s\n", config_.statsPath.c_str());
        return;
    }
    std::fprintf(f, "produced %llu\ndelivered %llu\ndiscarded %llu\noverruns %llu\nflushed %llu\n",
                 static_cast<unsigned long long>(c.produced),
                 static_cast<unsigned long long>(c.delivered),
                 static_cast<unsigned long long>(c.discarded),
                 static_cast<unsigned long long>(c.overruns),
                 static_cast<unsigned long long>(c.flushed));
    std::fclose(f);
}

int32_t SimCard::initial()
{
    std::lock_guard lk(mu_);
    if (stopAcquisition())
        writeStats();
    config_ = readSimConfig();
    initialised_ = !config_.failInitial;
    if (config_.failInitial)
        return fail(*config_.failInitial);
    lastError_ = 0;
    return 1;
}

int32_t SimCard::startIntr(int32_t scansPerBlock, int32_t channelCount, int32_t scanRate)
{
    std::lock_guard lk(mu_);
    if (stopAcquisition())
        writeStats();

    if (!initialised_)
        return fail(code(SimError::NotInitialised));
    if (channelCount < 1 || channelCount > kMaxChannels)
        return fail(code(SimError::BadChannelCount));
    if (scansPerBlock < 1)
        return fail(code(SimError::BadScanCount));
    if (scanRate <= 0)
        return fail(code(SimError::BadRate));
    // The caller indexes its buffer up to BlockSamples + 1 in 32 bits.
    const int64_t blockSamples = int64_t{channelCount} * scansPerBlock;
    if (blockSamples > std::numeric_limits<int32_t>::max() - 1)
        return fail(code(SimError::BlockTooLarge));
    if (blockSamples * config_.queueBlocks * int64_t{sizeof(int16_t)} > kMaxQueueBytes)
        return fail(code(SimError::QueueTooLarge));
    if (config_.failStartIntr)
        return fail(*config_.failStartIntr);

    try {
        queue_ = BlockQueue(static_cast<std::size_t>(config_.queueBlocks));
    } catch (const std::bad_alloc &) {
        queue_ = BlockQueue();
        return fail(code(SimError::OutOfMemory));
    }
    counters_ = {};
    transfers_ = 0;
    params_ = {channelCount, scansPerBlock, scanRate, config_.seed, config_.noise, config_.sequence};
    pacing_ = Pacing(scanRate, scansPerBlock, config_.speed);
    start_ = Clock::now();
    running_ = true;
    return 1;
}

int32_t SimCard::stopIntr()
{
    std::lock_guard lk(mu_);
    stopAcquisition();
    // Also when idle: the file then shows the last run's final counters.
    writeStats();
    return 1;
}

int16_t SimCard::queryBuf()
{
    std::lock_guard lk(mu_);
    catchUp(Clock::now());
    return static_cast<int16_t>(queue_.size());
}

int32_t SimCard::adResult(int16_t *buffer)
{
    std::lock_guard lk(mu_);
    if (!buffer)
        return fail(code(SimError::NullBuffer));
    catchUp(Clock::now());
    if (queue_.empty())
        return fail(code(SimError::NoBlockWaiting));
    ++transfers_;
    // A driver that crashes, as a real one may: the whole process ends at once.
    if (config_.crashAtADResult != 0 && transfers_ == config_.crashAtADResult)
        std::abort();
    const uint64_t sequence = queue_.pop();
    if (config_.failADResultEvery != 0 && transfers_ % config_.failADResultEvery == 0) {
        ++counters_.discarded;
        return fail(code(SimError::TransferFailed));
    }
    // Element 0 of the caller's buffer is not part of the block.
    generateBlock(params_, sequence,
                  std::span<int16_t>(buffer + 1, static_cast<std::size_t>(params_.channelCount) *
                                                     static_cast<std::size_t>(params_.scansPerBlock)));
    ++counters_.delivered;
    return 1;
}

int32_t SimCard::lastError()
{
    std::lock_guard lk(mu_);
    return lastError_;
}

int16_t SimCard::readDI(int32_t count, int16_t *states)
{
    std::lock_guard lk(mu_);
    if (count != 2)
        return static_cast<int16_t>(fail(code(SimError::BadDICount)));
    if (!states)
        return static_cast<int16_t>(fail(code(SimError::NullBuffer)));
    catchUp(Clock::now());
    states[0] = outputs_[0];
    states[1] = static_cast<int16_t>(blocksEver_ & 0xFF);
    return 1;
}

int16_t SimCard::writeDO(int16_t group, int16_t value)
{
    std::lock_guard lk(mu_);
    if (group < 0 || group > 1)
        return static_cast<int16_t>(fail(code(SimError::BadDOGroup)));
    if (value < 0 || value > 255)
        return static_cast<int16_t>(fail(code(SimError::BadDOValue)));
    outputs_[group] = value;
    return 1;
}

} // namespace adcard::sim
