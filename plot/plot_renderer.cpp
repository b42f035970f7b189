#include "plot/plot_renderer.h"

#include "plot/plot_layout.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <array>
#include <cmath>

namespace adcard {

using namespace plot_layout;

PlotRenderer::PlotRenderer() = default;

QColor PlotRenderer::channelColor(int channel)
{
    // Apart in hue and lightness, so that they stay apart for most colour
    // vision deficiencies too.
    static const QColor colors[] = {QColor(0, 114, 178), QColor(213, 94, 0), QColor(0, 158, 115),
                                    QColor(204, 121, 167), QColor(230, 159, 0), QColor(86, 180, 233),
                                    QColor(0, 0, 0), QColor(240, 228, 66)};
    return colors[static_cast<std::size_t>(std::max(channel, 0)) % std::size(colors)];
}

void PlotRenderer::setSource(const DataSource *source)
{
    source_ = source;
    calibration_ = source_ ? source_->calibration() : kPanelCalibration;
    cacheValid_ = false;
    showAll();
}

void PlotRenderer::swapSource(const DataSource *source)
{
    source_ = source;
    calibration_ = source_ ? source_->calibration() : kPanelCalibration;
    cacheValid_ = false;
    syncedEnd_ = source_ ? static_cast<double>(source_->scanCount()) : 0.0;
    clampRange();
}

PlotRenderer::Bounds PlotRenderer::bounds() const
{
    if (!source_)
        return {0.0, 1.0};
    const double lo = source_->viewFirst();
    const double hi = static_cast<double>(source_->scanCount());
    return {lo, std::max(hi, lo + 1.0)};
}

void PlotRenderer::clampRange() const
{
    const Bounds b = bounds();
    const double whole = b.hi - b.lo;
    double span = std::clamp(last_ - first_, std::min(kMinSpanScans, whole), whole);
    if (!std::isfinite(span))
        span = whole;
    double first = std::clamp(first_, b.lo, b.hi - span);
    first_ = first;
    last_ = first + span;
}

void PlotRenderer::setRange(double first, double last)
{
    if (!(last > first))
        std::swap(first, last);
    first_ = first;
    last_ = last;
    clampRange();
}

void PlotRenderer::showAll()
{
    const Bounds b = bounds();
    first_ = b.lo;
    last_ = b.hi;
    syncedEnd_ = source_ ? static_cast<double>(source_->scanCount()) : 0.0;
}

bool PlotRenderer::showsAll() const
{
    const Bounds b = bounds();
    return first_ <= b.lo && last_ >= b.hi;
}

void PlotRenderer::zoom(double factor, double anchor)
{
    if (!(factor > 0) || !std::isfinite(factor))
        return;
    const double span = last_ - first_;
    const Bounds b = bounds();
    const double wanted = std::clamp(span * factor, std::min(kMinSpanScans, b.hi - b.lo), b.hi - b.lo);
    anchor = std::clamp(anchor, first_, last_);
    const double share = span > 0 ? (anchor - first_) / span : 0.5;
    first_ = anchor - share * wanted;
    last_ = first_ + wanted;
    clampRange();
}

void PlotRenderer::pan(double scans)
{
    first_ += scans;
    last_ += scans;
    clampRange();
}

double PlotRenderer::syncToSource() { return sync(); }

double PlotRenderer::sync() const
{
    if (!source_)
        return 0.0;
    const auto end = static_cast<double>(source_->scanCount());
    const double moved = end - syncedEnd_;
    syncedEnd_ = end;
    if (following_ && moved != 0.0) {
        first_ += moved;
        last_ += moved;
    }
    const double before = first_;
    clampRange();
    return following_ ? moved + (first_ - before) : 0.0;
}

void PlotRenderer::setVoltsRange(double bottom, double top)
{
    if (bottom > top)
        std::swap(bottom, top);
    if (!(top - bottom >= 1e-3)) {
        const double mid = (top + bottom) / 2;
        bottom = mid - 5e-4;
        top = mid + 5e-4;
    }
    voltsBottom_ = bottom;
    voltsTop_ = top;
}

void PlotRenderer::fitVoltsToVisible()
{
    if (!cacheValid_ || cacheChannels_ <= 0) {
        resetVolts();
        return;
    }
    int lo = INT16_MAX;
    int hi = INT16_MIN;
    const auto ch = static_cast<std::size_t>(cacheChannels_);
    for (std::size_t i = ch; i < cache_.size(); ++i) { // the column before the picture is not visible
        const Extent &s = cache_[i];
        if (s.min <= s.max && channelVisible(static_cast<int>(i % ch))) {
            lo = std::min<int>(lo, s.min);
            hi = std::max<int>(hi, s.max);
        }
    }
    if (lo > hi) {
        resetVolts();
        return;
    }
    const ValueSpan span = valueSpan(calibration_, lo, hi);
    const double margin = std::max(span.width() * 0.05, 0.01);
    setVoltsRange(span.low - margin, span.high + margin);
}

void PlotRenderer::setChannelVisible(int channel, bool visible)
{
    if (channel < 0)
        return;
    if (static_cast<std::size_t>(channel) >= visible_.size())
        visible_.resize(static_cast<std::size_t>(channel) + 1, true);
    visible_[static_cast<std::size_t>(channel)] = visible;
}

bool PlotRenderer::channelVisible(int channel) const
{
    return channel >= 0 && (static_cast<std::size_t>(channel) >= visible_.size() ||
                            visible_[static_cast<std::size_t>(channel)]);
}

TimeAxis PlotRenderer::timeAxis() const
{
    if (axis_)
        return *axis_;
    const double sps = source_ ? source_->scansPerSecond() : 0.0;
    if (sps > 0)
        return {sps, QStringLiteral("s"), false};
    return {1.0, QStringLiteral("扫描"), false};
}

double PlotRenderer::axisValue(double scan) const
{
    const TimeAxis a = timeAxis();
    const double origin = a.fromEnd && source_ ? static_cast<double>(source_->scanCount()) : 0.0;
    return (scan - origin) / (a.scansPerUnit > 0 ? a.scansPerUnit : 1.0);
}

void PlotRenderer::setMarkers(std::vector<PlotMarker> markers)
{
    markers_ = std::move(markers);
    std::stable_sort(markers_.begin(), markers_.end(),
                     [](const PlotMarker &a, const PlotMarker &b) { return a.scan < b.scan; });
}

void PlotRenderer::setDigital(std::vector<PlotDigital> digital)
{
    digital_ = std::move(digital);
    std::stable_sort(digital_.begin(), digital_.end(),
                     [](const PlotDigital &a, const PlotDigital &b) { return a.scan < b.scan; });
}

void PlotRenderer::setCursors(std::optional<double> a, std::optional<double> b)
{
    cursorA_ = a;
    cursorB_ = b;
}

int PlotRenderer::digitalHeight(const QRect &) const { return digital_.empty() ? 0 : 2 * kDigitalRow + kDigitalGap; }

QRect PlotRenderer::plotRect(const QRect &area) const
{
    const bool clock = startTime_.has_value() && source_ && source_->scansPerSecond() > 0;
    // A second unit overlaid is labelled at the right, as the first is at the left.
    const bool right = source_ && needsRightAxis(source_->channelUnits(), source_->channels(), visible_, lanes_);
    QRect r = area.adjusted(kLeft, kTop, -(right ? kLeft : kRight), -(kBottom + digitalHeight(area) + (clock ? kRow : 0)));
    if (quantum_ > 1 && r.width() >= quantum_ && r.width() <= kMaxPlotColumns)
        r.setLeft(r.right() + 1 - r.width() / quantum_ * quantum_); // the newest flush right
    return r;
}

int PlotRenderer::columnsFor(const QRect &plot) const { return std::clamp(plot.width(), 0, kMaxPlotColumns); }

double PlotRenderer::scanAtX(double x, const QRect &area) const
{
    const QRect r = plotRect(area);
    if (r.width() <= 0)
        return first_;
    return first_ + (x - r.left()) / r.width() * (last_ - first_);
}

double PlotRenderer::xOfScan(double scan, const QRect &area) const
{
    const QRect r = plotRect(area);
    return r.left() + (scan - first_) / (last_ - first_) * r.width();
}

ValueAxes PlotRenderer::valueAxes(const QRect &plot) const
{
    return adcard::valueAxes(source_ ? source_->channelUnits() : ChannelUnits{}, source_ ? source_->channels() : 0,
                             visible_, lanes_, voltsBottom_, voltsTop_, plot);
}

std::vector<PlotRenderer::TraceMap> PlotRenderer::traceMaps(const ValueAxes &axes) const
{
    const ChannelUnits units = source_ ? source_->channelUnits() : ChannelUnits{};
    std::vector<TraceMap> out(axes.axisOf.size());
    for (std::size_t c = 0; c < out.size(); ++c)
        out[c] = {axes.of(int(c)), inUnit(calibration_, channelUnit(units, int(c)))};
    return out;
}

QImage PlotRenderer::renderImage(const QSize &size) const
{
    QImage image(size, QImage::Format_RGB32);
    QPainter p(&image);
    render(p, image.rect());
    p.end();
    return image;
}

void PlotRenderer::render(QPainter &p, const QRect &area, const QRect &dirtyArea) const
{
    sync(); // a following view is drawn where the source now ends
    lastArea_ = area;
    const QRect dirty = dirtyArea.isEmpty() ? area : (dirtyArea & area);
    const QRect r = plotRect(area);
    p.save();
    p.fillRect(dirty, Qt::white);
    if (r.width() < 2 || r.height() < 2) {
        p.restore();
        return;
    }
    p.setRenderHint(QPainter::Antialiasing, false);
    const int columns = columnsFor(r);
    summariseInto(columns);
    drawAxes(p, area, r, dirty);
    // The traces stay inside r by themselves: a clip would slow their fill.
    drawTraces(p, r, dirty);
    drawHoles(p, r);
    if (!markers_.empty() || cursorA_ || cursorB_) {
        p.save();
        p.setClipRect(r, Qt::IntersectClip);
        drawMarkers(p, r);
        drawCursors(p, r);
        p.restore();
    }
    drawDigital(p, area, r, dirty);
    p.setPen(kAxis);
    p.setBrush(Qt::NoBrush);
    p.drawRect(r.adjusted(-1, -1, 0, 0)); // just outside the traces
    p.restore();
}

} // namespace adcard
