#include "plot/plot_renderer.h"

#include "plot/plot_layout.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <array>
#include <cmath>

namespace adcard {

using namespace plot_layout;

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

namespace {

// Grid lines only over what is redrawn, in batches: a strip draws a strip of
// each. As rectangles a pixel wide: the raster engine fills one in a call,
// where a line goes through its stroker.
class GridLines {
public:
    explicit GridLines(QPainter &p) : p_(p) {}
    ~GridLines() { flush(); }
    GridLines(const GridLines &) = delete;
    GridLines &operator=(const GridLines &) = delete;
    void add(const QRect &line)
    {
        lines_[batch_++] = line;
        if (batch_ == lines_.size())
            flush();
    }
    void flush()
    {
        if (batch_)
            p_.drawRects(lines_.data(), static_cast<int>(batch_));
        batch_ = 0;
    }

private:
    QPainter &p_;
    std::array<QRect, 128> lines_;
    std::size_t batch_ = 0;
};

// Shaping text is the dear part of a strip: only what the strip touches.
void drawLabel(QPainter &p, const QRect &dirty, const QRect &box, int flags, const QString &text)
{
    if (box.intersects(dirty))
        p.drawText(box, flags, text);
}

} // namespace

void PlotRenderer::drawAxes(QPainter &p, const QRect &area, const QRect &r, const QRect &dirty) const
{
    // Each trace is read against an axis in its own unit (value_axes.h):
    // one a lane in lanes, one a unit overlaid. The grid follows the left
    // axis; a second unit's ticks are marked at the right edge.
    const ValueAxes axes = valueAxes(r);
    for (const ValueAxis &axis : axes.axes)
        drawValueAxis(p, area, r, axis, !axis.right, axes.axes.size() > 1 && axis.channels.size() == 1, dirty);
    const TimeTicks ticks = timeTicks(p, r);
    drawTimeGrid(p, r, dirty, ticks);
    drawTimeLabels(p, area, r, dirty, ticks);
    drawWallClock(p, area, r, dirty);
}

void PlotRenderer::drawValueAxis(QPainter &p, const QRect &area, const QRect &r, const ValueAxis &axis, bool grid,
                                 bool coloured, const QRect &dirty) const
{
    const QFontMetrics fm = p.fontMetrics();
    const bool lane = axis.band != r;
    const std::vector<AxisTick> labels = axisLabels(axis, fm.height(), lane);
    const QRect lit = axis.band & dirty;
    p.setPen(Qt::NoPen);
    p.setBrush(kGrid);
    std::optional<int> zeroY;
    if (grid && !lit.isEmpty()) {
        GridLines lines(p);
        const std::vector<double> values = axisGrid(axis, labels);
        const double minor = values.size() > 1 ? values[1] - values[0] : 1.0;
        for (const double v : values) {
            const int y = axis.yOf(v);
            if (y < lit.top() || y > lit.bottom())
                continue;
            if (std::fabs(v) < minor / 2)
                zeroY = y;
            else
                lines.add(QRect(lit.left(), y, lit.width(), 1));
        }
    }
    if (zeroY) {
        p.setBrush(kAxis);
        p.drawRect(QRect(lit.left(), *zeroY, lit.width(), 1));
    }
    p.setBrush(Qt::NoBrush);
    p.setPen(coloured ? channelColor(axis.channels.front()) : kAxis);
    for (const AxisTick &t : labels) {
        const QRect box = axis.right ? QRect(r.right() + 7, t.textY - fm.height() / 2, area.right() - r.right() - 7, fm.height())
                                     : QRect(area.left(), t.textY - fm.height() / 2, r.left() - 6 - area.left(), fm.height());
        // A tick beside the frame: a lane's text may sit beside its value,
        // not on it. Outside the plot, which a following view moves.
        const QRect tick = axis.right ? QRect(r.right() + 2, t.y, 3, 1) : QRect(r.left() - 5, t.y, 3, 1);
        if (tick.intersects(dirty))
            p.fillRect(tick, p.pen().color());
        if (box.intersects(dirty)) // nor is the text shaped for a strip that misses it
            drawLabel(p, dirty, box, (axis.right ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter, t.text);
    }
}

PlotRenderer::TimeTicks PlotRenderer::timeTicks(const QPainter &p, const QRect &r) const
{
    // Labels far enough apart for their text.
    TimeTicks t;
    t.v0 = axisValue(first_);
    t.v1 = axisValue(last_);
    t.pxPerUnit = r.width() / (t.v1 - t.v0);
    // Measured from the font's average advance: measuring a string shapes it,
    // and the live plot draws a strip many times a second.
    t.charWidth = averageCharWidth(p);
    t.clock = clockAxis_ && clockKnown();
    t.step = niceStep(t.charWidth * (t.clock ? 14.0 : 9.0) / t.pxPerUnit, false);
    t.minor = minorStep(t.step) * t.pxPerUnit >= 8 ? minorStep(t.step) : t.step;
    if (t.clock) {
        // The clock's labels at whole minutes, hours, days of the local clock.
        static constexpr double kClockSteps[] = {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600,
                                                 7200, 10800, 21600, 43200, 86400, 172800, 604800};
        const double needed = t.charWidth * 14.0 / t.pxPerUnit;
        for (const double step : kClockSteps)
            if (needed > 1 && step >= needed) {
                t.step = t.minor = step;
                break;
            }
        t.shift = startTime_->time().msecsSinceStartOfDay() / 1000.0;
    }
    return t;
}

int PlotRenderer::TimeTicks::xOf(double value, const QRect &r) const
{
    return r.left() + static_cast<int>(std::lround((value - v0) * pxPerUnit));
}

void PlotRenderer::drawTimeGrid(QPainter &p, const QRect &r, const QRect &dirty, const TimeTicks &t) const
{
    const QRect lit = r & dirty;
    p.setPen(Qt::NoPen);
    p.setBrush(kGrid);
    GridLines lines(p);
    // A view a few scans wide has a line at most every pixel.
    for (double v : axisTicks(t.v0 + t.shift, t.v1 + t.shift, t.minor, r.width() + 2)) {
        v -= t.shift;
        if (v >= t.v1 - 1e-9 * t.minor)
            break;
        const int x = t.xOf(v, r);
        if (!lit.isEmpty() && x >= lit.left() && x <= lit.right())
            lines.add(QRect(x, lit.top(), 1, lit.height()));
    }
}

void PlotRenderer::drawTimeLabels(QPainter &p, const QRect &area, const QRect &r, const QRect &dirty,
                                  const TimeTicks &t) const
{
    const QFontMetrics fm = p.fontMetrics();
    p.setBrush(Qt::NoBrush);
    p.setPen(kAxis);
    const int tDecimals = decimalsFor(t.step);
    const int labelTop = r.bottom() + 5 + digitalHeight(area);
    const double lastLabel = std::floor(t.v1 / t.step + 1e-9) * t.step;
    std::optional<QDate> lastDate;
    for (double v : axisTicks(t.v0 + t.shift, t.v1 + t.shift, t.step, r.width() + 2)) {
        v -= t.shift;
        const int x = t.xOf(v, r);
        // Wide enough for any label: a strip that misses it skips the text.
        const int most = t.charWidth * (t.clock ? 24 : 12);
        if (!t.clock && !QRect(x - most, labelTop, 2 * most, fm.height()).intersects(dirty))
            continue;
        QString text = t.clock ? clockLabel(v, t.step, lastDate) : numberText(v, tDecimals);
        if (!t.clock && std::fabs(v - lastLabel) < t.step / 2)
            text += QLatin1Char(' ') + timeAxis().unit;
        const int w = fm.horizontalAdvance(text) + 4;
        const int left = std::clamp(x - w / 2, area.left(), std::max(area.left(), area.right() + 1 - w));
        drawLabel(p, dirty, QRect(left, labelTop, w, fm.height()), Qt::AlignHCenter | Qt::AlignTop, text);
    }
}

void PlotRenderer::drawWallClock(QPainter &p, const QRect &area, const QRect &r, const QRect &dirty) const
{
    // The wall clock at both ends.
    const double sps = source_ ? source_->scansPerSecond() : 0.0;
    // Within milliseconds that 64 bits hold (a damaged file's run may not be).
    if (!startTime_ || !(sps > 0) || !(last_ / sps * 1000.0 < 1e18) || !(first_ / sps * 1000.0 > -1e18))
        return;
    const auto clock = [&](double scan) {
        return startTime_->addMSecs(static_cast<qint64>(std::llround(scan / sps * 1000.0)))
            .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    };
    const QFontMetrics fm = p.fontMetrics();
    const int labelTop = r.bottom() + 5 + digitalHeight(area);
    const QRect row(r.left(), labelTop + kRow, r.width(), fm.height());
    drawLabel(p, dirty, row, Qt::AlignLeft | Qt::AlignTop, clock(first_));
    drawLabel(p, dirty, row, Qt::AlignRight | Qt::AlignTop, clock(last_));
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

} // namespace adcard
