#include "readout.h"


#include "checked.h"

#include <cmath>

namespace adcard {

float codeToVolts(int32_t code)
{
    // Done in 64 bits: exact for every 32-bit code, so it cannot overflow.
    const double diff = static_cast<double>(int64_t{code} - 2048);
    return static_cast<float>(diff / 4095.0 * 10.0);
}

bool computeReadout(const AcqSettings &settings, std::span<const int16_t> blockBuf,
                    std::array<int32_t, kMaxReadoutChannels> &codes,
                    std::array<float, kMaxReadoutChannels> &volts)
{
    const int32_t channels = settings.ChannelCount;
    const int32_t scans = settings.ScansPerBlock;
    if (channels < 1 || channels > kMaxReadoutChannels || scans < 1 || scans > kMaxReadoutScans)
        return false;
    const auto blockSamples = checkedMul32(channels, scans);
    if (!blockSamples || blockBuf.size() < static_cast<std::size_t>(*blockSamples) + 1)
        return false;

    // Scan-major walk: each channel is still summed in ascending scan order,
    // but the channels' sums form independent chains the CPU can overlap.
    std::array<float, kMaxReadoutChannels> sums{};
    const int16_t *sample = blockBuf.data() + 1;
    for (int32_t k = 0; k < scans; ++k)
        for (int32_t c = 0; c < channels; ++c)
            sums[c] += static_cast<float>(*sample++);

    for (int32_t c = 0; c < channels; ++c) {
        const double mean = static_cast<double>(sums[c]) / scans;
        // nearbyint rounds an exact half to the even neighbour.
        codes[c] = static_cast<int32_t>(std::nearbyint(mean));
        volts[c] = codeToVolts(codes[c]);
    }
    return true;
}

} // namespace adcard
