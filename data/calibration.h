#pragma once
// How a source's codes become volts: (code - offset) * scale. A recording
// carries the calibration it was made with; nothing else converts.
#include <algorithm>
#include <cmath>

namespace adcard {

struct Calibration {
    double offset = 2048.0;
    double scale = 10.0 / 4095.0;

    double volts(double code) const { return (code - offset) * scale; }
    double codes(double volts) const { return volts / scale + offset; }
    // The RMS in volts of scans whose codes have this mean and RMS (from 0).
    double rmsVolts(double meanCode, double rmsCode) const
    {
        const double square = rmsCode * rmsCode - 2.0 * offset * meanCode + offset * offset;
        return std::fabs(scale) * std::sqrt(std::max(0.0, square));
    }
};

// The values of the codes from `lowCode` to `highCode`, lowest first: with a
// negative scale (an inverting sensor's unit) the highest code is the lowest
// value. Every range of codes shown as values goes through here.
struct ValueSpan {
    double low, high;
    double width() const { return high - low; }
};
inline ValueSpan valueSpan(const Calibration &cal, double lowCode, double highCode)
{
    const double a = cal.volts(lowCode), b = cal.volts(highCode);
    return {std::min(a, b), std::max(a, b)};
}

// The panel's card: 12-bit codes, 2048 at 0 V, 4095 steps over 10 V.
inline constexpr Calibration kPanelCalibration{};

} // namespace adcard
