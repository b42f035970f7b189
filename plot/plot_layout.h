#pragma once
// What the renderer's parts share of the picture's layout: the margins
// around the plot, the strip of the digital inputs, the grid's colours and
// the steps of "nice" axis labels. For the plot's own files only.
#include <QColor>
#include <QString>

#include <cmath>

namespace adcard::plot_layout {

// Around the plot: room for the volts' labels at the left, the time's below.
inline constexpr int kLeft = 60;
inline constexpr int kTop = 11;
inline constexpr int kRight = 13;
inline constexpr int kBottom = 27;
inline constexpr int kRow = 16;        // one line of small text under the axis
inline constexpr int kDigitalRow = 15; // one port in the digital strip

inline const QColor kGrid(224, 224, 224);
inline const QColor kAxis(96, 96, 96);

// The step of a "nice" sequence (1, 2, 5 or 1, 2.5, 5 times a power of ten)
// at least `least` long.
inline double niceStep(double least, bool quarter)
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
inline double minorStep(double step)
{
    const double p = std::pow(10.0, std::floor(std::log10(step) + 1e-9));
    const double m = step / p;
    return std::fabs(m - 2.0) < 1e-6 ? step / 2 : (std::fabs(m - 2.5) < 1e-6 ? step / 2.5 : step / 5);
}

inline int decimalsFor(double step)
{
    int d = 0;
    while (d < 9 && std::fabs(step * std::pow(10.0, d) - std::round(step * std::pow(10.0, d))) > 1e-6)
        ++d;
    return d;
}

// Clear of the lowest volts label, which is centred on the plot's bottom.
inline constexpr int kDigitalGap = 9;

inline QString numberText(double v, int decimals)
{
    if (std::fabs(v) < 1e-12)
        v = 0; // no "-0"
    return QString::number(v, 'f', decimals);
}

} // namespace adcard::plot_layout
