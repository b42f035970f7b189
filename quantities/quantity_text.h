#pragma once
// Durations and sizes as an operator writes them: a whole number and a unit.
//
//   durations  30s  10m (also 10min)  1h  1d
//   sizes      4096B  64KiB  500MiB  2GiB  1TiB   (powers of 1024)
//
// Decimal sizes (kB, MB, GB, TB) and bare numbers are refused, since "500MB"
// is read as 500×1000² by some tools and 500×1024² by others; the message
// names the binary spelling instead. Units are case-sensitive ("10M" could
// be minutes, months or mega). A space may stand between the number and its
// unit. A value beyond a signed 64-bit count of nanoseconds or bytes is
// refused rather than wrapped.
#include <cstdint>
#include <string>
#include <string_view>

namespace adcard::quantities {

// A value, or why the text is not one (a sentence fragment that quotes the
// text, for the caller to put after the option's name).
struct Reading {
    int64_t value = 0;
    std::string error; // empty: `value` holds
    bool ok() const { return error.empty(); }
};

inline constexpr int64_t kNsPerSecond = 1'000'000'000;
inline constexpr int64_t kMiB = 1024 * 1024;

// In nanoseconds.
Reading readDuration(std::string_view text);
// In bytes.
Reading readSize(std::string_view text);

// A split: a period (card time) or a file size, told apart by the unit;
// exactly one of the two is set when ok.
struct PeriodOrSize {
    int64_t ns = 0;
    int64_t bytes = 0;
    std::string error;
    bool ok() const { return error.empty(); }
};
PeriodOrSize readPeriodOrSize(std::string_view text);

// The shortest exact spelling: 3600 s is "1h", 90 s "90s", 600 s "10m".
// Empty for a duration that is not a positive whole number of seconds.
std::string durationText(int64_t ns);
// "500MiB", "2GiB", "1536KiB"; empty for a size that is not positive.
std::string sizeText(int64_t bytes);

} // namespace adcard::quantities
