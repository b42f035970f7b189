#include "simcard/pacing.h"

#include <algorithm>
#include <cmath>

namespace adcard::sim {

namespace {
// Far enough to mean "never", near enough that adding it to a steady_clock
// time point cannot overflow.
constexpr long double kNeverNs = 1e18L;
} // namespace

Pacing::Pacing(int32_t scanRate, int32_t scansPerBlock, double speed)
    : periodNs_(static_cast<long double>(scansPerBlock) * 1e9L /
                (static_cast<long double>(scanRate) * static_cast<long double>(speed)))
{
}

Pacing::Duration Pacing::dueAt(uint64_t n) const
{
    const long double ns = std::ceil(static_cast<long double>(n) * periodNs_);
    return Duration(static_cast<Duration::rep>(std::min(ns, kNeverNs)));
}

uint64_t Pacing::blocksDue(Duration elapsed) const
{
    if (elapsed.count() <= 0)
        return 0;
    const long double estimate = std::floor(static_cast<long double>(elapsed.count()) / periodNs_);
    if (estimate >= kNeverNs)
        return static_cast<uint64_t>(kNeverNs);
    // dueAt() is the reference; the division may be off by one either way.
    auto n = static_cast<uint64_t>(estimate);
    while (n > 0 && dueAt(n) > elapsed)
        --n;
    while (dueAt(n + 1) <= elapsed)
        ++n;
    return n;
}

} // namespace adcard::sim
