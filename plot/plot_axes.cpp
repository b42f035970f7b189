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

} // namespace adcard
