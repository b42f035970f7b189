#include "plot/spectrum_plot.h"

#include "plot/plot_layout.h"
#include "plot/plot_renderer.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPolygon>

#include <algorithm>
#include <cmath>

namespace adcard {

using namespace plot_layout;

namespace {

constexpr int kSpectrumTop = 20; // the amplitude's name above the plot
constexpr int kSpectrumRight = 24;

} // namespace

QString dbUnit(const std::string &unit)
{
    return unit == "V" ? QStringLiteral("dBV") : QStringLiteral("dB re 1 ") + QString::fromStdString(unit);
}

double toDb(double amplitude) { return amplitude > 0 ? std::max(-200.0, 20 * std::log10(amplitude)) : -200.0; }

std::vector<std::size_t> highestPeaks(const std::vector<float> &a, std::size_t from, std::size_t count)
{
    std::vector<std::size_t> out;
    for (std::size_t k = std::max<std::size_t>(from, 1); k < a.size(); ++k)
        if (a[k] >= a[k - 1] && (k + 1 == a.size() || a[k] > a[k + 1]) && a[k] > 0)
            out.push_back(k);
    const auto n = std::min(count, out.size());
    std::partial_sort(out.begin(), out.begin() + std::ptrdiff_t(n), out.end(),
                      [&](std::size_t x, std::size_t y) { return a[x] > a[y]; });
    out.resize(n);
    return out;
}

std::vector<std::size_t> harmonicBins(const std::vector<float> &a, std::size_t fundamental, int most)
{
    std::vector<std::size_t> out;
    for (int n = 2; n <= most && fundamental > 0; ++n) {
        const std::size_t at = fundamental * std::size_t(n);
        if (at >= a.size())
            break;
        std::size_t best = at;
        // A bin beside the multiple where the fundamental lies between bins.
        // Never the bin of the harmonic before.
        for (std::size_t k = at - 1; k <= std::min(at + 1, a.size() - 1); ++k)
            if (a[k] > 1.01F * a[best] && (out.empty() || k != out.back()))
                best = k;
        out.push_back(best);
    }
    return out;
}

void SpectrumPlot::setTraces(std::vector<SpectrumTrace> traces, double binHz, QString frequencyUnit,
                             std::size_t dcBins)
{
    traces_ = std::move(traces);
    binHz_ = binHz > 0 ? binHz : 1;
    frequencyUnit_ = std::move(frequencyUnit);
    dcBins_ = dcBins;
    fitAmplitude();
}

void SpectrumPlot::setDb(bool on)
{
    db_ = on;
    fitAmplitude();
}

void SpectrumPlot::setLogFrequency(bool on)
{
    log_ = on;
    fitAmplitude();
}

bool SpectrumPlot::mixedUnits() const
{
    return std::any_of(traces_.begin(), traces_.end(), [&](const SpectrumTrace &t) { return t.unit != traces_.front().unit; });
}

std::size_t SpectrumPlot::bins() const
{
    std::size_t n = 0;
    for (const SpectrumTrace &t : traces_)
        n = std::max(n, t.amplitude.size());
    return n;
}

QString SpectrumPlot::amplitudeName() const
{
    if (traces_.empty())
        return {};
    if (mixedUnits())
        return QStringLiteral("dB re 1 各通道的单位");
    return shownInDb() ? dbUnit(traces_.front().unit) : QString::fromStdString(traces_.front().unit);
}

void SpectrumPlot::fitAmplitude()
{
    // The highest bin beyond the DC's lobe sets a linear scale (an offset
    // would flatten every tone); dB shows everything, 160 dB at most.
    double lo = INFINITY, hi = -INFINITY;
    for (const SpectrumTrace &t : traces_)
        for (std::size_t k = shownInDb() ? firstBin() : std::max(firstBin(), dcBins_); k < t.amplitude.size(); ++k) {
            lo = std::min(lo, shown(t.amplitude[k]));
            hi = std::max(hi, shown(t.amplitude[k]));
        }
    if (!(hi >= lo)) {
        bottom_ = shownInDb() ? -100 : 0;
        top_ = shownInDb() ? 0 : 1;
        return;
    }
    if (shownInDb()) {
        top_ = std::ceil(hi / 10 + 1e-9) * 10;
        bottom_ = std::max(std::floor(lo / 10) * 10, top_ - 160);
    } else {
        bottom_ = 0;
        const double step = niceStep(std::max(hi, 1e-12) / 5, false);
        top_ = std::ceil(hi * 1.02 / step) * step;
    }
}

QRect SpectrumPlot::plotRect(const QRect &area) const
{
    return area.adjusted(kLeft, kSpectrumTop, -kSpectrumRight, -kBottom);
}

double SpectrumPlot::xOfBin(std::size_t bin, const QRect &plot) const
{
    const std::size_t n = bins();
    if (n < 2)
        return plot.left();
    const double last = double(n - 1);
    const double share = log_ ? std::log(std::max(1.0, double(bin))) / std::log(std::max(2.0, last)) : double(bin) / last;
    return plot.left() + share * (plot.width() - 1);
}

std::optional<std::size_t> SpectrumPlot::binAt(double x, const QRect &plot) const
{
    const std::size_t n = bins();
    if (n < 2 || x < plot.left() || x > plot.right() || plot.width() < 2)
        return std::nullopt;
    const double share = (x - plot.left()) / (plot.width() - 1);
    const double last = double(n - 1);
    const double bin = log_ ? std::exp(share * std::log(std::max(2.0, last))) : share * last;
    return std::clamp<std::size_t>(std::size_t(std::llround(bin)), firstBin(), n - 1);
}

int SpectrumPlot::yOf(double value, const QRect &plot) const
{
    const double v = std::clamp(value, bottom_, top_);
    return plot.top() + int(std::lround((top_ - v) / (top_ - bottom_) * (plot.height() - 1)));
}

std::vector<SpectrumMark> SpectrumPlot::marks() const
{
    // Peaks well clear of the floor only (20 dB over the median bin), so
    // that noise is not marked; the harmonics of the highest where one
    // channel is shown.
    std::vector<SpectrumMark> out;
    for (const SpectrumTrace &t : traces_) {
        if (t.amplitude.size() <= dcBins_)
            continue;
        std::vector<float> sorted(t.amplitude.begin() + std::ptrdiff_t(dcBins_), t.amplitude.end());
        std::nth_element(sorted.begin(), sorted.begin() + std::ptrdiff_t(sorted.size() / 2), sorted.end());
        const double floor = 10.0 * sorted[sorted.size() / 2];
        const std::vector<std::size_t> peaks = highestPeaks(t.amplitude, dcBins_, traces_.size() == 1 ? 5 : 3);
        for (const std::size_t k : peaks)
            if (t.amplitude[k] > floor)
                out.push_back({t.channel, k, 1});
        if (traces_.size() == 1 && !peaks.empty() && t.amplitude[peaks.front()] > floor) {
            int n = 2;
            for (const std::size_t k : harmonicBins(t.amplitude, peaks.front(), 5))
                out.push_back({t.channel, k, n++});
        }
    }
    return out;
}

QImage SpectrumPlot::renderImage(const QSize &size) const
{
    QImage image(size, QImage::Format_RGB32);
    QPainter p(&image);
    render(p, image.rect());
    p.end();
    return image;
}

void SpectrumPlot::render(QPainter &p, const QRect &area) const
{
    p.save();
    p.fillRect(area, Qt::white);
    const QRect r = plotRect(area);
    if (r.width() < 2 || r.height() < 2 || bins() < 2) {
        p.restore();
        return;
    }
    drawAxes(p, area, r);
    p.setClipRect(r.adjusted(0, 0, 1, 1));
    for (const SpectrumTrace &t : traces_)
        drawTrace(p, r, t, PlotRenderer::channelColor(t.channel));
    p.setClipping(false);
    drawMarks(p, r);
    p.setPen(kAxis);
    p.setBrush(Qt::NoBrush);
    p.drawRect(r.adjusted(-1, -1, 0, 0));
    p.restore();
}

void SpectrumPlot::drawTrace(QPainter &p, const QRect &r, const SpectrumTrace &t, const QColor &colour) const
{
    // Many bins to a pixel column: the column's lowest and highest, joined to
    // the next column; few: a line from bin to bin.
    QPolygon line;
    int x = INT32_MIN, first = 0, lo = 0, hi = 0, last = 0;
    const auto flush = [&] {
        if (x == INT32_MIN)
            return;
        line << QPoint(x, first) << QPoint(x, lo) << QPoint(x, hi) << QPoint(x, last);
    };
    for (std::size_t k = firstBin(); k < t.amplitude.size(); ++k) {
        const int bx = int(std::lround(xOfBin(k, r)));
        const int y = yOf(shown(t.amplitude[k]), r);
        if (bx != x) {
            flush();
            x = bx;
            first = lo = hi = y;
        }
        lo = std::min(lo, y);
        hi = std::max(hi, y);
        last = y;
    }
    flush();
    p.setPen(QPen(colour, 1));
    p.drawPolyline(line);
}

void SpectrumPlot::drawMarks(QPainter &p, const QRect &r) const
{
    // A triangle over each peak, its frequency above it (beside it where the
    // plot's top is too close); a label that would cover another is left out.
    const QFontMetrics fm = p.fontMetrics();
    std::vector<QRect> taken;
    for (const SpectrumMark &m : marks()) {
        const auto t = std::find_if(traces_.begin(), traces_.end(), [&](const SpectrumTrace &s) { return s.channel == m.channel; });
        if (m.bin < firstBin() || m.bin >= t->amplitude.size())
            continue;
        const int x = int(std::lround(xOfBin(m.bin, r))), y = yOf(shown(t->amplitude[m.bin]), r);
        const QColor colour = PlotRenderer::channelColor(m.channel);
        p.setPen(colour);
        p.setBrush(m.harmonic == 1 ? QBrush(colour) : QBrush(Qt::white));
        p.drawPolygon(QPolygon({QPoint(x, y - 2), QPoint(x - 4, y - 9), QPoint(x + 4, y - 9)}));
        const QString hz = QString::number(double(m.bin) * binHz_, 'g', 5);
        const QString text = m.harmonic == 1 ? hz : QStringLiteral("%1× %2").arg(m.harmonic).arg(hz);
        const int w = fm.horizontalAdvance(text) + 4;
        QRect box(std::clamp(x - w / 2, r.left(), std::max(r.left(), r.right() - w)), y - 10 - fm.height(), w, fm.height());
        if (box.top() < r.top())
            box.moveTopLeft(QPoint(std::min(x + 6, r.right() - w), std::max(r.top(), y - fm.height())));
        if (std::any_of(taken.begin(), taken.end(), [&](const QRect &o) { return o.intersects(box); }))
            continue;
        taken.push_back(box);
        p.setPen(m.harmonic == 1 ? colour.darker(140) : kAxis);
        p.drawText(box, Qt::AlignCenter, text);
    }
}

void SpectrumPlot::drawAxes(QPainter &p, const QRect &area, const QRect &r) const
{
    const QFontMetrics fm = p.fontMetrics();
    // The amplitude: round labels at least two lines apart, the scale's
    // name above them.
    const double pxPer = (r.height() - 1) / (top_ - bottom_);
    const double vStep = niceStep(2.0 * fm.height() / pxPer, false);
    const int decimals = shownInDb() ? 0 : decimalsFor(vStep);
    for (const double v : axisTicks(bottom_, top_, vStep, r.height() + 2)) {
        const int y = yOf(v, r);
        p.fillRect(QRect(r.left(), y, r.width(), 1), kGrid);
        p.setPen(kAxis);
        p.drawText(QRect(area.left(), y - fm.height() / 2, r.left() - 6 - area.left(), fm.height()),
                   Qt::AlignRight | Qt::AlignVCenter, numberText(v, decimals));
    }
    p.setPen(kAxis);
    p.drawText(QRect(area.left() + 4, area.top(), area.width() - 8, kSpectrumTop), Qt::AlignLeft | Qt::AlignVCenter,
               amplitudeName());
    // The frequency: round steps, or decades and their 2 and 5 on a log scale.
    const double lastHz = double(bins() - 1) * binHz_;
    std::vector<double> ticks;
    if (log_) {
        for (double decade = std::pow(10.0, std::floor(std::log10(binHz_))); decade <= lastHz; decade *= 10)
            for (const double m : {1.0, 2.0, 5.0})
                if (m * decade >= binHz_ * (1 - 1e-9) && m * decade <= lastHz * (1 + 1e-9))
                    ticks.push_back(m * decade);
    } else {
        ticks = axisTicks(0, lastHz, niceStep(fm.averageCharWidth() * 10.0 * lastHz / r.width(), false), r.width());
    }
    int freeFrom = INT32_MIN;
    for (const double hz : ticks) {
        const double share = log_ ? std::log(hz / binHz_) / std::log(std::max(2.0, double(bins() - 1))) : hz / lastHz;
        const int x = r.left() + int(std::lround(share * (r.width() - 1)));
        p.fillRect(QRect(x, r.top(), 1, r.height()), kGrid);
        const QString text = QString::number(hz, 'g', 6);
        const int w = fm.horizontalAdvance(text) + 6;
        if (x - w / 2 < freeFrom)
            continue; // a log scale's 2 and 5 where there is room
        p.setPen(kAxis);
        p.drawText(QRect(x - w / 2, r.bottom() + 4, w, fm.height()), Qt::AlignCenter, text);
        freeFrom = x + w / 2;
    }
    p.setPen(kAxis);
    p.drawText(QRect(area.left() + 4, area.top(), area.width() - 8, kSpectrumTop), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("频率 (%1)").arg(frequencyUnit_));
}

} // namespace adcard
