#pragma once
// The simulated card's settings, taken from ADCARD_SIM_* environment
// variables (listed in README.md). Parsing is separate from the environment
// so that every rule can be tested without touching the process state.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace adcard::sim {

inline constexpr uint64_t kDefaultSeed = 1;
inline constexpr int32_t kDefaultNoise = 3;
inline constexpr int32_t kDefaultQueueBlocks = 64;
// QueryBuf answers in 16 bits.
inline constexpr int32_t kMaxQueueBlocks = 32767;
inline constexpr int32_t kMaxNoise = 2047;
inline constexpr double kMaxSpeed = 1e6;

struct SimConfig {
    std::optional<int32_t> failInitial;   // Initial fails with this code
    std::optional<int32_t> failStartIntr; // StartIntr fails with this code
    uint32_t failADResultEvery = 0;       // every n-th transfer fails; 0 = never
    uint32_t crashAtADResult = 0;         // the n-th transfer crashes the process; 0 = never
    double speed = 1.0;                   // clock speed-up of the pacing
    uint64_t seed = kDefaultSeed;
    int32_t noise = kDefaultNoise; // peak noise in codes
    int32_t queueBlocks = kDefaultQueueBlocks;
    bool sequence = false;  // stamp each block with its sequence number
    std::string statsPath; // empty = no statistics file
};

// Returns the value of a variable, or null when it is not set.
using EnvLookup = std::function<const char *(const char *name)>;

// An unset or empty variable keeps its default silently; an invalid value
// keeps the default and adds one line to `warnings`.
SimConfig parseSimConfig(const EnvLookup &lookup, std::vector<std::string> &warnings);

// Reads the process environment and prints each warning as one stderr line.
SimConfig readSimConfig();

} // namespace adcard::sim
