#include "simcard/block_generator.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <numbers>

namespace adcard::sim {

namespace {

// Everything per sample is integer arithmetic: the phase of a channel is an
// index into one period of kSteps steps, advanced by a remainder count so
// that it equals floor(exact phase x kSteps) at every scan, and the sine is
// interpolated from a small table.
constexpr int kStepBits = 16;
constexpr int64_t kSteps = int64_t{1} << kStepBits;
constexpr int kTableBits = 10; // table points per period, as a power of two
constexpr int kFracBits = kStepBits - kTableBits;
constexpr int kSineBits = 30; // table values are sin x 2^30

// Channel c's period is (8 + c) / 4 seconds.
int64_t periodQuarterSeconds(int32_t channel) { return 8 + channel; }

uint64_t splitmix64(uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// One period of sin at 2^kTableBits points, plus the first point again.
using SineTable = std::array<int32_t, (1 << kTableBits) + 1>;

const SineTable &sineTable()
{
    static const auto table = [] {
        SineTable t{};
        for (std::size_t i = 0; i < t.size(); ++i) {
            const double turn = static_cast<double>(i) / (1 << kTableBits);
            t[i] = static_cast<int32_t>(std::lround(std::sin(2 * std::numbers::pi * turn) * (1 << kSineBits)));
        }
        return t;
    }();
    return table;
}

// The phase of one channel at one scan: card time t = scan / rate over a
// period of P / 4 seconds is the fraction (4 scan mod D) / D of a period,
// D = rate x P. `step` is floor of that fraction x kSteps, `rem` what is left.
class Phase {
public:
    Phase(int32_t rate, int32_t channel, uint64_t scan)
        : d_(int64_t{rate} * periodQuarterSeconds(channel))
    {
        assert(rate > 0);
        const auto d = static_cast<uint64_t>(d_);
        const auto units = static_cast<int64_t>((scan % d) * 4 % d); // < 2^37, times kSteps fits
        step_ = units * kSteps / d_;
        rem_ = units * kSteps % d_;
        stepInc_ = 4 * kSteps / d_;
        remInc_ = 4 * kSteps % d_;
    }
    int64_t step() const { return step_; }
    void next()
    {
        step_ += stepInc_;
        rem_ += remInc_;
        if (rem_ >= d_) {
            rem_ -= d_;
            ++step_;
        }
        step_ &= kSteps - 1;
    }

private:
    int64_t d_, step_, rem_, stepInc_, remInc_;
};

// kMidScale + amplitude x shape, rounded half up, for a phase step.
int32_t sineCode(const SineTable &t, int32_t a, int64_t step)
{
    const auto i = static_cast<std::size_t>(step >> kFracBits);
    const int64_t frac = step & ((1 << kFracBits) - 1);
    const int64_t s = t[i] + (((t[i + 1] - t[i]) * frac) >> kFracBits);
    return static_cast<int32_t>(((int64_t{kMidScale} << kSineBits) + a * s + (int64_t{1} << (kSineBits - 1))) >> kSineBits);
}

int32_t triangleCode(int32_t a, int64_t step) // 1 - 4 |phase - 1/2|
{
    const int64_t v = (kMidScale + a) * kSteps - a * std::abs(4 * step - 2 * kSteps);
    return static_cast<int32_t>((v + kSteps / 2) >> kStepBits);
}

int32_t squareCode(int32_t a, int64_t step) { return step < kSteps / 2 ? kMidScale + a : kMidScale - a; }

int32_t sawtoothCode(int32_t a, int64_t step) // 2 phase - 1
{
    const int64_t v = (kMidScale - a) * kSteps + 2 * a * step;
    return static_cast<int32_t>((v + kSteps / 2) >> kStepBits);
}

int16_t clampCode(int32_t v)
{
    return static_cast<int16_t>(std::clamp<int32_t>(v, 0, kFullScale));
}

int32_t shapeCode(Waveform w, int32_t a, int64_t step)
{
    switch (w) {
    case Waveform::Sine:
        return sineCode(sineTable(), a, step);
    case Waveform::Triangle:
        return triangleCode(a, step);
    case Waveform::Square:
        return squareCode(a, step);
    case Waveform::Sawtooth:
        return sawtoothCode(a, step);
    }
    return kMidScale;
}

// Channel `channel` of `scans` scans from `firstScan`, every `stride` samples.
template <typename Code>
void fillChannel(const SimBlockParams &p, int32_t channel, uint64_t firstScan, int16_t *out, std::size_t stride,
                 std::size_t scans, Code code)
{
    const int32_t a = channelAmplitude(channel);
    Phase phase(p.scanRate, channel, firstScan);
    for (std::size_t k = 0; k < scans; ++k, phase.next())
        out[k * stride] = clampCode(code(a, phase.step()));
}

// Counter-based, so any sample can be recomputed without replaying the rest:
// sample g takes the 16 bits at 16 x (g % 4) of the hash of g / 4, mapped
// onto -amplitude..amplitude.
void addNoise(uint64_t seed, uint64_t firstSample, int32_t amplitude, std::span<int16_t> out)
{
    const uint64_t key = splitmix64(seed);
    const auto span = static_cast<uint64_t>(2 * amplitude + 1);
    const auto add = [&](int16_t &v, uint64_t bits) {
        v = clampCode(v + static_cast<int32_t>(((bits & 0xFFFF) * span) >> 16) - amplitude);
    };
    const std::size_t n = out.size();
    uint64_t g = firstSample;
    std::size_t i = 0;
    // A word shared with the block before, the whole words, one shared with the next.
    if ((g & 3) != 0) {
        const uint64_t h = splitmix64(key ^ (g >> 2));
        for (; i < n && (g & 3) != 0; ++i, ++g)
            add(out[i], h >> (16 * (g & 3)));
    }
    for (; i + 4 <= n; i += 4, g += 4) {
        const uint64_t h = splitmix64(key ^ (g >> 2));
        add(out[i], h);
        add(out[i + 1], h >> 16);
        add(out[i + 2], h >> 32);
        add(out[i + 3], h >> 48);
    }
    if (i < n) {
        const uint64_t h = splitmix64(key ^ (g >> 2));
        for (; i < n; ++i, ++g)
            add(out[i], h >> (16 * (g & 3)));
    }
}

} // namespace

Waveform channelWaveform(int32_t channel) { return static_cast<Waveform>(channel % 4); }

// Amplitudes fall off with the channel number so that neighbouring channels
// look different; all stay inside the 12-bit range.
int32_t channelAmplitude(int32_t channel) { return 1800 - 50 * channel; }

// Periods of a few seconds: the mean of a 100 ms block moves visibly.
double channelPeriodSeconds(int32_t channel) { return static_cast<double>(periodQuarterSeconds(channel)) / 4; }

int16_t cleanSample(const SimBlockParams &p, int32_t channel, uint64_t scanIndex)
{
    const Phase phase(p.scanRate, channel, scanIndex);
    return clampCode(shapeCode(channelWaveform(channel), channelAmplitude(channel), phase.step()));
}

void generateBlock(const SimBlockParams &p, uint64_t sequence, std::span<int16_t> out)
{
    const auto channels = static_cast<std::size_t>(p.channelCount);
    const auto scans = static_cast<std::size_t>(p.scansPerBlock);
    assert(out.size() == channels * scans);
    const uint64_t firstScan = sequence * scans;
    const SineTable &table = sineTable();
    for (std::size_t c = 0; c < channels; ++c) {
        const auto ch = static_cast<int32_t>(c);
        int16_t *first = out.data() + c;
        switch (channelWaveform(ch)) {
        case Waveform::Sine:
            fillChannel(p, ch, firstScan, first, channels, scans,
                        [&table](int32_t a, int64_t step) { return sineCode(table, a, step); });
            break;
        case Waveform::Triangle:
            fillChannel(p, ch, firstScan, first, channels, scans,
                        [](int32_t a, int64_t step) { return triangleCode(a, step); });
            break;
        case Waveform::Square:
            fillChannel(p, ch, firstScan, first, channels, scans,
                        [](int32_t a, int64_t step) { return squareCode(a, step); });
            break;
        case Waveform::Sawtooth:
            fillChannel(p, ch, firstScan, first, channels, scans,
                        [](int32_t a, int64_t step) { return sawtoothCode(a, step); });
            break;
        }
    }
    if (p.noise > 0)
        addNoise(p.seed, firstScan * channels, p.noise, out);
    if (p.stampSequence && !out.empty()) {
        out[0] = static_cast<int16_t>(sequence & 0xFFF);
        if (channels >= 2)
            out[1] = static_cast<int16_t>((sequence >> 12) & 0xFFF);
    }
}

} // namespace adcard::sim
