#pragma once
// The local time of a moment and its offset from UTC, which POSIX keeps in
// struct tm and Windows does not (local_time_posix.cpp, local_time_win32.cpp).
#include <ctime>

namespace adcard {

std::tm localTime(std::time_t t, long &utcOffsetSeconds);

} // namespace adcard
