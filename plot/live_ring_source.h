#pragma once
// The history ring as a DataSource, kept from the block hook's copies: the
// ring itself is never read when drawing. Each block handed over is copied
// into a store of ring + 1 slots (preallocated at the Start) together with a
// small reduction (min, max and sum per channel for every 64 scans, and
// those and the sum of squares for the whole block), so that a column over
// many scans costs a few entries.
// Blocks are numbered by handover since the Start: block h (1-based) holds
// scans [(h - 1) * S, h * S).
#include "data/data_source.h"
#include "data/statistics.h"

#include <cstdint>
#include <span>
#include <vector>

namespace adcard {

class LiveRingSource final : public DataSource {
public:
    static constexpr int kGroupScans = 64;

    // A new history: nothing shown, room for `ringBlocks` blocks (+ 1, so
    // that the column just left of a whole-ring view can still be joined).
    // Allocates only when the shape grows.
    void reset(int channels, int32_t scansPerBlock, int ringBlocks);
    bool shaped() const { return scansPerBlock_ > 0; }

    // Copies block `handedOver` (1-based since the Start; channel c of scan
    // k at k * channels + c). Not shown before publish().
    void add(int64_t handedOver, std::span<const int16_t> samples);
    // Shows what was added up to the newest block added.
    void publish() { published_ = added_; }

    int64_t publishedBlocks() const { return published_; }
    // Blocks published and still kept, at most the ring's.
    int blocksShown() const;
    int ringBlocks() const { return ringBlocks_; }
    int32_t scansPerBlock() const { return scansPerBlock_; }

    // The codes of one published scan; false where it is not kept.
    bool scanAt(int64_t scan, std::span<int16_t> out) const;
    // The newest published block's mean per channel, over its sum.
    bool newestMeans(std::span<double> out) const;
    // Exact over the published scans kept in [first, last).
    std::vector<RangeStats> stats(int64_t first, int64_t last) const;

    // What each channel measures, as the operator gave it.
    void setChannelUnits(ChannelUnits units) { units_ = std::move(units); }
    ChannelUnits channelUnits() const override { return units_; }

    // What the store holds beside the raw copies.
    std::size_t reductionBytes() const;

    // DataSource
    int channels() const override { return channels_; }
    int64_t scanCount() const override { return published_ * scansPerBlock_; }
    double scansPerSecond() const override { return 0.0; }
    double viewFirst() const override
    {
        return static_cast<double>((published_ - ringBlocks_) * int64_t{scansPerBlock_});
    }
    void summarise(double first, double last, int columns, std::span<ColumnSummary> out) const override;
    void summariseColumns(double first, double last, int columns, int from, int to,
                          std::span<ColumnSummary> out) const override;

private:
    int slotOf(int64_t block) const; // -1: not kept (or not published)
    void reduce(int64_t lo, int64_t hi, std::span<ColumnSummary> out) const;
    // Scans [l, u) of the block in slot `s` into sums_: by groups where whole,
    // scan by scan elsewhere.
    void addPart(std::size_t s, int32_t l, int32_t u) const;

    int channels_ = 0;
    int32_t scansPerBlock_ = 0;
    int ringBlocks_ = 0;
    int slots_ = 0;
    int groups_ = 0; // per block
    int64_t added_ = 0;
    int64_t published_ = 0;
    std::vector<int64_t> owner_;   // block held by each slot, 0: none
    std::vector<int16_t> raw_;     // slot, scan, channel
    std::vector<int16_t> groupMin_, groupMax_; // slot, group, channel
    std::vector<int32_t> groupSum_;
    std::vector<int16_t> blockMin_, blockMax_; // slot, channel
    std::vector<int64_t> blockSum_, blockSumSq_;
    mutable std::vector<Stats> sums_; // per channel while reducing
    ChannelUnits units_;
};

} // namespace adcard
