#include "recording/timestamp.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace adcard {

std::string iso8601(const std::tm &local, int milliseconds)
{
    const long offsetMinutes = local.tm_gmtoff / 60;
    const long absMinutes = std::labs(offsetMinutes);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, milliseconds,
                  offsetMinutes < 0 ? '-' : '+', absMinutes / 60, absMinutes % 60);
    return text;
}

std::string iso8601Local(int64_t nsSinceEpoch)
{
    // Floor division, so times before 1970 keep a non-negative fraction.
    int64_t seconds = nsSinceEpoch / 1'000'000'000;
    int64_t ns = nsSinceEpoch % 1'000'000'000;
    if (ns < 0) {
        ns += 1'000'000'000;
        --seconds;
    }
    const auto t = static_cast<std::time_t>(seconds);
    std::tm local{};
    localtime_r(&t, &local);
    return iso8601(local, static_cast<int>(ns / 1'000'000));
}

int64_t wallClockNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace adcard
