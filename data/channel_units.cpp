#include "data/channel_units.h"

#include <algorithm>

namespace adcard {

std::string channelName(const ChannelUnits &units, int c)
{
    const ChannelUnit u = channelUnit(units, c);
    return u.name.empty() ? "通道" + std::to_string(c + 1) : u.name;
}

std::string channelLabel(const ChannelUnits &units, int c)
{
    const ChannelUnit u = channelUnit(units, c);
    return channelName(units, c) + (u.volts() ? "" : " (" + u.unit + ")");
}

namespace {

// A name or unit goes into one line of a status bar, a CSV header and a
// terminal: no control characters, and it fits the file.
bool printable(std::string_view text)
{
    return text.size() <= kChannelTextBytes &&
           std::none_of(text.begin(), text.end(), [](char ch) { return static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f; });
}

} // namespace

std::optional<std::string> unitProblem(const ChannelUnit &u)
{
    if (!printable(u.name))
        return "名称过长或含控制字符（最多 " + std::to_string(kChannelTextBytes) + " 字节）";
    if (u.unit.empty())
        return std::string("单位不能为空");
    if (!printable(u.unit))
        return "单位过长或含控制字符（最多 " + std::to_string(kChannelTextBytes) + " 字节）";
    // An inverting amplifier's sensor has a negative scale; zero maps every
    // volt to one value and is no scale.
    if (!std::isfinite(u.scale) || std::fabs(u.scale) > 1e12 || std::fabs(u.scale) < 1e-12)
        return std::string("比例必须是非零的数，绝对值在 1e-12 … 1e12 之间");
    if (!std::isfinite(u.offset) || std::fabs(u.offset) > 1e12)
        return std::string("偏移必须是有限的数（绝对值不超过 1e12）");
    return std::nullopt;
}

ChannelUnits checkedUnits(ChannelUnits units)
{
    for (ChannelUnit &u : units)
        if (unitProblem(u))
            u = ChannelUnit{};
    return units;
}

int valueDecimals(const Calibration &cal)
{
    const double step = std::fabs(cal.scale);
    if (!(step > 0) || !std::isfinite(step))
        return 4;
    return std::clamp(int(std::ceil(-std::log10(step))) + 1, 0, 12);
}

} // namespace adcard
