#pragma once
// When each block falls due, measured from the start of acquisition on the
// monotonic clock. Counting from the start rather than from the previous block
// means late wake-ups are caught up and never add up to drift.
#include <chrono>
#include <cstdint>

namespace adcard::sim {

class Pacing {
public:
    using Duration = std::chrono::nanoseconds;

    // `scanRate` scans per second, `scansPerBlock` >= 1, `speed` > 0.
    Pacing(int32_t scanRate, int32_t scansPerBlock, double speed);

    // Blocks owed after `elapsed`: floor(elapsed * rate * speed / scans).
    uint64_t blocksDue(Duration elapsed) const;
    // The earliest elapsed time at which block number `n` (from 1) is owed.
    Duration dueAt(uint64_t n) const;

private:
    long double periodNs_;
};

} // namespace adcard::sim
