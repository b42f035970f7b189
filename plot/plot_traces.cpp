#include "plot/plot_renderer.h"

#include "plot/plot_layout.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <array>
#include <cmath>

namespace adcard {

using namespace plot_layout;

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

void PlotRenderer::summariseInto(int columns) const
{
    const int ch = source_ ? source_->channels() : 0;
    const double end = source_ ? static_cast<double>(source_->scanCount()) : 0.0;
    if (cacheValid_ && cacheSource_ == source_ && cacheFirst_ == first_ && cacheLast_ == last_ &&
        cacheColumns_ == columns && cacheChannels_ == ch && cacheEnd_ == end && band_ == !spread_.empty())
        return;
    cache_.resize(static_cast<std::size_t>(columns + 1) * static_cast<std::size_t>(std::max(ch, 0)));
    if (band_)
        spread_.resize(cache_.size());
    else
        std::vector<Spread>().swap(spread_);
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
    std::array<ColumnSummary, 1024> piece; // 24 KiB
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
            if (!spread_.empty())
                spread_[static_cast<std::size_t>(c + 1) * ch + i] = s.count > 0 ? Spread{s.mean, s.sd} : Spread{};
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
    if (!spread_.empty())
        std::move(spread_.begin() + shift, spread_.end(), spread_.begin());
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

namespace {

// Volts fitted to part of the data: a trace that goes past the top or the
// bottom is marked there, so that it is not read as saturation.
void markClipped(QPainter &p, const QRect &r, const std::vector<QRect> &clipped)
{
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
}

} // namespace

void PlotRenderer::drawTraces(QPainter &p, const QRect &r, const QRect &dirty) const
{
    if (!cacheValid_ || cacheColumns_ <= 0 || cacheChannels_ <= 0)
        return;
    const TraceBars bars = traceBars(r, dirty);
    // The raster engine fills a rectangle a row at a time, a call per row.
    // Zoomed out, with every bar as tall as the trace, that took most of a
    // frame: there the bars are written straight into a picture over a clear
    // ground, drawn over the axes a band at a time (the same pixels, the
    // colours being opaque). A few short bars, as in the live plot's newest
    // strip, cost less than clearing and drawing the picture, and stay
    // rectangles.
    if (bars.rows <= 4 * int64_t{r.height()} || r.height() > kPicturePixels)
        drawBarsAsRects(p, bars);
    else
        drawBarsAsPicture(p, r, bars);
    markClipped(p, r, bars.clipped);
}

PlotRenderer::TraceBars PlotRenderer::traceBars(const QRect &r, const QRect &dirty) const
{
    const int columns = cacheColumns_;
    const int ch = cacheChannels_;
    TraceBars b;
    b.channels = ch;
    // Only the columns in `dirty`; a join reads its neighbour from the cache.
    b.from = std::clamp(static_cast<int>(int64_t{dirty.left() - r.left()} * columns / r.width()), 0, columns - 1);
    b.to = std::clamp(static_cast<int>(int64_t{dirty.right() - r.left()} * columns / r.width()), 0, columns - 1);
    // Each column is a bar one pixel wide, from the column's lowest to its
    // highest value; none in a gap, and nothing joined across it. Made once
    // a frame, channel by channel, and dropped with it: nothing is kept.
    const auto at = [&](int column, int c) -> const Extent & {
        return cache_[static_cast<std::size_t>(column + 1) * static_cast<std::size_t>(ch) + static_cast<std::size_t>(c)];
    };
    b.bars.resize(static_cast<std::size_t>(ch) * static_cast<std::size_t>(b.to - b.from + 1)); // null: no bar
    if (band_ && spread_.size() == cache_.size()) {
        b.spread.resize(b.bars.size());
        b.means.resize(b.bars.size());
    }
    const bool fitted = !voltsFull();
    const ValueAxes axes = valueAxes(r);
    const std::vector<TraceMap> maps = traceMaps(axes);
    for (int c = 0; c < ch && std::size_t(c) < maps.size(); ++c) {
        const TraceMap &map = maps[std::size_t(c)];
        if (!map.axis)
            continue;
        for (int i = b.from; i <= b.to; ++i) {
            const Extent &s = at(i, c);
            if (s.min > s.max)
                continue;
            const int x0 = r.left() + static_cast<int>(int64_t{i} * r.width() / columns);
            const int x1 = r.left() + static_cast<int>(int64_t{i + 1} * r.width() / columns);
            // Rows of the column's extremes, highest on screen first: a
            // negative scale puts the highest code at the bottom.
            const int yMin = map.y(s.min), yMax = map.y(s.max);
            int top = std::min(yMin, yMax), bottom = std::max(yMin, yMax);
            if (fitted)
                addClipped(b, map, s.min, s.max, x0, std::max(1, x1 - x0));
            const Extent &prev = at(i - 1, c);
            if (prev.min <= prev.max) {
                // Reach the column before, so that a steep edge is one line.
                const int p0 = map.y(prev.min), p1 = map.y(prev.max);
                top = std::min(top, std::max(p0, p1));
                bottom = std::max(bottom, std::min(p0, p1));
            }
            b.at(i, c) = QRect(x0, top, std::max(1, x1 - x0), bottom - top + 1);
            b.rows += bottom - top + 1;
            if (!b.spread.empty())
                addBandBars(b, i, c, map, x0, std::max(1, x1 - x0));
        }
    }
    return b;
}

void PlotRenderer::addClipped(TraceBars &b, const TraceMap &map, int16_t min, int16_t max, int x0, int w) const
{
    const ValueSpan span = valueSpan(map.cal, min, max);
    const QRect &lane = map.axis->band;
    if (span.high > map.axis->top)
        b.clipped.emplace_back(x0, lane.top(), w, 3);
    if (span.low < map.axis->bottom)
        b.clipped.emplace_back(x0, lane.bottom() - 2, w, 3);
}

void PlotRenderer::drawBarsAsRects(QPainter &p, const TraceBars &b) const
{
    std::array<QRect, 256> rects; // 4 KiB on the stack, handed over in batches
    std::size_t batch = 0;
    const auto flush = [&] {
        if (batch)
            p.drawRects(rects.data(), static_cast<int>(batch));
        batch = 0;
    };
    p.setPen(Qt::NoPen);
    for (int n = 0; n < b.layers(); ++n)
        for (int c = 0; c < b.channels; ++c) {
            if (!channelVisible(c))
                continue;
            p.setBrush(layerColor(n, c));
            for (int i = b.from; i <= b.to; ++i) {
                if (const QRect &bar = b.layer(n)[b.index(i, c)]; !bar.isNull())
                    rects[batch++] = bar;
                if (batch == rects.size())
                    flush();
            }
            flush();
        }
}

void PlotRenderer::drawBarsAsPicture(QPainter &p, const QRect &r, const TraceBars &b) const
{
    // A band of columns at a time, in a picture on the stack.
    const int columns = cacheColumns_;
    const int height = r.height();
    const int band = kPicturePixels / height;
    std::array<QRgb, kPicturePixels> pixels;
    const int left = r.left() + static_cast<int>(int64_t{b.from} * r.width() / columns);
    const int right = r.left() + std::min(static_cast<int>(int64_t{b.to + 1} * r.width() / columns), r.width()); // one past
    // The columns that may reach pixel x, give or take one.
    const auto columnAtX = [&](int x) { return static_cast<int>(int64_t{x - r.left()} * columns / r.width()); };
    for (int bandLeft = left; bandLeft < right; bandLeft += band) {
        const int bandRight = std::min(right, bandLeft + band);
        const int width = bandRight - bandLeft;
        std::fill_n(pixels.begin(), width * height, QRgb{0});
        const int first = std::max(b.from, columnAtX(bandLeft) - 1), last = std::min(b.to, columnAtX(bandRight) + 1);
        for (int n = 0; n < b.layers(); ++n)
            for (int c = 0; c < b.channels; ++c) {
                if (!channelVisible(c))
                    continue;
                const QRgb colour = qPremultiply(layerColor(n, c).rgba());
                const uint keep = 255 - qAlpha(colour); // of what lies under a translucent one
                const auto over = [&](QRgb &d) {
                    d = qRgba(qRed(colour) + qRed(d) * keep / 255, qGreen(colour) + qGreen(d) * keep / 255,
                              qBlue(colour) + qBlue(d) * keep / 255, qAlpha(colour) + qAlpha(d) * keep / 255);
                };
                for (int i = first; i <= last; ++i) {
                    const QRect &bar = b.layer(n)[b.index(i, c)];
                    const int x0 = std::max(bar.left(), bandLeft), x1 = std::min(bar.right() + 1, bandRight);
                    if (bar.isNull() || x0 >= x1)
                        continue;
                    const int y0 = std::max(bar.top() - r.top(), 0), y1 = std::min(bar.bottom() - r.top(), height - 1);
                    for (int y = y0; y <= y1; ++y) {
                        const auto row = pixels.begin() + y * width + (x0 - bandLeft);
                        if (keep == 0)
                            std::fill_n(row, x1 - x0, colour);
                        else
                            std::for_each(row, row + (x1 - x0), over);
                    }
                }
            }
        const QImage picture(reinterpret_cast<const uchar *>(pixels.data()), width, height,
                             width * qsizetype{sizeof(QRgb)}, QImage::Format_ARGB32_Premultiplied);
        p.drawImage(QPoint(bandLeft, r.top()), picture);
    }
}

} // namespace adcard
