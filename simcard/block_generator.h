#pragma once
// The samples of one block as a pure function of the acquisition settings and
// the block's sequence number, so that a test can recompute exactly the block
// the card must have delivered.
#include <cstdint>
#include <span>

namespace adcard::sim {

inline constexpr int16_t kMidScale = 2048;
inline constexpr int16_t kFullScale = 4095;

struct SimBlockParams {
    int32_t channelCount = 4;
    int32_t scansPerBlock = 1000;
    int32_t scanRate = 10000; // scans per second of card time
    uint64_t seed = 1;
    int32_t noise = 3;         // peak noise in codes, 0 for exact values
    bool stampSequence = false; // sequence number in the first scan
};

enum class Waveform { Sine, Triangle, Square, Sawtooth };

// Channel c carries waveform c % 4 with its own amplitude and period.
Waveform channelWaveform(int32_t channel);
int32_t channelAmplitude(int32_t channel);
double channelPeriodSeconds(int32_t channel);

// The noise-free value of `channel` at card time `scanIndex` / scanRate.
int16_t cleanSample(const SimBlockParams &p, int32_t channel, uint64_t scanIndex);

// Fills `out` (channelCount x scansPerBlock samples, channel c of scan k at
// k * channelCount + c) with block number `sequence`, counted from 0 at start.
// With stampSequence, channel 0 of scan 0 holds sequence & 0xFFF and, with two
// or more channels, channel 1 of scan 0 holds (sequence >> 12) & 0xFFF.
void generateBlock(const SimBlockParams &p, uint64_t sequence, std::span<int16_t> out);

} // namespace adcard::sim
