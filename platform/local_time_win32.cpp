#include "platform/local_time.h"

namespace adcard {

std::tm localTime(std::time_t t, long &utcOffsetSeconds)
{
    std::tm local{};
    localtime_s(&local, &t);
    // The local fields read as if they were UTC, less the moment itself.
    std::tm copy = local;
    utcOffsetSeconds = static_cast<long>(_mkgmtime(&copy) - t);
    return local;
}

} // namespace adcard
