#pragma once
// The history ring as waveforms, without widgets: the hook copies each block
// handed over into a LiveRingSource, and a PlotRenderer draws it; a plot that
// starts observing mid-history starts from a copy of the ring's feed.
// What is drawn follows the ring at the end of each tick that stored a
// block, oldest at the left and newest at the right, or is held (paused)
// while the acquisition goes on.
#include "acquisition/block_hook.h"
#include "history/live_ring_feed.h"
#include "plot/live_ring_source.h"
#include "plot/plot_renderer.h"

#include <QColor>
#include <QRect>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

class QPainter;

namespace adcard {

inline constexpr int kPlotChannels = 4;

class HistoryPlot final : public BlockHook {
public:
    // `feed`: the ring as the hook fed it since the first Start, for
    // catchUp(); not owned.
    explicit HistoryPlot(const LiveRingFeed *feed = nullptr);

    // Called when what render() would draw has changed. `shift` > 0: only
    // by that many pixels moving left inside plotRect(area) for a plot last
    // drawn into `area`, the strip at the right being new; 0: anywhere.
    void setChangedCallback(std::function<void(int shift)> cb) { changed_ = std::move(cb); }

    // Where the waveforms go inside `area`: the rest carries the axes. When
    // it fits, one pixel a column and a whole number of columns a block, so
    // that a new block moves the picture by a whole number of pixels.
    QRect plotRect(const QRect &area) const { return renderer_.plotRect(area); }
    // Draws what lies in `dirty` (the whole area when empty).
    void render(QPainter &p, const QRect &area, const QRect &dirty = {}) const { renderer_.render(p, area, dirty); }

    PlotRenderer &renderer() { return renderer_; }
    const PlotRenderer &renderer() const { return renderer_; }
    const LiveRingSource &source() const { return live_; }

    // The time axis in seconds (from the card's scan rate) rather than in
    // blocks; false when the rate is not known.
    bool setAxisInSeconds(bool on);
    bool axisInSeconds() const { return seconds_; }

    void setChannelVisible(int channel, bool visible);
    void setChannelUnits(ChannelUnits units) { live_.setChannelUnits(std::move(units)); }
    bool channelVisible(int channel) const { return renderer_.channelVisible(channel); }
    static QColor channelColor(int channel) { return PlotRenderer::channelColor(channel); }

    // Holds the picture (a copy of what is shown) while blocks go on
    // arriving; unpaused, it follows the ring again, whole.
    void setPaused(bool paused);
    bool paused() const { return paused_; }

    // Blocks drawn: the handed-over blocks of this history still in the ring.
    int blocksShown() const { return shown().blocksShown(); }
    int ringBlocks() const { return shown().ringBlocks(); }

    // The codes of the scan at a column of the whole ring cut into
    // `columns`; none where nothing is drawn.
    std::optional<std::array<int16_t, kPlotChannels>> samplesAtColumn(int column, int columns) const;
    // The newest drawn block's per-channel mean codes, rounded as the panel
    // rounds them; none before the first block of a history.
    std::optional<std::array<int32_t, kPlotChannels>> newestMeans() const;
    // A marker drawn at `scan` (the live source's numbering) while it stays
    // in the ring; one made before the latest Start is dropped.
    // `generation` is historyGeneration() when the scan was taken.
    void addMarker(int64_t generation, int64_t scan, const QString &text);
    // The newest scan received, paused or not, and the Start it belongs to.
    int64_t newestScan() const { return live_.scanCount(); }
    int64_t historyGeneration() const { return generation_; }

    // Exact figures over scans [first, last) of what is shown.
    std::vector<RangeStats> stats(int64_t first, int64_t last) const { return shown().stats(first, last); }

    // Memory the plot holds beyond the ring and its copy: the columns of
    // the last picture and the copy's reductions.
    std::size_t heapBytes() const { return renderer_.heapBytes() + live_.reductionBytes(); }

    // For a plot that starts observing mid-history: takes what the ring's
    // feed holds as this history's blocks.
    void catchUp();

    // BlockHook
    void historyStarted(const AcqSettings &settings) override;
    void blockStored(const StoredBlock &block) override;
    void tickEnded(const TickSummary &tick) override;

private:
    const LiveRingSource &shown() const { return paused_ ? held_ : live_; }
    void reshape(const AcqSettings &s);
    void notify(int shift);

    const LiveRingFeed *feed_;
    LiveRingSource live_;
    LiveRingSource held_; // what a paused plot shows
    PlotRenderer renderer_;
    bool paused_ = false;
    int64_t generation_ = 0;     // Starts seen
    bool seconds_ = false;
    AcqSettings shape_;
    std::vector<PlotMarker> markers_;
    std::function<void(int)> changed_;
};

} // namespace adcard
