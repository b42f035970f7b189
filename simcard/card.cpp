#include "simcard/card.h"

#include "simcard/error_codes.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <new>
#include <span>
#include <system_error>

namespace adcard::sim {

namespace {
constexpr int32_t kMaxChannels = 32;
// The card's buffer memory; a larger queue is refused rather than attempted.
constexpr int64_t kMaxQueueBytes = int64_t{512} << 20;
// Even when blocks fall due faster, the thread sleeps at least this long and
// then catches up in one go.
constexpr auto kMinWakeInterval = std::chrono::milliseconds(1);
} // namespace

SimCard::~SimCard()
{
    std::lock_guard control(controlMu_);
    stopAcquisition();
}

int32_t SimCard::fail(int32_t code)
{
    lastError_ = code;
    return 0;
}

bool SimCard::stopAcquisition()
{
    {
        std::lock_guard lk(mu_);
        if (!running_)
            return false;
        stopRequested_ = true;
    }
    wake_.notify_all();
    thread_.join();
    std::lock_guard lk(mu_);
    counters_.flushed += queue_.clear();
    running_ = false;
    return true;
}

void SimCard::writeStats()
{
    std::string path;
    Counters c;
    {
        std::lock_guard lk(mu_);
        path = config_.statsPath;
        c = counters_;
    }
    if (path.empty())
        return;
    std::FILE *f = std::fopen(path.c_str(), "w");
    if (!f) {
        std::fprintf(stderr, "adcard-sim: cannot write the statistics file %s\n", path.c_str());
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
    std::lock_guard control(controlMu_);
    if (stopAcquisition())
        writeStats();
    SimConfig config = readSimConfig();
    std::lock_guard lk(mu_);
    config_ = std::move(config);
    initialised_ = !config_.failInitial;
    if (config_.failInitial)
        return fail(*config_.failInitial);
    lastError_ = 0;
    return 1;
}

int32_t SimCard::startIntr(int32_t scansPerBlock, int32_t channelCount, int32_t scanRate)
{
    std::lock_guard control(controlMu_);
    if (stopAcquisition())
        writeStats();

    std::lock_guard lk(mu_);
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
        queue_ = BlockQueue(static_cast<std::size_t>(config_.queueBlocks),
                            static_cast<std::size_t>(blockSamples));
    } catch (const std::bad_alloc &) {
        queue_ = BlockQueue();
        return fail(code(SimError::OutOfMemory));
    }
    counters_ = {};
    transfers_ = 0;
    stopRequested_ = false;

    const SimBlockParams params{channelCount, scansPerBlock, scanRate,
                                config_.seed, config_.noise, config_.sequence};
    const Pacing pacing(scanRate, scansPerBlock, config_.speed);
    try {
        thread_ = std::thread(&SimCard::produce, this, pacing, params, Clock::now());
    } catch (const std::system_error &) {
        return fail(code(SimError::ThreadFailed));
    }
    running_ = true;
    return 1;
}

void SimCard::produce(Pacing pacing, SimBlockParams params, Clock::time_point start)
{
    std::unique_lock lk(mu_);
    while (!stopRequested_) {
        const auto now = Clock::now();
        const uint64_t owed = pacing.blocksDue(now - start);
        while (counters_.produced < owed && !stopRequested_) {
            const std::span<int16_t> slot = queue_.pushSlot();
            if (slot.empty()) {
                // Full: every block owed now is lost. They still count as
                // produced, so the sequence numbers show the gap.
                const uint64_t lost = owed - counters_.produced;
                counters_.overruns += lost;
                counters_.produced += lost;
                blocksEver_ += lost;
                break;
            }
            const uint64_t sequence = counters_.produced;
            // Pops never touch the push slot, so the caller is not held up.
            lk.unlock();
            generateBlock(params, sequence, slot);
            lk.lock();
            queue_.commitPush();
            ++counters_.produced;
            ++blocksEver_;
        }
        const auto next =
            std::max(start + pacing.dueAt(counters_.produced + 1), now + kMinWakeInterval);
        wake_.wait_until(lk, next, [this] { return stopRequested_; });
    }
}

int32_t SimCard::stopIntr()
{
    std::lock_guard control(controlMu_);
    stopAcquisition();
    // Also when idle: the file then shows the last run's final counters.
    writeStats();
    return 1;
}

int16_t SimCard::queryBuf()
{
    std::lock_guard lk(mu_);
    return static_cast<int16_t>(queue_.size());
}

int32_t SimCard::adResult(int16_t *buffer)
{
    std::lock_guard lk(mu_);
    if (!buffer)
        return fail(code(SimError::NullBuffer));
    if (queue_.empty())
        return fail(code(SimError::NoBlockWaiting));
    ++transfers_;
    if (config_.failADResultEvery != 0 && transfers_ % config_.failADResultEvery == 0) {
        queue_.dropOldest();
        ++counters_.discarded;
        return fail(code(SimError::TransferFailed));
    }
    // Element 0 of the caller's buffer is not part of the block.
    queue_.popInto(std::span<int16_t>(buffer + 1, queue_.blockSamples()));
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
