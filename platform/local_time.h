#pragma once
// Wall-clock times as people read and type them: local time with its offset
// from UTC. The local time and offset of a moment come from the system
// (local_time_posix.cpp, local_time_win32.cpp); the text and its parsing are
// the same everywhere (local_time.cpp), for the windows and adcard-review.
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace adcard {

std::tm localTime(std::time_t t, long &utcOffsetSeconds);

// "2026-12-08T14:42:22.974+08:00": the moment in this machine's local time
// with its offset, or in UTC ("+00:00") when `utc`; `decimals` (0 to 9)
// digits of the second, cut rather than rounded, so that the text is never
// later than the moment.
std::string formatLocalTime(int64_t nsSinceEpoch, int decimals = 3, bool utc = false);

// Nanoseconds since 1970 of "YYYY-MM-DDTHH:MM:SS[.fraction][offset]" (a
// space may stand for the T), the offset being "Z", "+HH:MM", "+HHMM" or
// "+HH" (or with "-"). Without an offset the time is local, as `date` takes
// it, or UTC when `utc`. Nothing for any other text, a field out of range,
// or a moment past what 64-bit nanoseconds hold (1677 to 2262).
std::optional<int64_t> parseLocalTime(const std::string &text, bool utc = false);

} // namespace adcard
