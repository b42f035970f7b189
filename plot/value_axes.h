#pragma once
// The plot's vertical scales, worked out without painting: which channels
// are read against which axis, in which unit, over which values, and where
// its labelled ticks go. Every trace is drawn through the axis it is read
// against, so that a number read off an axis is the trace's true value in
// its own unit:
//   - in lanes, each shown channel has a band and an axis of its own;
//   - overlaid, the channels of one unit share an axis whatever their
//     scales; two units get an axis each, the first at the left and the
//     second at the right; more than two cannot be read overlaid, and are
//     drawn in lanes (lanesForUnits says so).
// The view's vertical range is kept in the card's volts (-5 .. +5 V, or
// fitted), the same for every channel; an axis spans what its channels'
// volts range is in the unit, widened to hold all of them.
#include "data/channel_units.h"

#include <QRect>
#include <QString>

#include <string>
#include <vector>

namespace adcard {

struct ValueAxis {
    std::string unit = "V";
    double bottom = -5.0, top = 5.0; // the unit's values at the band's last and first row
    QRect band;                      // the rows it spans
    bool right = false;              // labelled at the plot's right
    std::vector<int> channels;       // drawn against it, from 0

    // The row of `value`, kept within the band.
    int yOf(double value) const;
};

struct ValueAxes {
    std::vector<ValueAxis> axes;
    std::vector<int> axisOf; // per channel: its axis, -1 where it is not shown
    bool lanes = false;          // a band per shown channel
    bool lanesForUnits = false;  // ... because overlaid they would need more than two units
    int distinctUnits = 0;       // among the shown channels

    // Channel c's axis, or null where it is not shown.
    const ValueAxis *of(int c) const
    {
        return c >= 0 && std::size_t(c) < axisOf.size() && axisOf[std::size_t(c)] >= 0
                   ? &axes[std::size_t(axisOf[std::size_t(c)])]
                   : nullptr;
    }
    bool rightAxis() const;
};

// The axes of `channels` channels (units as the source gives them, `shown`
// per channel, missing entries shown) in the plot rectangle `r`.
ValueAxes valueAxes(const ChannelUnits &units, int channels, const std::vector<bool> &shown, bool lanes,
                    double voltsBottom, double voltsTop, const QRect &r);

// Whether overlaid channels with these units need a second axis at the
// right (the plot keeps room for its labels).
bool needsRightAxis(const ChannelUnits &units, int channels, const std::vector<bool> &shown, bool lanes);

// The row at which channel c's trace shows `volts` (the card's volts).
int traceY(const ValueAxes &axes, const ChannelUnits &units, int c, double volts);

struct AxisTick {
    double value = 0; // in the axis' unit
    int y = 0;
    int textY = 0;    // the middle of its text: y, or moved into a lane at its edges
    QString text;     // "2.5 bar"
};

// The labelled ticks of an axis for text `lineHeight` pixels tall: round in
// the unit, at least three lines apart where that leaves three labels, and
// closer (never overlapping: four fifths of a line at least) where it would
// leave fewer; in a lane, the text
// of a tick at its edge is moved inside, clear of the next lane's.
std::vector<AxisTick> axisLabels(const ValueAxis &axis, int lineHeight, bool withinBand);
// The grid's finer lines between the labels, as values.
std::vector<double> axisGrid(const ValueAxis &axis, const std::vector<AxisTick> &labels);

} // namespace adcard
