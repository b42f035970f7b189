#include "acquisition/readout.h"


#include "acquisition/checked.h"

#include <cmath>

namespace adcard {

namespace {

// Scan-major walk: each channel is still summed in ascending scan order as
// a 32-bit float, but the channels' sums are independent chains the CPU
// can overlap.
template <int Channels>
void sumChannels(const int16_t *sample, int32_t scans, std::array<float, kMaxReadoutChannels> &sums)
{
    float acc[Channels] = {};
    for (int32_t k = 0; k < scans; ++k, sample += Channels)
        for (int c = 0; c < Channels; ++c)
            acc[c] += static_cast<float>(sample[c]);
    for (int c = 0; c < Channels; ++c)
        sums[c] = acc[c];
}

void sumChannels(const int16_t *sample, int32_t channels, int32_t scans,
                 std::array<float, kMaxReadoutChannels> &sums)
{
    for (int32_t k = 0; k < scans; ++k)
        for (int32_t c = 0; c < channels; ++c)
            sums[c] += static_cast<float>(*sample++);
}

} // namespace

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

    std::array<float, kMaxReadoutChannels> sums{};
    const int16_t *block = blockBuf.data() + 1;
    switch (channels) {
    case 4: // the panel's own setting: keep the four sums in registers
        sumChannels<4>(block, scans, sums);
        break;
    default:
        sumChannels(block, channels, scans, sums);
    }

    for (int32_t c = 0; c < channels; ++c) {
        const double mean = static_cast<double>(sums[c]) / scans;
        // nearbyint rounds an exact half to the even neighbour.
        codes[c] = static_cast<int32_t>(std::nearbyint(mean));
        volts[c] = codeToVolts(codes[c]);
    }
    return true;
}

} // namespace adcard
