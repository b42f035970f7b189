#pragma once
// The channels' names and units the operator gave, kept between sessions in
// the user's settings, so that the next recording states them again.
#include "data/channel_units.h"

namespace adcard {

// `channels` entries; volts for a channel never set or set to something the
// program would refuse now.
ChannelUnits loadChannelUnits(int channels);
// Why they could not be kept, or nothing.
std::string saveChannelUnits(const ChannelUnits &units);

} // namespace adcard
