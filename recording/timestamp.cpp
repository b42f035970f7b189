#include "recording/timestamp.h"

#include "platform/local_time.h"

#include <cctype>
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
    // Floor division, so times before 1970 keep a non-negative fraction.
    int64_t seconds = nsSinceEpoch / 1'000'000'000;
    int64_t ns = nsSinceEpoch % 1'000'000'000;
    if (ns < 0) {
        ns += 1'000'000'000;
        --seconds;
    }
    const auto t = static_cast<std::time_t>(seconds);
    long offset = 0;
    const std::tm local = localTime(t, offset);
    return iso8601(local, offset, static_cast<int>(ns / 1'000'000));
}

int64_t wallClockNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Nanoseconds since 1970 of "YYYY-MM-DDTHH:MM:SS[.fff][+HH:MM|Z]"; 0 when
// the text is not like that.
int64_t parseIso8601(const std::string &s)
{
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0, n = 0;
    if (std::sscanf(s.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &y, &mo, &d, &h, &mi, &sec, &n) < 6 || mo < 1 ||
        mo > 12 || d < 1 || d > 31)
        return 0;
    std::size_t at = std::size_t(n);
    int64_t frac = 0;
    if (at < s.size() && s[at] == '.') {
        int64_t scale = 1000000000;
        for (++at; at < s.size() && std::isdigit(static_cast<unsigned char>(s[at])); ++at)
            if (scale /= 10; scale > 0)
                frac += (s[at] - '0') * scale;
    }
    int64_t offset = 0;
    if (at < s.size() && (s[at] == '+' || s[at] == '-')) {
        int oh = 0, om = 0;
        if (std::sscanf(s.c_str() + at + 1, "%2d:%2d", &oh, &om) == 2)
            offset = (s[at] == '-' ? -1 : 1) * (oh * 3600 + om * 60);
    }
    // Days from the civil date (proleptic Gregorian).
    const int yy = y - (mo <= 2);
    const int era = (yy >= 0 ? yy : yy - 399) / 400;
    const int yoe = yy - era * 400;
    const int doy = (153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t days = int64_t(era) * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
    const int64_t seconds = days * 86400 + h * 3600 + mi * 60 + sec - offset;
    // Nanoseconds in 64 bits end in 2262 (and begin in 1677): unknown past that.
    constexpr int64_t kMostSeconds = INT64_MAX / 1000000000 - 1;
    if (seconds < -kMostSeconds || seconds > kMostSeconds)
        return 0;
    return seconds * 1000000000 + frac;
}

} // namespace adcard
