#pragma once
// The history ring as waveforms, without widgets: the hook keeps track of
// which slots hold blocks of the current history, and render() draws them
// from a per-column minimum and maximum taken straight from the ring.
#include "acquisition/block_hook.h"
#include "acquisition/dlldef.h"

#include <QColor>
#include <QRect>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class QPainter;

namespace adcard {

inline constexpr int kPlotChannels = 4;
// Caps the column array at 16 bytes a column, 48 KiB, whatever the width;
// wider plots stretch the columns.
inline constexpr int kMaxPlotColumns = 3072;

class HistoryPlot final : public BlockHook {
public:
    explicit HistoryPlot(const DllDef &dll);

    // Called when what render() would draw has changed. `shift` > 0: only
    // by that many pixels moving left inside plotRect(area) for a plot last
    // drawn into `area`, the strip at the right being new; 0: anywhere.
    void setChangedCallback(std::function<void(int shift)> cb) { changed_ = std::move(cb); }

    // Where the waveforms go inside `area`: the rest carries the axes. When
    // it fits, one pixel a column and a whole number of columns a block, so
    // that a new block moves the picture by a whole number of pixels.
    QRect plotRect(const QRect &area) const;
    // Draws what lies in `dirty` (the whole area when empty).
    void render(QPainter &p, const QRect &area, const QRect &dirty = {}) const;

    void setChannelVisible(int channel, bool visible);
    bool channelVisible(int channel) const { return visible_[static_cast<std::size_t>(channel)]; }
    static QColor channelColor(int channel);

    // Blocks drawn: the handed-over blocks of this history still in the ring.
    int blocksShown() const { return followed_ ? followed_->blocks : 0; }
    int ringBlocks() const { return followed_ ? followed_->ringBlocks : 0; }

    // The codes of the scan shown at a plot column, read from the ring; none
    // where nothing is drawn.
    std::optional<std::array<int16_t, kPlotChannels>> samplesAtColumn(int column, int columns) const;
    // The newest drawn block's per-channel mean codes, rounded as the panel
    // rounds them; none before the first block of a history.
    std::optional<std::array<int32_t, kPlotChannels>> newestMeans() const;

    // Memory the plot holds beyond the ring and this object.
    std::size_t heapBytes() const { return columns_.capacity() * sizeof(Column); }

    // For a plot that starts observing mid-history: takes the run of slots
    // back from the newest that are not all zero as this history's blocks,
    // until the next stored block says how many there are.
    void catchUp();

    // BlockHook
    void historyStarted(const AcqSettings &settings) override;
    void blockStored(const StoredBlock &block) override;
    void tickEnded(const TickSummary &tick) override;

private:
    struct Column {
        std::array<int16_t, kPlotChannels> lo;
        std::array<int16_t, kPlotChannels> hi;
    };
    // What the plot shows: fixed at the last tick that stored a block.
    struct Followed {
        int32_t scansPerBlock = 0;
        int16_t channelCount = 0;
        int ringBlocks = 0;
        int32_t blockSamples = 0;
        int newestSlot = 0;
        int blocks = 0; // valid slots, newest first going back
    };

    static std::optional<Followed> follow(const DllDef &dll, int64_t handedOver, int32_t ringPos);
    // Ring slot of position p counted from the left (0 = oldest drawn place).
    int slotAt(int p) const;
    int span() const; // blocks across the plot
    void reduce(int columns) const;
    void reducePositions(int from, int columns) const;
    void notify(int shift);

    const DllDef &dll_;
    int64_t handedOver_ = 0;
    std::optional<Followed> followed_;
    std::array<bool, kPlotChannels> visible_{true, true, true, true};
    std::function<void(int)> changed_;
    // Reduced lazily for the width being drawn; empty columns have lo > hi.
    mutable std::vector<Column> columns_;
    mutable bool reduced_ = false;
};

} // namespace adcard
