#include "platform/local_time.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace adcard {

namespace {

constexpr int64_t kNsPerSecond = 1'000'000'000;
// 64-bit nanoseconds end in 2262 (and begin in 1677).
constexpr int64_t kMostSeconds = INT64_MAX / kNsPerSecond - 1;

// Days from 1970-01-01 of a civil date (proleptic Gregorian).
int64_t daysFromCivil(int y, int mo, int d)
{
    const int yy = y - (mo <= 2);
    const int era = (yy >= 0 ? yy : yy - 399) / 400;
    const int yoe = yy - era * 400;
    const int doy = (153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    return int64_t(era) * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
}

bool leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(int y, int mo)
{
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return mo == 2 && leap(y) ? 29 : kDays[mo - 1];
}

// Reads exactly `n` digits at `at`.
bool digits(const std::string &s, std::size_t &at, int n, int &value)
{
    value = 0;
    for (int i = 0; i < n; ++i, ++at) {
        if (at >= s.size() || s[at] < '0' || s[at] > '9')
            return false;
        value = value * 10 + (s[at] - '0');
    }
    return true;
}

bool expect(const std::string &s, std::size_t &at, const char *one_of)
{
    if (at >= s.size() || !std::strchr(one_of, s[at]))
        return false;
    ++at;
    return true;
}

// The offset at `at` to the end, in seconds east of UTC; nothing for
// anything but Z, ±HH:MM, ±HHMM or ±HH.
std::optional<long> offsetAt(const std::string &s, std::size_t at)
{
    if (at + 1 == s.size() && s[at] == 'Z')
        return 0L;
    if (at >= s.size() || (s[at] != '+' && s[at] != '-'))
        return std::nullopt;
    const long sign = s[at++] == '-' ? -1 : 1;
    int h = 0, m = 0;
    if (!digits(s, at, 2, h))
        return std::nullopt;
    if (at < s.size() && s[at] == ':')
        ++at;
    if (at < s.size() && !digits(s, at, 2, m))
        return std::nullopt;
    if (at != s.size() || h > 23 || m > 59)
        return std::nullopt;
    return sign * (h * 3600L + m * 60L);
}

} // namespace

std::string formatLocalTime(int64_t nsSinceEpoch, int decimals, bool utc)
{
    // Floor division, so times before 1970 keep a non-negative fraction.
    int64_t seconds = nsSinceEpoch / kNsPerSecond, ns = nsSinceEpoch % kNsPerSecond;
    if (ns < 0) {
        ns += kNsPerSecond;
        --seconds;
    }
    long offset = 0;
    std::tm tm{};
    if (utc) {
        const int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
        const int64_t secOfDay = seconds - days * 86400;
        // Civil date from days (the inverse of daysFromCivil).
        const int64_t z = days + 719468, era = (z >= 0 ? z : z - 146096) / 146097;
        const int64_t doe = z - era * 146097, yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
        const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
        const int64_t mo = mp < 10 ? mp + 3 : mp - 9;
        tm.tm_year = int(yoe + era * 400 + (mo <= 2) - 1900);
        tm.tm_mon = int(mo - 1);
        tm.tm_mday = int(doy - (153 * mp + 2) / 5 + 1);
        tm.tm_hour = int(secOfDay / 3600);
        tm.tm_min = int(secOfDay / 60 % 60);
        tm.tm_sec = int(secOfDay % 60);
    } else {
        tm = localTime(static_cast<std::time_t>(seconds), offset);
    }
    decimals = decimals < 0 ? 0 : decimals > 9 ? 9 : decimals;
    char fraction[16] = "";
    if (decimals > 0) {
        int64_t cut = ns;
        for (int i = decimals; i < 9; ++i)
            cut /= 10;
        std::snprintf(fraction, sizeof fraction, ".%0*lld", decimals, static_cast<long long>(cut));
    }
    const long offsetMinutes = offset / 60, absMinutes = std::labs(offsetMinutes);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%s%c%02ld:%02ld", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, fraction,
                  offsetMinutes < 0 ? '-' : '+', absMinutes / 60, absMinutes % 60);
    return text;
}

std::optional<int64_t> parseLocalTime(const std::string &s, bool utc)
{
    std::size_t at = 0;
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0;
    if (!digits(s, at, 4, y) || !expect(s, at, "-") || !digits(s, at, 2, mo) || !expect(s, at, "-") ||
        !digits(s, at, 2, d) || !expect(s, at, "T ") || !digits(s, at, 2, h) || !expect(s, at, ":") ||
        !digits(s, at, 2, mi) || !expect(s, at, ":") || !digits(s, at, 2, sec))
        return std::nullopt;
    if (mo < 1 || mo > 12 || d < 1 || d > daysInMonth(y, mo) || h > 23 || mi > 59 || sec > 60)
        return std::nullopt;
    int64_t frac = 0;
    if (at < s.size() && s[at] == '.') {
        const std::size_t start = ++at;
        for (int64_t scale = kNsPerSecond / 10; at < s.size() && s[at] >= '0' && s[at] <= '9'; ++at, scale /= 10)
            frac += (s[at] - '0') * scale;
        if (at == start)
            return std::nullopt;
    }
    const int64_t fields = daysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + sec;
    int64_t seconds = 0;
    if (at < s.size()) {
        const auto offset = offsetAt(s, at);
        if (!offset)
            return std::nullopt;
        seconds = fields - *offset;
    } else if (utc) {
        seconds = fields;
    } else {
        // The local time's offset at that moment, as the system's zone has it
        // (daylight saving included): the fields read as UTC, less the offset
        // there. A time skipped by a clock change lands an hour on.
        std::tm tm{};
        tm.tm_year = y - 1900;
        tm.tm_mon = mo - 1;
        tm.tm_mday = d;
        tm.tm_hour = h;
        tm.tm_min = mi;
        tm.tm_sec = sec;
        tm.tm_isdst = -1;
        const std::time_t t = std::mktime(&tm);
        if (t == static_cast<std::time_t>(-1) && !(y == 1969 && mo == 12 && d == 31))
            return std::nullopt;
        seconds = static_cast<int64_t>(t);
    }
    if (seconds < -kMostSeconds || seconds > kMostSeconds)
        return std::nullopt;
    return seconds * kNsPerSecond + frac;
}

} // namespace adcard
