#include "plot/value_axes.h"

#include "plot/plot_layout.h"
#include "plot/plot_renderer.h"

#include <algorithm>
#include <cmath>

namespace adcard {

using namespace plot_layout;

namespace {

bool isShown(const std::vector<bool> &shown, int c) { return std::size_t(c) >= shown.size() || shown[std::size_t(c)]; }

// The shown channels' units, each once, in the order of their first channel.
std::vector<std::string> unitsShown(const ChannelUnits &units, int channels, const std::vector<bool> &shown)
{
    std::vector<std::string> out;
    for (int c = 0; c < channels; ++c)
        if (isShown(shown, c) && std::find(out.begin(), out.end(), channelUnit(units, c).unit) == out.end())
            out.push_back(channelUnit(units, c).unit);
    return out;
}

// What the view's volts are in channel c's unit, lowest first (a scale may
// turn them round).
std::pair<double, double> unitRange(const ChannelUnit &u, double voltsBottom, double voltsTop)
{
    const double a = voltsBottom * u.scale + u.offset, b = voltsTop * u.scale + u.offset;
    return {std::min(a, b), std::max(a, b)};
}

// Lane `index` of `count` in r, with a pixel between lanes so that each
// trace keeps to its own.
QRect lane(const QRect &r, int index, int count)
{
    if (count <= 1)
        return r;
    const int top = r.top() + static_cast<int>(int64_t{r.height()} * index / count);
    const int bottom = r.top() + static_cast<int>(int64_t{r.height()} * (index + 1) / count);
    return QRect(r.left(), top + (index > 0 ? 1 : 0), r.width(), bottom - top - (index > 0 ? 1 : 0));
}

// The next finer step of the sequence 1, 2, 2.5, 5 times a power of ten.
double finerStep(double step)
{
    const double p = std::pow(10.0, std::floor(std::log10(step) + 1e-9));
    const double m = step / p;
    if (m > 4.9)
        return 2.5 * p;
    if (m > 2.4)
        return 2.0 * p;
    if (m > 1.9)
        return 1.0 * p;
    return 0.5 * p;
}

} // namespace

int ValueAxis::yOf(double value) const
{
    const double span = top - bottom;
    if (!(span > 0))
        return band.top() + (band.height() - 1) / 2;
    const double v = std::clamp(value, bottom, top);
    return band.top() + static_cast<int>(std::lround((top - v) / span * (band.height() - 1)));
}

bool ValueAxes::rightAxis() const
{
    return std::any_of(axes.begin(), axes.end(), [](const ValueAxis &a) { return a.right; });
}

bool needsRightAxis(const ChannelUnits &units, int channels, const std::vector<bool> &shown, bool lanes)
{
    return !lanes && unitsShown(units, channels, shown).size() == 2;
}

ValueAxes valueAxes(const ChannelUnits &units, int channels, const std::vector<bool> &shown, bool lanes,
                    double voltsBottom, double voltsTop, const QRect &r)
{
    ValueAxes out;
    out.axisOf.assign(static_cast<std::size_t>(std::max(channels, 0)), -1);
    std::vector<int> on;
    for (int c = 0; c < channels; ++c)
        if (isShown(shown, c))
            on.push_back(c);
    const std::vector<std::string> unitList = unitsShown(units, channels, shown);
    out.distinctUnits = static_cast<int>(unitList.size());
    out.lanes = on.size() > 1 && (lanes || unitList.size() > 2);
    out.lanesForUnits = out.lanes && !lanes;
    if (on.empty()) {
        out.axes.push_back({"V", voltsBottom, voltsTop, r, false, {}});
        return out;
    }
    if (out.lanes) {
        for (std::size_t i = 0; i < on.size(); ++i) {
            const ChannelUnit u = channelUnit(units, on[i]);
            const auto [lo, hi] = unitRange(u, voltsBottom, voltsTop);
            out.axes.push_back({u.unit, lo, hi, lane(r, int(i), int(on.size())), false, {on[i]}});
            out.axisOf[std::size_t(on[i])] = int(i);
        }
        return out;
    }
    for (std::size_t a = 0; a < unitList.size(); ++a) {
        ValueAxis axis{unitList[a], 0, 0, r, a == 1, {}};
        for (const int c : on) {
            const ChannelUnit u = channelUnit(units, c);
            if (u.unit != unitList[a])
                continue;
            const auto [lo, hi] = unitRange(u, voltsBottom, voltsTop);
            axis.bottom = axis.channels.empty() ? lo : std::min(axis.bottom, lo);
            axis.top = axis.channels.empty() ? hi : std::max(axis.top, hi);
            axis.channels.push_back(c);
            out.axisOf[std::size_t(c)] = int(a);
        }
        out.axes.push_back(std::move(axis));
    }
    return out;
}

int traceY(const ValueAxes &axes, const ChannelUnits &units, int c, double volts)
{
    const ValueAxis *axis = axes.of(c);
    if (!axis)
        return 0;
    const ChannelUnit u = channelUnit(units, c);
    return axis->yOf(volts * u.scale + u.offset);
}

std::vector<AxisTick> axisLabels(const ValueAxis &axis, int lineHeight, bool withinBand)
{
    const double span = axis.top - axis.bottom;
    const int rows = axis.band.height() - 1;
    // A lane lower than a line has no room for a label that is its own.
    if (!(span > 0) || rows < 1 || lineHeight < 1 || (withinBand && axis.band.height() < lineHeight))
        return {};
    const double pxPerUnit = rows / span;
    const int most = rows + 2;
    // A line holds its leading: digits a little closer than a line still
    // stand apart.
    const int closest = lineHeight * 4 / 5;
    // A lane's text stays within it: a tick at an edge has its text moved
    // inside, and is left unlabelled where that text would meet another.
    const auto build = [&](double step) {
        std::vector<AxisTick> inner, edge;
        const int decimals = std::max(1, decimalsFor(step));
        const QString suffix = QStringLiteral(" ") + QString::fromStdString(axis.unit);
        const int high = axis.band.top() + lineHeight / 2;
        const int low = std::max(high, axis.band.bottom() + 1 - (lineHeight - lineHeight / 2));
        for (const double v : axisTicks(axis.bottom, axis.top, step, most)) {
            const int y = axis.yOf(v);
            const int textY = withinBand ? std::clamp(y, high, low) : y;
            (textY == y ? inner : edge).push_back({v, y, textY, numberText(v, decimals) + suffix});
        }
        for (const AxisTick &t : edge)
            if (std::all_of(inner.begin(), inner.end(), [&](const AxisTick &o) { return std::abs(o.textY - t.textY) >= closest; }))
                inner.push_back(t);
        std::sort(inner.begin(), inner.end(), [](const AxisTick &x, const AxisTick &y) { return x.value < y.value; });
        return inner;
    };
    // Three lines apart leaves a short lane one label, which is no scale:
    // closer then, as long as no two labels overlap.
    double step = niceStep(3.0 * lineHeight / pxPerUnit, true);
    std::vector<AxisTick> best = build(step);
    while (best.size() < 3) {
        step = finerStep(step);
        if (step * pxPerUnit < closest)
            break;
        if (std::vector<AxisTick> closer = build(step); closer.size() > best.size())
            best = std::move(closer);
    }
    return best;
}

std::vector<double> axisGrid(const ValueAxis &axis, const std::vector<AxisTick> &labels)
{
    if (labels.size() < 2)
        return {};
    const double step = labels[1].value - labels[0].value;
    const double pxPerUnit = (axis.band.height() - 1) / (axis.top - axis.bottom);
    const double minor = minorStep(step) * pxPerUnit >= 8 ? minorStep(step) : step;
    return axisTicks(axis.bottom, axis.top, minor, axis.band.height() + 2);
}

} // namespace adcard
