#include "recording/event_capture.h"

#include <algorithm>
#include <cmath>

namespace adcard {

namespace {

// An `after` longer than this (a day) is taken as this, so that scans never overflow.
constexpr double kMaxAfterSeconds = 86400.0;

} // namespace

int64_t EventCapture::scansOf(double seconds) const
{
    const double rate = std::max<double>(settings_.IntrArg5, 0);
    const double s = std::isfinite(seconds) ? std::clamp(seconds, 0.0, kMaxAfterSeconds) : 0.0;
    return static_cast<int64_t>(std::ceil(s * rate - 1e-9));
}

void EventCapture::sizeRing()
{
    const int64_t s = blockScans();
    if (!armed_ || !acquiring_ || s <= 0 || settings_.ChannelCount <= 0) {
        if (!armed_) {
            ring_.clear();
            ring_.shrink_to_fit();
            head_ = count_ = 0;
        }
        return;
    }
    // The longest `before`, plus a second for the blocks of a tick that
    // brings a backlog, so that the block holding the first scan wanted is
    // still there when its event comes, and so are those held after a
    // stretch's end when a later event merges with it.
    const int64_t blocks = (scansOf(kMaxBeforeSeconds + 1.0) + s - 1) / s + 2;
    if (std::ssize(ring_) == blocks)
        return;
    const std::size_t samples = std::size_t(settings_.ChannelCount) * std::size_t(s);
    ring_.assign(std::size_t(blocks), Kept{});
    for (Kept &k : ring_)
        k.samples.resize(samples);
    head_ = count_ = 0;
}

void EventCapture::beginAcquisition(const AcqSettings &settings, Clock::time_point now)
{
    if (runOpen_)
        endStretch(now);
    settings_ = settings;
    acquiring_ = true;
    head_ = count_ = 0;
    tick_ = 0;
    lastTick_ = {};
    holdScans_ = 0;
    newestEnd_ = writtenEnd_ = 0;
    writer_.layOut(settings, now);
    sizeRing();
    writer_.flush(now); // the rules in force, at once
}

void EventCapture::setRulesArmed(bool armed)
{
    armed_ = armed;
    sizeRing();
}

void EventCapture::onBlock(int64_t index, int32_t slot, std::span<const int16_t> codes)
{
    const int64_t s = blockScans();
    if (!ring_.empty()) {
        if (count_ == ring_.size()) {
            head_ = (head_ + 1) % ring_.size();
            --count_;
        }
        Kept &k = kept(count_++);
        k.index = index;
        k.slot = slot;
        k.tick = tick_;
        k.tickEnded = false;
        k.before = lastTick_;
        k.samples.assign(codes.begin(), codes.end());
    }
    newestEnd_ = (index + 1) * s;
    if (runOpen_ && index * s < stretchEnd_ && index * s >= writtenEnd_) {
        writer_.onBlock(index - firstIndex_, slot, codes);
        writtenEnd_ = (index + 1) * s;
        tickWritten_ = true;
    }
    if (!markers_.empty())
        writeMarkers();
}

void EventCapture::writeTickEnd(const TickEnd &tick, Clock::time_point now)
{
    // The run's own totals: what the acquisition counted since its first block.
    TickEnd t = tick;
    t.blockCount -= base_.blockCount;
    t.missed -= base_.missed;
    t.dropped -= base_.dropped;
    writer_.onTickEnd(t, now);
    lastWrittenNs_ = tick.timeNs;
}

void EventCapture::onTickEnd(const TickEnd &tick, Clock::time_point now)
{
    for (std::size_t i = count_; i > 0 && kept(i - 1).tick == tick_; --i) {
        kept(i - 1).tickEnded = true;
        kept(i - 1).end = tick;
    }
    lastTick_ = tick;
    ++tick_;
    if (runOpen_ && tickWritten_)
        writeTickEnd(tick, now);
    tickWritten_ = false;
    // A stretch that has ended still merges with one whose `before` reaches
    // back into it, until no later event's can.
    const int64_t hold = ring_.empty() ? 0 : holdScans_;
    if (runOpen_ && writtenEnd_ >= stretchEnd_ && newestEnd_ >= stretchEnd_ + hold)
        endStretch(now);
}

void EventCapture::writeKept(std::size_t from, Clock::time_point now)
{
    const int64_t s = blockScans();
    for (std::size_t i = from; i < count_; ++i) {
        const Kept &k = kept(i);
        if (k.index * s >= stretchEnd_)
            break;
        writer_.onBlock(k.index - firstIndex_, k.slot, k.samples);
        writtenEnd_ = (k.index + 1) * s;
        const bool lastOfTick = i + 1 == count_ || kept(i + 1).tick != k.tick || kept(i + 1).index * s >= stretchEnd_;
        if (!k.tickEnded)
            tickWritten_ = true; // its end comes as it happens
        else if (lastOfTick)
            writeTickEnd(k.end, now);
    }
    if (!markers_.empty())
        writeMarkers();
}

void EventCapture::beginStretch(int64_t from, int64_t end, int64_t timeNs, Clock::time_point now)
{
    const int64_t s = blockScans();
    // The kept block that holds `from`, or the oldest after it.
    std::size_t i = 0;
    while (i < count_ && (kept(i).index + 1) * s <= from)
        ++i;
    if (i == count_)
        return;
    const Kept &first = kept(i);
    firstIndex_ = first.index;
    base_ = first.before;
    stretchEnd_ = end;
    writtenEnd_ = firstIndex_ * s;
    tickWritten_ = false;
    lastWrittenNs_ = timeNs;
    writer_.beginRun(settings_, first.tickEnded ? first.end.timeNs : timeNs, now);
    runOpen_ = true;
    writeKept(i, now);
}

void EventCapture::endStretch(Clock::time_point now)
{
    writer_.endRun(std::max<int64_t>(lastWrittenNs_, 1), now);
    runOpen_ = false;
}

void EventCapture::onEvent(const RuleEvent &event, int64_t timeNs, Clock::time_point now)
{
    const int64_t s = blockScans();
    if (event.capture && event.fired && acquiring_) {
        const int64_t before = scansOf(std::min(event.beforeS, kMaxBeforeSeconds));
        const int64_t from = event.scan - before;
        const int64_t end = event.scan + std::max<int64_t>(scansOf(event.afterS), 1);
        holdScans_ = std::max(holdScans_, before);
        if (runOpen_ && from < stretchEnd_) {
            stretchEnd_ = std::max(stretchEnd_, end);
            // What was held back since the stretch's end, up to the newest.
            std::size_t i = 0;
            while (i < count_ && kept(i).index * s < writtenEnd_)
                ++i;
            writeKept(i, now);
        } else {
            if (runOpen_)
                endStretch(now);
            beginStretch(from, end, timeNs, now);
        }
    }
    // Only an event within what the run holds.
    if (!runOpen_ || event.scan < firstIndex_ * s || event.scan >= writtenEnd_)
        return;
    RuleEvent inRun = event;
    inRun.scan -= firstIndex_ * s;
    writer_.addEvent(inRun, timeNs);
}

void EventCapture::addMarker(int64_t timeNs, std::string_view text, int64_t afterBlock)
{
    constexpr std::size_t kMostWaiting = 256;
    if (afterBlock < 0 || ring_.empty() || markers_.size() >= kMostWaiting)
        return;
    markers_.push_back({timeNs, std::string(text), afterBlock});
    writeMarkers();
}

void EventCapture::writeMarkers()
{
    const int64_t oldest = count_ > 0 ? kept(0).index : 0;
    std::erase_if(markers_, [&](const Marker &m) {
        if (runOpen_ && m.afterBlock >= firstIndex_ && (m.afterBlock + 1) * blockScans() <= writtenEnd_) {
            writer_.addMarker(m.timeNs, m.text, m.afterBlock - firstIndex_);
            return true;
        }
        return m.afterBlock < oldest;
    });
}

void EventCapture::endAcquisition(int64_t endNs, Clock::time_point now)
{
    if (runOpen_) {
        writer_.endRun(endNs, now);
        runOpen_ = false;
    }
    acquiring_ = false;
    head_ = count_ = 0;
    markers_.clear();
}

} // namespace adcard
