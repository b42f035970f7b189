#include "platform/local_time.h"

namespace adcard {

std::tm localTime(std::time_t t, long &utcOffsetSeconds)
{
    std::tm local{};
    localtime_r(&t, &local);
    utcOffsetSeconds = local.tm_gmtoff;
    return local;
}

} // namespace adcard
