#pragma once
// What each channel measures: a name, and a straight line from its volts to
// a unit of the operator's (a pressure sensor's bar, a thermocouple
// amplifier's °C). A recording states them; the review, its export and
// adcard-review show values in them. The panel's own captions stay in volts.
#include "data/calibration.h"

#include <cmath>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace adcard {

struct ChannelUnit {
    std::string name; // empty: "通道N"
    std::string unit = "V";
    double scale = 1.0;  // units per volt, not 0; < 0 for an inverting sensor
    double offset = 0.0; // the unit's value at 0 V

    bool operator==(const ChannelUnit &) const = default;
    // Plain volts, whatever the name.
    bool volts() const { return unit == "V" && scale == 1.0 && offset == 0.0; }
};

using ChannelUnits = std::vector<ChannelUnit>;

inline constexpr std::size_t kChannelTextBytes = 32; // a name's or a unit's longest, in UTF-8

// Channel `c` (from 0) as `units` describe it; volts where they say nothing.
inline ChannelUnit channelUnit(const ChannelUnits &units, int c)
{
    return c >= 0 && std::size_t(c) < units.size() ? units[std::size_t(c)] : ChannelUnit{};
}

// "压力" or, unnamed, "通道3".
std::string channelName(const ChannelUnits &units, int c);
// The name, with the unit where it is not plain volts: "压力 (bar)", "通道2".
std::string channelLabel(const ChannelUnits &units, int c);

// The codes' conversion straight to the channel's unit: the source's volts
// followed by the channel's line, folded into one, so that everything that
// converts with a Calibration (statistics, RMS, levels, spectra) works in
// the unit unchanged.
inline Calibration inUnit(const Calibration &volts, const ChannelUnit &u)
{
    const double scale = volts.scale * u.scale;
    return {volts.offset - u.offset / scale, scale};
}

// Why `u` cannot describe a channel, or nothing: a scale of 0 or beyond
// reason, or a text that does not fit the file's attributes. A negative
// scale is a channel's own: its highest code is its lowest value, so every
// range of codes turned into values swaps its ends (valueRange).
std::optional<std::string> unitProblem(const ChannelUnit &u);

// A unit that a file states is used only when it passes unitProblem(); the
// channel reads in volts otherwise.
ChannelUnits checkedUnits(ChannelUnits units);

// Decimals that show one code's step of `cal` and no more noise than that:
// 4 for the panel's volts.
int valueDecimals(const Calibration &cal);

} // namespace adcard
