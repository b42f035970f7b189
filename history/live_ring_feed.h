#pragma once
// The history ring as the block hook hands it over, copied from the first
// Start on whether or not a window shows it: a plot opened mid-history
// starts from this copy, and nothing outside the acquisition reads its ring.
#include "acquisition/block_hook.h"
#include "plot/live_ring_source.h"

namespace adcard {

class LiveRingFeed final : public BlockHook {
public:
    // `settings`: the panel's until a Start says otherwise.
    explicit LiveRingFeed(const AcqSettings &settings = {}) : settings_(settings) {}

    const LiveRingSource &source() const { return ring_; }
    // The latest Start's settings, which shaped the ring.
    const AcqSettings &settings() const { return settings_; }

    void historyStarted(const AcqSettings &s) override
    {
        settings_ = s;
        ring_.reset(s.ChannelCount, s.ScansPerBlock, s.RingBlocks);
    }
    void blockStored(const StoredBlock &block) override { ring_.add(block.handedOver, block.samples); }
    void tickEnded(const TickSummary &tick) override
    {
        if (tick.stored > 0)
            ring_.publish();
    }

private:
    AcqSettings settings_;
    LiveRingSource ring_;
};

} // namespace adcard
