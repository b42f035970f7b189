#pragma once
// Wall-clock times as the recording stores them.
#include <cstdint>
#include <ctime>
#include <string>

namespace adcard {

// `nsSinceEpoch` in the process's time zone, to the millisecond, with its
// offset: "2024-05-01T14:03:07.250+02:00" (formatLocalTime).
std::string iso8601Local(int64_t nsSinceEpoch);

int64_t wallClockNs();

// Nanoseconds since 1970 of a time as parseLocalTime takes it, UTC without
// an offset (as a file's start is stored); 0 when the text is not one.
int64_t parseIso8601(const std::string &text);

} // namespace adcard
