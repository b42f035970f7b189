#include "plot/plot_renderer.h"

#include <QPainter>
#include <QPolygon>

#include <algorithm>

namespace adcard {

void PlotRenderer::setBand(bool on)
{
    band_ = on;
    cacheValid_ = false; // the columns' means and deviations are fetched only for it
}

QColor PlotRenderer::envelopeColor(int channel) const
{
    const QColor c = channelColor(channel);
    if (!band_)
        return c;
    // A third of the colour on white, opaque: the extremes stay readable
    // behind the band without being taken for it.
    const auto pale = [](int v) { return 255 - (255 - v) * 35 / 100; };
    return {pale(c.red()), pale(c.green()), pale(c.blue())};
}

void PlotRenderer::drawBand(QPainter &p, const QRect &r, int from, int to) const
{
    const auto ch = static_cast<std::size_t>(cacheChannels_);
    if (!band_ || spread_.size() != cache_.size() || ch == 0)
        return;
    const int columns = cacheColumns_;
    const auto at = [&](int column, int c) -> const Spread & {
        return spread_[static_cast<std::size_t>(column + 1) * ch + static_cast<std::size_t>(c)];
    };
    const auto xOf = [&](int column) { return r.left() + static_cast<int>(int64_t{column} * r.width() / columns); };
    const auto xMid = [&](int column) {
        return std::clamp((xOf(column) + std::max(xOf(column) + 1, xOf(column + 1))) / 2, r.left(), r.right());
    };
    QPolygon area, line;
    std::vector<QPoint> lower;
    p.save();
    for (int c = 0; c < cacheChannels_; ++c) {
        if (!channelVisible(c))
            continue;
        const QRect lane = laneOf(c, r);
        const auto y = [&](double code) { return yOfVolts(calibration_.volts(code), lane); };
        QColor fill = channelColor(c);
        fill.setAlpha(110);
        const QPen pen(channelColor(c).darker(130), 1);
        for (int i = from; i <= to;) {
            if (at(i, c).sd < 0) {
                ++i;
                continue;
            }
            // One stretch without a gap: the band as one polygon, column by
            // column, and the means through the columns' middles (from the
            // column before, so that a strip drawn alone joins on).
            area.clear();
            line.clear();
            lower.clear();
            if (at(i - 1, c).sd >= 0)
                line << QPoint(xMid(i - 1), y(at(i - 1, c).mean));
            for (; i <= to && at(i, c).sd >= 0; ++i) {
                const Spread &s = at(i, c);
                const int x0 = xOf(i), x1 = std::max(x0 + 1, xOf(i + 1));
                const int top = y(s.mean + s.sd), bottom = y(s.mean - s.sd) + 1;
                area << QPoint(x0, top) << QPoint(x1, top);
                lower.emplace_back(x1, bottom);
                lower.emplace_back(x0, bottom);
                line << QPoint(xMid(i), y(s.mean));
            }
            std::for_each(lower.rbegin(), lower.rend(), [&](const QPoint &q) { area << q; });
            p.setPen(Qt::NoPen);
            p.setBrush(fill);
            p.drawPolygon(area);
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
            if (line.size() == 1)
                line << line.front(); // a lone column: its mean as a dot
            p.drawPolyline(line);
        }
    }
    p.restore();
}

} // namespace adcard
