#pragma once
// A time zone for the length of a test: the local times the review prints
// are checked east of Greenwich, where UTC would show.
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace adcard::testing {

class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char *zone)
    {
        if (const char *tz = std::getenv("TZ"))
            old_ = tz;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ScopedTimeZone()
    {
        if (old_)
            ::setenv("TZ", old_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    ScopedTimeZone(const ScopedTimeZone &) = delete;
    ScopedTimeZone &operator=(const ScopedTimeZone &) = delete;

private:
    std::optional<std::string> old_;
};

} // namespace adcard::testing
