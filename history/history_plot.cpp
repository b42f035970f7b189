#include "history/history_plot.h"

#include <algorithm>
#include <cmath>

namespace adcard {

HistoryPlot::HistoryPlot(const LiveRingFeed *feed) : feed_(feed)
{
    if (feed_)
        reshape(feed_->settings());
    renderer_.setSource(&live_);
    renderer_.setFollowing(true);
}

void HistoryPlot::reshape(const AcqSettings &s)
{
    live_.reset(s.ChannelCount, s.ScansPerBlock, s.RingBlocks);
    shape_ = s;
    // The axis counts back from the newest block's end: in blocks, or in
    // seconds at the scan rate the Start asked for.
    if (seconds_ && s.IntrArg5 > 0)
        renderer_.setTimeAxis(TimeAxis{static_cast<double>(s.IntrArg5), QStringLiteral("s"), true});
    else
        renderer_.setTimeAxis(TimeAxis{static_cast<double>(std::max<int32_t>(s.ScansPerBlock, 1)), QStringLiteral("块"), true});
    renderer_.setWidthQuantum(s.RingBlocks);
}

bool HistoryPlot::setAxisInSeconds(bool on)
{
    if (on && shape_.IntrArg5 <= 0)
        return false;
    seconds_ = on;
    const AcqSettings s = shape_;
    if (seconds_)
        renderer_.setTimeAxis(TimeAxis{static_cast<double>(s.IntrArg5), QStringLiteral("s"), true});
    else
        renderer_.setTimeAxis(TimeAxis{static_cast<double>(std::max<int32_t>(s.ScansPerBlock, 1)), QStringLiteral("块"), true});
    notify(0);
    return true;
}

void HistoryPlot::notify(int shift)
{
    if (changed_)
        changed_(shift);
}

void HistoryPlot::setChannelVisible(int channel, bool visible)
{
    if (channel < 0 || channel >= kPlotChannels)
        return;
    renderer_.setChannelVisible(channel, visible);
    notify(0);
}

void HistoryPlot::setPaused(bool paused)
{
    if (paused == paused_)
        return;
    paused_ = paused;
    if (paused) {
        held_ = live_; // the copy keeps its room: a second pause allocates nothing
        renderer_.setFollowing(false);
        renderer_.swapSource(&held_);
    } else {
        renderer_.setSource(&live_);
        renderer_.setFollowing(true);
    }
    notify(0);
}

void HistoryPlot::catchUp()
{
    if (!feed_ || !feed_->source().shaped())
        return;
    reshape(feed_->settings());
    live_ = feed_->source();
    if (!paused_)
        renderer_.setSource(&live_);
}

void HistoryPlot::addMarker(int64_t generation, int64_t scan, const QString &text)
{
    if (generation != generation_)
        return;
    markers_.push_back({scan, text});
    renderer_.setMarkers(markers_);
    notify(0);
}

void HistoryPlot::historyStarted(const AcqSettings &settings)
{
    // The arrays are new and all zero: nothing of the old history is left.
    ++generation_;
    if (!markers_.empty()) {
        markers_.clear();
        renderer_.setMarkers({});
    }
    reshape(settings);
    if (paused_)
        return; // the held picture stays until the pause ends
    renderer_.setSource(&live_);
    notify(0);
}

void HistoryPlot::blockStored(const StoredBlock &block)
{
    live_.add(block.handedOver, block.samples);
}

void HistoryPlot::tickEnded(const TickSummary &tick)
{
    if (tick.stored <= 0)
        return;
    // What is drawn follows the ring only here, once the tick's blocks are
    // all in: the tick pays for the copies, never for the drawing.
    live_.publish();
    // A marker that left the ring goes: while one is drawn, the picture is
    // drawn whole rather than moved.
    if (!markers_.empty() && !paused_ &&
        static_cast<double>(markers_.front().scan) < live_.viewFirst()) {
        std::erase_if(markers_, [&](const PlotMarker &m) { return static_cast<double>(m.scan) < live_.viewFirst(); });
        renderer_.setMarkers(markers_);
    }
    if (paused_)
        return;
    notify(renderer_.advance());
}

std::optional<std::array<int16_t, kPlotChannels>> HistoryPlot::samplesAtColumn(int column, int columns) const
{
    const LiveRingSource &src = shown();
    if (!src.shaped() || columns <= 0 || column < 0 || column >= columns)
        return std::nullopt;
    const int64_t total = int64_t{src.ringBlocks()} * src.scansPerBlock();
    const int64_t scan = static_cast<int64_t>(src.viewFirst()) + (2 * int64_t{column} + 1) * total / (2 * int64_t{columns});
    std::array<int16_t, kPlotChannels> out{};
    std::array<int16_t, 64> codes{};
    if (src.channels() > static_cast<int>(codes.size()) || !src.scanAt(scan, std::span(codes).first(static_cast<std::size_t>(src.channels()))))
        return std::nullopt;
    std::copy_n(codes.begin(), std::min(kPlotChannels, src.channels()), out.begin());
    return out;
}

std::optional<std::array<int32_t, kPlotChannels>> HistoryPlot::newestMeans() const
{
    const LiveRingSource &src = shown();
    std::array<double, kPlotChannels> means{};
    if (src.channels() < 1 || !src.newestMeans(std::span(means).first(static_cast<std::size_t>(std::min(kPlotChannels, src.channels())))))
        return std::nullopt;
    // Summed in integers: the same as the panel's float sums while a block's
    // sum stays below 2^24, and rounded as the panel rounds.
    std::array<int32_t, kPlotChannels> out{};
    for (std::size_t c = 0; c < out.size(); ++c)
        out[c] = static_cast<int32_t>(std::nearbyint(means[c]));
    return out;
}

} // namespace adcard
