#include "plot/plot_renderer.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <array>
#include <cmath>

namespace adcard {

namespace {

// Around the plot: room for the volts' labels at the left, the time's below.
constexpr int kLeft = 60;
constexpr int kTop = 11;
constexpr int kRight = 13;
constexpr int kBottom = 27;
constexpr int kRow = 16;        // one line of small text under the axis
constexpr int kDigitalRow = 15; // one port in the digital strip

const QColor kGrid(224, 224, 224);
const QColor kAxis(96, 96, 96);

// The step of a "nice" sequence (1, 2, 5 or 1, 2.5, 5 times a power of ten)
// at least `least` long.
double niceStep(double least, bool quarter)
{
    if (!(least > 0) || !std::isfinite(least))
        return 1.0;
    const double p = std::pow(10.0, std::floor(std::log10(least)));
    for (double m : {1.0, quarter ? 2.5 : 2.0, 5.0, 10.0})
        if (m * p >= least * (1 - 1e-9))
            return m * p;
    return 10.0 * p;
}

// Finer lines between the labelled ones.
double minorStep(double step)
{
    const double p = std::pow(10.0, std::floor(std::log10(step) + 1e-9));
    const double m = step / p;
    return std::fabs(m - 2.0) < 1e-6 ? step / 2 : (std::fabs(m - 2.5) < 1e-6 ? step / 2.5 : step / 5);
}

int decimalsFor(double step)
{
    int d = 0;
    while (d < 9 && std::fabs(step * std::pow(10.0, d) - std::round(step * std::pow(10.0, d))) > 1e-6)
        ++d;
    return d;
}

} // namespace

std::vector<double> axisTicks(double from, double to, double step, int most)
{
    std::vector<double> out;
    if (!(step > 0) || !std::isfinite(from) || !std::isfinite(to))
        return out;
    const double start = std::ceil(from / step - 1e-9) * step;
    const double end = to + 1e-9 * step;
    for (int i = 0; i < most; ++i) {
        const double t = start + i * step;
        if (t > end)
            break;
        if (out.empty() || t > out.back()) // the same double again where the step is too fine
            out.push_back(t);
    }
    return out;
}

namespace {

QString numberText(double v, int decimals)
{
    if (std::fabs(v) < 1e-12)
        v = 0; // no "-0"
    return QString::number(v, 'f', decimals);
}

} // namespace

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
    const double bottom = calibration_.volts(lo);
    const double top = calibration_.volts(hi);
    const double margin = std::max((top - bottom) * 0.05, 0.01);
    setVoltsRange(bottom - margin, top + margin);
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

// Clear of the lowest volts label, which is centred on the plot's bottom.
constexpr int kDigitalGap = 9;

int PlotRenderer::digitalHeight(const QRect &) const { return digital_.empty() ? 0 : 2 * kDigitalRow + kDigitalGap; }

QRect PlotRenderer::plotRect(const QRect &area) const
{
    const bool clock = startTime_.has_value() && source_ && source_->scansPerSecond() > 0;
    QRect r = area.adjusted(kLeft, kTop, -kRight, -(kBottom + digitalHeight(area) + (clock ? kRow : 0)));
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

int PlotRenderer::yOfVolts(double volts, const QRect &r) const
{
    const double v = std::clamp(volts, voltsBottom_, voltsTop_);
    return r.top() + static_cast<int>(std::lround((voltsTop_ - v) / (voltsTop_ - voltsBottom_) * (r.height() - 1)));
}

QRect PlotRenderer::laneOf(int channel, const QRect &r) const
{
    const int ch = source_ ? source_->channels() : 0;
    if (!lanes_ || ch <= 1)
        return r;
    int shown = 0, index = 0;
    for (int c = 0; c < ch; ++c) {
        if (c == channel)
            index = shown;
        shown += channelVisible(c) ? 1 : 0;
    }
    if (shown <= 1)
        return r;
    const int top = r.top() + static_cast<int>(int64_t{r.height()} * index / shown);
    const int bottom = r.top() + static_cast<int>(int64_t{r.height()} * (index + 1) / shown);
    // A pixel between lanes, so that each trace keeps to its own.
    return QRect(r.left(), top + (index > 0 ? 1 : 0), r.width(), bottom - top - (index > 0 ? 1 : 0));
}

void PlotRenderer::drawHoles(QPainter &p, const QRect &r) const
{
    if (holes_.empty())
        return;
    const double span = last_ - first_;
    const auto xOf = [&](double scan) { return r.left() + (scan - first_) / span * r.width(); };
    int drawnTo = INT32_MIN;
    for (const auto &[first, end] : holes_) {
        if (static_cast<double>(end) <= first_ || static_cast<double>(first) >= last_)
            continue;
        const int x0 = std::max(r.left(), static_cast<int>(std::floor(xOf(static_cast<double>(first)))));
        const int x1 = std::min(r.right() + 1, std::max(x0 + 1, static_cast<int>(std::ceil(xOf(static_cast<double>(end))))));
        if (x1 <= drawnTo)
            continue; // many in one pixel: drawn once
        const int from = std::max(x0, drawnTo);
        if (x1 - from >= 3) // a wide one tinted through; every one marked under the traces
            p.fillRect(QRect(from, r.top(), x1 - from, r.height()), QColor(255, 140, 0, 70));
        p.fillRect(QRect(from, r.bottom() - 4, x1 - from, 5), QColor(230, 110, 0));
        drawnTo = x1;
    }
}

bool PlotRenderer::clockKnown() const
{
    return startTime_.has_value() && source_ && source_->scansPerSecond() > 0 && !timeAxis().fromEnd;
}

QString PlotRenderer::clockLabel(double seconds, double step, std::optional<QDate> &lastDate) const
{
    const QDateTime t = startTime_->addMSecs(static_cast<qint64>(std::llround(seconds * 1000.0)));
    QString text = t.toString(step < 1.0 ? QStringLiteral("HH:mm:ss.zzz") : QStringLiteral("HH:mm:ss"));
    if (!lastDate || *lastDate != t.date())
        text = t.toString(QStringLiteral("yyyy-MM-dd ")) + text; // where the date changes
    lastDate = t.date();
    return text;
}

void PlotRenderer::summariseInto(int columns) const
{
    const int ch = source_ ? source_->channels() : 0;
    const double end = source_ ? static_cast<double>(source_->scanCount()) : 0.0;
    if (cacheValid_ && cacheSource_ == source_ && cacheFirst_ == first_ && cacheLast_ == last_ &&
        cacheColumns_ == columns && cacheChannels_ == ch && cacheEnd_ == end)
        return;
    cache_.resize(static_cast<std::size_t>(columns + 1) * static_cast<std::size_t>(std::max(ch, 0)));
    cacheValid_ = true;
    cacheSource_ = source_;
    cacheFirst_ = first_;
    cacheLast_ = last_;
    cacheColumns_ = columns;
    cacheChannels_ = ch;
    cacheEnd_ = end;
    fetch(-1, columns);
}

void PlotRenderer::fetch(int from, int to) const
{
    if (!source_ || cacheChannels_ <= 0)
        return;
    // A strip through the stack; a whole picture in one ask, through a
    // buffer freed at once: a source such as a file answers many columns in
    // one go far faster than in pieces. Between pictures only the extremes
    // stay (cache_).
    std::array<ColumnSummary, 1024> piece; // 16 KiB
    const auto ch = static_cast<std::size_t>(cacheChannels_);
    const auto wanted = static_cast<std::size_t>(to - from) * ch;
    std::vector<ColumnSummary> whole;
    if (wanted > piece.size())
        whole.resize(wanted);
    const std::span<ColumnSummary> buf = whole.empty() ? std::span<ColumnSummary>(piece) : std::span<ColumnSummary>(whole);
    const int per = static_cast<int>(buf.size() / ch);
    for (int c = from; c < to; c += per) {
        const int n = std::min(per, to - c);
        source_->summariseColumns(first_, last_, cacheColumns_, c, c + n, buf.first(static_cast<std::size_t>(n) * ch));
        for (std::size_t i = 0; i < static_cast<std::size_t>(n) * ch; ++i) {
            const ColumnSummary &s = buf[i];
            cache_[static_cast<std::size_t>(c + 1) * ch + i] = s.count > 0 ? Extent{s.min, s.max} : Extent{};
        }
    }
}

int PlotRenderer::advance()
{
    const double oldFirst = first_;
    const double oldLast = last_;
    const bool wasValid = cacheValid_ && cacheSource_ == source_ && cacheFirst_ == first_ && cacheLast_ == last_;
    const double moved = syncToSource();
    const QRect r = plotRect(lastArea_);
    const int columns = cacheColumns_;
    cacheValid_ = false;
    if (!wasValid || !source_ || !following_ || columns <= 0 || columns != r.width() || !markers_.empty() || !holes_.empty() ||
        !digital_.empty() || !timeAxis().fromEnd || cacheChannels_ != source_->channels())
        return 0;
    const double span = last_ - first_;
    if (span != oldLast - oldFirst || moved <= 0 || moved != std::floor(moved) || span != std::floor(span) ||
        first_ != std::floor(first_))
        return 0;
    // Moved by whole columns?
    const auto s = static_cast<int64_t>(span);
    const auto d = static_cast<int64_t>(moved);
    if ((d * columns) % s != 0)
        return 0;
    const int64_t k = d * columns / s;
    if (k <= 0 || k >= columns)
        return 0;
    const auto ch = static_cast<std::size_t>(cacheChannels_);
    const auto shift = static_cast<std::ptrdiff_t>(static_cast<std::size_t>(k) * ch);
    std::move(cache_.begin() + shift, cache_.end(), cache_.begin());
    cacheValid_ = true;
    cacheFirst_ = first_;
    cacheLast_ = last_;
    cacheEnd_ = static_cast<double>(source_->scanCount());
    fetch(static_cast<int>(columns - k), columns);
    return static_cast<int>(k);
}

std::vector<ColumnSummary> PlotRenderer::columnAt(double x, const QRect &area) const
{
    const QRect r = plotRect(area);
    if (!source_ || source_->channels() <= 0 || x < r.left() || x >= r.right() + 1 || r.width() < 2 ||
        r.height() < 2)
        return {};
    sync();
    const int columns = columnsFor(r);
    const int column = std::clamp(static_cast<int>((x - r.left()) * columns / r.width()), 0, columns - 1);
    std::vector<ColumnSummary> out(static_cast<std::size_t>(source_->channels()));
    source_->summariseColumns(first_, last_, columns, column, column + 1, out);
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

void PlotRenderer::drawAxes(QPainter &p, const QRect &area, const QRect &r, const QRect &dirty) const
{
    const QFontMetrics fm = p.fontMetrics();
    const auto drawLabel = [&](const QRect &box, int flags, const QString &text) {
        if (box.intersects(dirty)) // shaping text is the dear part of a strip
            p.drawText(box, flags, text);
    };

    // Grid lines only over `dirty`, in batches: a strip draws a strip of each.
    // As rectangles a pixel wide: the raster engine fills one in a call,
    // where a line goes through its stroker.
    std::array<QRect, 128> lines;
    std::size_t batch = 0;
    const auto flushLines = [&] {
        if (batch)
            p.drawRects(lines.data(), static_cast<int>(batch));
        batch = 0;
    };
    const auto addLine = [&](const QRect &line) {
        lines[batch++] = line;
        if (batch == lines.size())
            flushLines();
    };
    const auto drawVolts = [&](const QRect &band) {
        // Volts: labels at least three lines apart, finer lines between.
        const double pxPerVolt = (band.height() - 1) / (voltsTop_ - voltsBottom_);
        const double vStep = niceStep(3.0 * fm.height() / pxPerVolt, true);
        const double vMinor = minorStep(vStep) * pxPerVolt >= 8 ? minorStep(vStep) : vStep;
        // Grid lines only over `dirty`, in batches: a strip draws a strip of each.
        // As rectangles a pixel wide: the raster engine fills one in a call,
        // where a line goes through its stroker.
        const QRect lit = band & dirty;
        p.setPen(Qt::NoPen);
        p.setBrush(kGrid);
        std::optional<int> zeroY;
        for (const double v : axisTicks(voltsBottom_, voltsTop_, vMinor, band.height() + 2)) {
            const int y = yOfVolts(v, band);
            if (lit.isEmpty() || y < lit.top() || y > lit.bottom())
                continue;
            if (std::fabs(v) < vMinor / 2)
                zeroY = y;
            else
                addLine(QRect(lit.left(), y, lit.width(), 1));
        }
        flushLines();
        if (zeroY) {
            p.setBrush(kAxis);
            p.drawRect(QRect(lit.left(), *zeroY, lit.width(), 1));
        }
        p.setBrush(Qt::NoBrush);
        p.setPen(kAxis);
        const int vDecimals = std::max(1, decimalsFor(vStep));
        for (const double v : axisTicks(voltsBottom_, voltsTop_, vStep, band.height() + 2)) {
            const QRect box(area.left(), yOfVolts(v, band) - fm.height() / 2, r.left() - 6 - area.left(), fm.height());
            if (box.intersects(dirty)) // nor is the text built for a strip that misses it
                drawLabel(box, Qt::AlignRight | Qt::AlignVCenter, numberText(v, vDecimals) + QStringLiteral(" V"));
        }
    };
    // In lanes, each channel's band has its own volts.
    const int channels = source_ ? source_->channels() : 0;
    if (lanes_ && laneOf(0, r) != r) {
        for (int c = 0; c < channels; ++c)
            if (channelVisible(c))
                drawVolts(laneOf(c, r));
    } else {
        drawVolts(r);
    }
    const QRect lit = r & dirty;

    // Time: labels far enough apart for their text.
    const TimeAxis axis = timeAxis();
    const double unit = axis.scansPerUnit > 0 ? axis.scansPerUnit : 1.0;
    const double v0 = axisValue(first_);
    const double v1 = axisValue(last_);
    const double pxPerUnit = r.width() / (v1 - v0);
    // Measured from the font's average advance: measuring a string shapes it,
    // and the live plot draws a strip many times a second.
    const int charWidth = averageCharWidth(p);
    const bool clock = clockAxis_ && clockKnown();
    double tStep = niceStep(charWidth * (clock ? 14.0 : 9.0) / pxPerUnit, false);
    double tMinor = minorStep(tStep) * pxPerUnit >= 8 ? minorStep(tStep) : tStep;
    // The clock's labels at whole minutes, hours, days of the local clock.
    double shift = 0;
    if (clock) {
        static constexpr double kClockSteps[] = {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600,
                                                 7200, 10800, 21600, 43200, 86400, 172800, 604800};
        const double needed = charWidth * 14.0 / pxPerUnit;
        for (const double step : kClockSteps)
            if (needed > 1 && step >= needed) {
                tStep = tMinor = step;
                break;
            }
        const QTime t0 = startTime_->time();
        shift = t0.msecsSinceStartOfDay() / 1000.0;
    }
    const auto xOf = [&](double value) {
        return r.left() + static_cast<int>(std::lround((value - v0) * pxPerUnit));
    };
    p.setPen(Qt::NoPen);
    p.setBrush(kGrid);
    // A view a few scans wide has a line at most every pixel.
    for (double t : axisTicks(v0 + shift, v1 + shift, tMinor, r.width() + 2)) {
        t -= shift;
        if (t >= v1 - 1e-9 * tMinor)
            break;
        const int x = xOf(t);
        if (!lit.isEmpty() && x >= lit.left() && x <= lit.right())
            addLine(QRect(x, lit.top(), 1, lit.height()));
    }
    flushLines();
    p.setBrush(Qt::NoBrush);
    p.setPen(kAxis);
    const int tDecimals = decimalsFor(tStep);
    const int labelTop = r.bottom() + 5 + digitalHeight(area);
    const double lastLabel = std::floor(v1 / tStep + 1e-9) * tStep;
    std::optional<QDate> lastDate;
    for (double t : axisTicks(v0 + shift, v1 + shift, tStep, r.width() + 2)) {
        t -= shift;
        const int x = xOf(t);
        // Wide enough for any label: a strip that misses it skips the text.
        const int most = charWidth * (clock ? 24 : 12);
        if (!clock && !QRect(x - most, labelTop, 2 * most, fm.height()).intersects(dirty))
            continue;
        QString text = clock ? clockLabel(t, tStep, lastDate) : numberText(t, tDecimals);
        if (!clock && std::fabs(t - lastLabel) < tStep / 2)
            text += QLatin1Char(' ') + axis.unit;
        const int w = fm.horizontalAdvance(text) + 4;
        const int left = std::clamp(x - w / 2, area.left(), std::max(area.left(), area.right() + 1 - w));
        drawLabel(QRect(left, labelTop, w, fm.height()), Qt::AlignHCenter | Qt::AlignTop, text);
    }
    // The wall clock at both ends.
    const double sps = source_ ? source_->scansPerSecond() : 0.0;
    // Within milliseconds that 64 bits hold (a damaged file's run may not be).
    if (startTime_ && sps > 0 && last_ / sps * 1000.0 < 1e18 && first_ / sps * 1000.0 > -1e18) {
        const auto clock = [&](double scan) {
            return startTime_->addMSecs(static_cast<qint64>(std::llround(scan / sps * 1000.0)))
                .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
        };
        const QRect row(r.left(), labelTop + kRow, r.width(), fm.height());
        drawLabel(row, Qt::AlignLeft | Qt::AlignTop, clock(first_));
        drawLabel(row, Qt::AlignRight | Qt::AlignTop, clock(last_));
    }
    (void)unit;
}

// The font's tables are read again at every call of QFontMetrics's: the
// live plot asks at every strip it draws.
int PlotRenderer::averageCharWidth(const QPainter &p) const
{
    if (charWidth_ < 0 || p.font() != charWidthFont_) {
        charWidthFont_ = p.font();
        charWidth_ = p.fontMetrics().averageCharWidth();
    }
    return charWidth_;
}

void PlotRenderer::drawTraces(QPainter &p, const QRect &r, const QRect &dirty) const
{
    const int columns = cacheColumns_;
    const int ch = cacheChannels_;
    if (!cacheValid_ || columns <= 0 || ch <= 0)
        return;
    // Only the columns in `dirty`; a join reads its neighbour from the cache.
    const int from = std::clamp(static_cast<int>(int64_t{dirty.left() - r.left()} * columns / r.width()), 0,
                                columns - 1);
    const int to = std::clamp(static_cast<int>(int64_t{dirty.right() - r.left()} * columns / r.width()), 0,
                              columns - 1);
    // Each column is a bar one pixel wide, from the column's lowest to its
    // highest value; none in a gap, and nothing joined across it. Made once
    // a frame, channel by channel, and dropped with it: nothing is kept.
    const auto at = [&](int column, int c) -> const Extent & {
        return cache_[static_cast<std::size_t>(column + 1) * static_cast<std::size_t>(ch) + static_cast<std::size_t>(c)];
    };
    const int n = to - from + 1;
    std::vector<QRect> bars(static_cast<std::size_t>(ch) * static_cast<std::size_t>(n)); // null: no bar
    const auto barAt = [&](int i, int c) -> QRect & { return bars[static_cast<std::size_t>(c) * n + (i - from)]; };
    int64_t rows = 0;
    // Volts fitted to part of the data: a trace that goes past the top or
    // the bottom is marked there, so that it is not read as saturation.
    const bool fitted = !voltsFull();
    std::vector<QRect> clipped;
    for (int c = 0; c < ch; ++c) {
        if (!channelVisible(c))
            continue;
        const QRect lane = laneOf(c, r);
        for (int i = from; i <= to; ++i) {
            const Extent &s = at(i, c);
            if (s.min > s.max)
                continue;
            if (fitted) {
                const int x0 = r.left() + static_cast<int>(int64_t{i} * r.width() / columns);
                const int w = std::max(1, static_cast<int>(int64_t{i + 1} * r.width() / columns) + r.left() - x0);
                if (calibration_.volts(s.max) > voltsTop_)
                    clipped.emplace_back(x0, lane.top(), w, 3);
                if (calibration_.volts(s.min) < voltsBottom_)
                    clipped.emplace_back(x0, lane.bottom() - 2, w, 3);
            }
            int top = yOfVolts(calibration_.volts(s.max), lane);
            int bottom = yOfVolts(calibration_.volts(s.min), lane);
            const Extent &prev = at(i - 1, c);
            if (prev.min <= prev.max) {
                // Reach the column before, so that a steep edge is one line.
                top = std::min(top, yOfVolts(calibration_.volts(prev.min), lane));
                bottom = std::max(bottom, yOfVolts(calibration_.volts(prev.max), lane));
            }
            const int x0 = r.left() + static_cast<int>(int64_t{i} * r.width() / columns);
            const int x1 = r.left() + static_cast<int>(int64_t{i + 1} * r.width() / columns);
            barAt(i, c) = QRect(x0, top, std::max(1, x1 - x0), bottom - top + 1);
            rows += bottom - top + 1;
        }
    }
    const auto markClipped = [&] {
        if (clipped.empty())
            return;
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(220, 0, 0));
        p.drawRects(clipped.data(), static_cast<int>(clipped.size()));
        const QString note = QStringLiteral("红边：波形超出显示范围（Home / Y 显示全部电压）");
        const QFontMetrics fm = p.fontMetrics();
        const QRect box(r.right() - fm.horizontalAdvance(note) - 8, r.top() + 4, fm.horizontalAdvance(note) + 4, fm.height());
        if (box.left() > r.left()) {
            p.fillRect(box, QColor(255, 255, 255, 220));
            p.setPen(QColor(180, 0, 0));
            p.drawText(box, Qt::AlignCenter, note);
        }
    };
    // The raster engine fills a rectangle a row at a time, a call per row.
    // Zoomed out, with every bar as tall as the trace, that took most of a
    // frame: there the bars are written straight into a picture over a clear
    // ground, drawn over the axes a band at a time (the same pixels, the
    // colours being opaque). A few short bars, as in the live plot's newest
    // strip, cost less than clearing and drawing the picture, and stay
    // rectangles.
    if (rows <= 4 * int64_t{r.height()} || r.height() > kPicturePixels) {
        std::array<QRect, 256> rects; // 4 KiB on the stack, handed over in batches
        std::size_t batch = 0;
        const auto flush = [&] {
            if (batch)
                p.drawRects(rects.data(), static_cast<int>(batch));
            batch = 0;
        };
        p.setPen(Qt::NoPen);
        for (int c = 0; c < ch; ++c) {
            if (!channelVisible(c))
                continue;
            p.setBrush(channelColor(c));
            for (int i = from; i <= to; ++i) {
                if (!barAt(i, c).isNull())
                    rects[batch++] = barAt(i, c);
                if (batch == rects.size())
                    flush();
            }
            flush();
        }
        markClipped();
        return;
    }
    // A band of columns at a time, in a picture on the stack.
    const int height = r.height();
    const int band = kPicturePixels / height;
    std::array<QRgb, kPicturePixels> pixels;
    const int left = r.left() + static_cast<int>(int64_t{from} * r.width() / columns);
    const int right = r.left() + std::min(static_cast<int>(int64_t{to + 1} * r.width() / columns), r.width()); // one past
    // The columns that may reach pixel x, give or take one.
    const auto columnAtX = [&](int x) { return static_cast<int>(int64_t{x - r.left()} * columns / r.width()); };
    for (int bandLeft = left; bandLeft < right; bandLeft += band) {
        const int bandRight = std::min(right, bandLeft + band);
        const int width = bandRight - bandLeft;
        std::fill_n(pixels.begin(), width * height, QRgb{0});
        const int first = std::max(from, columnAtX(bandLeft) - 1), last = std::min(to, columnAtX(bandRight) + 1);
        for (int c = 0; c < ch; ++c) {
            if (!channelVisible(c))
                continue;
            const QRgb colour = channelColor(c).rgb();
            for (int i = first; i <= last; ++i) {
                const QRect &bar = barAt(i, c);
                const int x0 = std::max(bar.left(), bandLeft), x1 = std::min(bar.right() + 1, bandRight);
                if (bar.isNull() || x0 >= x1)
                    continue;
                const int y0 = std::max(bar.top() - r.top(), 0), y1 = std::min(bar.bottom() - r.top(), height - 1);
                for (int y = y0; y <= y1; ++y)
                    std::fill_n(pixels.begin() + y * width + (x0 - bandLeft), x1 - x0, colour);
            }
        }
        const QImage picture(reinterpret_cast<const uchar *>(pixels.data()), width, height,
                             width * qsizetype{sizeof(QRgb)}, QImage::Format_ARGB32_Premultiplied);
        p.drawImage(QPoint(bandLeft, r.top()), picture);
    }
    markClipped();
}

void PlotRenderer::drawMarkers(QPainter &p, const QRect &r) const
{
    if (markers_.empty())
        return;
    const QFontMetrics fm = p.fontMetrics();
    const auto begin = std::lower_bound(markers_.begin(), markers_.end(), first_,
                                        [](const PlotMarker &m, double s) { return static_cast<double>(m.scan) < s; });
    int labelsEnd = INT32_MIN;
    int drawnX = INT32_MIN;
    for (auto m = begin; m != markers_.end() && static_cast<double>(m->scan) <= last_; ++m) {
        const int x = r.left() + static_cast<int>(std::lround((static_cast<double>(m->scan) - first_) / (last_ - first_) * r.width()));
        if (x == drawnX)
            continue; // many in one pixel: one line
        drawnX = x;
        p.setPen(QPen(QColor(120, 60, 0), 1, Qt::DashLine));
        p.drawLine(x, r.top(), x, r.bottom());
        if (!m->text.isEmpty() && x + 3 > labelsEnd) {
            const QString text = fm.elidedText(m->text, Qt::ElideRight, 160);
            const QRect box(x + 3, r.top() + 1, fm.horizontalAdvance(text) + 4, fm.height());
            p.fillRect(box, QColor(255, 255, 255, 200));
            p.setPen(QColor(120, 60, 0));
            p.drawText(box, Qt::AlignLeft | Qt::AlignVCenter, text);
            labelsEnd = box.right() + 6;
        }
    }
}

void PlotRenderer::drawCursors(QPainter &p, const QRect &r) const
{
    const QFontMetrics fm = p.fontMetrics();
    const auto draw = [&](const std::optional<double> &at, const QColor &color, const QString &name) {
        if (!at || *at < first_ || *at > last_)
            return;
        const int x = r.left() + static_cast<int>(std::lround((*at - first_) / (last_ - first_) * r.width()));
        p.setPen(QPen(color, 1));
        p.drawLine(x, r.top(), x, r.bottom());
        p.drawText(QRect(x + 2, r.bottom() - fm.height(), fm.horizontalAdvance(name) + 4, fm.height()),
                   Qt::AlignLeft | Qt::AlignVCenter, name);
    };
    draw(cursorA_, QColor(200, 0, 0), QStringLiteral("A"));
    draw(cursorB_, QColor(0, 0, 200), QStringLiteral("B"));
}

void PlotRenderer::drawDigital(QPainter &p, const QRect &area, const QRect &r, const QRect &dirty) const
{
    if (digital_.empty())
        return;
    const QRect strip(area.left(), r.bottom() + kDigitalGap, area.width(), 2 * kDigitalRow);
    if (!strip.intersects(dirty))
        return;
    const QFontMetrics fm = p.fontMetrics();
    const double end = source_ ? static_cast<double>(source_->scanCount()) : last_;
    const auto xOf = [&](double scan) {
        return r.left() + static_cast<int>(std::lround((std::clamp(scan, first_, last_) - first_) / (last_ - first_) * r.width()));
    };
    // The entry in force at `first_`: the last one at or before it.
    auto begin = std::upper_bound(digital_.begin(), digital_.end(), first_,
                                  [](double s, const PlotDigital &d) { return s < static_cast<double>(d.scan); });
    if (begin != digital_.begin())
        --begin;
    for (int port = 0; port < 2; ++port) {
        const int top = strip.top() + port * kDigitalRow;
        const QRect row(r.left(), top, r.width(), kDigitalRow - 2);
        p.setPen(kAxis);
        p.drawText(QRect(area.left(), top, r.left() - 6 - area.left(), kDigitalRow), Qt::AlignRight | Qt::AlignVCenter,
                   QStringLiteral("DI%1").arg(port));
        p.fillRect(row, QColor(245, 245, 245));
        const auto value = [port](const PlotDigital &d) { return port == 0 ? d.port0 : d.port1; };
        // Changes closer than their text needs are gathered: where they
        // crowd (a day's zoom), a band that says so, instead of a grey bar.
        std::vector<int> changes;
        for (auto d = begin; d != digital_.end() && static_cast<double>(d->scan) <= last_;) {
            // One segment: this value until it changes.
            auto next = d + 1;
            while (next != digital_.end() && value(*next) == value(*d))
                ++next;
            const double segEnd = next == digital_.end() ? end : static_cast<double>(next->scan);
            const int x0 = xOf(static_cast<double>(d->scan));
            const int x1 = xOf(segEnd);
            const QString text = QStringLiteral("%1").arg(value(*d), 4, 16, QLatin1Char('0')).toUpper();
            p.setPen(kAxis);
            if (x1 - x0 >= fm.horizontalAdvance(text) + 6) {
                p.drawLine(x0, row.top(), x0, row.bottom());
                p.drawText(QRect(x0 + 1, row.top(), x1 - x0 - 1, row.height()), Qt::AlignCenter, text);
            } else if (static_cast<double>(d->scan) >= first_ && (changes.empty() || changes.back() != x0)) {
                changes.push_back(x0); // too narrow: where it changes
            }
            d = next;
        }
        const QString changed = QStringLiteral("变化");
        for (std::size_t i = 0; i < changes.size();) {
            std::size_t j = i;
            while (j + 1 < changes.size() && changes[j + 1] - changes[j] <= 3)
                ++j;
            if (j == i) {
                p.setPen(kAxis);
                p.drawLine(changes[i], row.top() + 2, changes[i], row.bottom() - 2);
            } else {
                const QRect band(changes[i], row.top(), changes[j] - changes[i] + 1, row.height());
                p.fillRect(band, QColor(255, 190, 110));
                if (band.width() >= fm.horizontalAdvance(changed) + 4) {
                    p.setPen(QColor(120, 60, 0));
                    p.drawText(band, Qt::AlignCenter, changed);
                }
            }
            i = j + 1;
        }
    }
}

} // namespace adcard
