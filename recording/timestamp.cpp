#include "recording/timestamp.h"

#include "platform/local_time.h"

#include <chrono>

namespace adcard {

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
