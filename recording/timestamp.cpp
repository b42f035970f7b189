#include "recording/timestamp.h"

#include "platform/local_time.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace adcard {

std::string iso8601(const std::tm &local, long utcOffsetSeconds, int milliseconds)
{
    const long offsetMinutes = utcOffsetSeconds / 60;
    const long absMinutes = std::labs(offsetMinutes);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, milliseconds,
                  offsetMinutes < 0 ? '-' : '+', absMinutes / 60, absMinutes % 60);
    return text;
}

std::string iso8601Local(int64_t nsSinceEpoch)
{
    return formatLocalTime(nsSinceEpoch, 3);
}

int64_t wallClockNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

int64_t parseIso8601(const std::string &s)
{
    return parseLocalTime(s, true).value_or(0);
}

} // namespace adcard
