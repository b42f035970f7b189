#pragma once
// Reduces the newest block to one code and one voltage per channel.
#include "acquisition/dlldef.h"

#include <array>
#include <cstdint>
#include <span>

namespace adcard {

inline constexpr int kMaxReadoutChannels = 33;
inline constexpr int32_t kMaxReadoutScans = 1001;

// Mean of each channel over BlockBuf elements 1..ChannelCount*ScansPerBlock
// (channel c of scan k at 1 + k*ChannelCount + c), summed as a 32-bit float in
// ascending scan order, rounded half to even into `codes`, converted to volts
// as (code - 2048) / 4095 * 10. Returns false, touching nothing, when the
// settings lie outside the readout's limits or the buffer is too short.
bool computeReadout(const AcqSettings &settings, std::span<const int16_t> blockBuf,
                    std::array<int32_t, kMaxReadoutChannels> &codes,
                    std::array<float, kMaxReadoutChannels> &volts);

float codeToVolts(int32_t code);

} // namespace adcard
