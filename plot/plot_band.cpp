#include "plot/plot_renderer.h"

#include <algorithm>

namespace adcard {

void PlotRenderer::setBand(bool on)
{
    band_ = on;
    cacheValid_ = false; // the columns' means and deviations are fetched only for it
}

QColor PlotRenderer::layerColor(int layer, int channel) const
{
    const QColor c = channelColor(channel);
    if (!band_)
        return c;
    if (layer == 1) { // the band: translucent, so that the traces under it show
        QColor band = c;
        band.setAlpha(110);
        return band;
    }
    if (layer == 2)
        return c.darker(130);
    // The envelope: a third of the colour on white, opaque; its extremes stay
    // readable behind the band without being taken for it.
    const auto pale = [](int v) { return 255 - (255 - v) * 35 / 100; };
    return {pale(c.red()), pale(c.green()), pale(c.blue())};
}

void PlotRenderer::addBandBars(TraceBars &b, int i, int c, const TraceMap &map, int x0, int w) const
{
    const auto ch = static_cast<std::size_t>(cacheChannels_);
    const auto at = [&](int column) -> const Spread & {
        return spread_[static_cast<std::size_t>(column + 1) * ch + static_cast<std::size_t>(c)];
    };
    const Spread &s = at(i);
    if (s.sd < 0)
        return;
    const auto y = [&](double code) { return map.y(code); };
    // A negative scale turns the band round.
    const int top = std::min(y(s.mean + s.sd), y(s.mean - s.sd)), bottom = std::max(y(s.mean + s.sd), y(s.mean - s.sd));
    b.spread[b.index(i, c)] = QRect(x0, top, w, bottom - top + 1);
    // The mean as a line: reaching the column before's, as the envelope does.
    int m0 = y(s.mean), m1 = m0;
    if (const Spread &prev = at(i - 1); prev.sd >= 0) {
        m0 = std::min(m0, y(prev.mean));
        m1 = std::max(m1, y(prev.mean));
    }
    b.means[b.index(i, c)] = QRect(x0, m0, w, m1 - m0 + 1);
    b.rows += bottom - top + 1 + m1 - m0 + 1;
}

} // namespace adcard
