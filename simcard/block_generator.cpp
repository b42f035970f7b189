#include "simcard/block_generator.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <numbers>

namespace adcard::sim {

namespace {

uint64_t splitmix64(uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// Counter-based, so any sample can be recomputed without replaying the rest.
int32_t noiseAt(uint64_t seed, uint64_t sampleIndex, int32_t amplitude)
{
    if (amplitude <= 0)
        return 0;
    const uint64_t span = 2 * static_cast<uint64_t>(amplitude) + 1;
    const uint64_t h = splitmix64(splitmix64(seed) ^ sampleIndex);
    return static_cast<int32_t>(h % span) - amplitude;
}

// One period of each waveform over phase 0..1, in -1..1.
double shape(Waveform w, double phase)
{
    switch (w) {
    case Waveform::Sine:
        return std::sin(2.0 * std::numbers::pi * phase);
    case Waveform::Triangle:
        return 1.0 - 4.0 * std::abs(phase - 0.5);
    case Waveform::Square:
        return phase < 0.5 ? 1.0 : -1.0;
    case Waveform::Sawtooth:
        return 2.0 * phase - 1.0;
    }
    return 0.0;
}

int16_t clampCode(int64_t v)
{
    return static_cast<int16_t>(std::clamp<int64_t>(v, 0, kFullScale));
}

} // namespace

Waveform channelWaveform(int32_t channel) { return static_cast<Waveform>(channel % 4); }

// Amplitudes fall off with the channel number so that neighbouring channels
// look different; all stay inside the 12-bit range.
int32_t channelAmplitude(int32_t channel) { return 1800 - 50 * channel; }

// Periods of a few seconds: the mean of a 100 ms block moves visibly.
double channelPeriodSeconds(int32_t channel) { return 2.0 + 0.25 * channel; }

int16_t cleanSample(const SimBlockParams &p, int32_t channel, uint64_t scanIndex)
{
    const double t = static_cast<double>(scanIndex) / p.scanRate;
    const double period = channelPeriodSeconds(channel);
    const double phase = t / period - std::floor(t / period);
    const double v = kMidScale + channelAmplitude(channel) * shape(channelWaveform(channel), phase);
    return clampCode(std::llround(v));
}

void generateBlock(const SimBlockParams &p, uint64_t sequence, std::span<int16_t> out)
{
    const auto channels = static_cast<uint64_t>(p.channelCount);
    const auto scans = static_cast<uint64_t>(p.scansPerBlock);
    assert(out.size() == channels * scans);
    const uint64_t firstScan = sequence * scans;
    for (uint64_t k = 0; k < scans; ++k) {
        for (uint64_t c = 0; c < channels; ++c) {
            const uint64_t i = k * channels + c;
            const int32_t ch = static_cast<int32_t>(c);
            out[i] = clampCode(int64_t{cleanSample(p, ch, firstScan + k)} +
                               noiseAt(p.seed, firstScan * channels + i, p.noise));
        }
    }
    if (p.stampSequence && !out.empty()) {
        out[0] = static_cast<int16_t>(sequence & 0xFFF);
        if (channels >= 2)
            out[1] = static_cast<int16_t>((sequence >> 12) & 0xFFF);
    }
}

} // namespace adcard::sim
