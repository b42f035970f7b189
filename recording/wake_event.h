#pragma once
// What the writer thread sleeps on between flushes: it wakes when the tick
// sets it or when its deadline comes, whichever is first, sleeping in the
// system's own wait rather than polling. set() neither blocks nor takes a
// lock, so the tick may call it. One version per system
// (wake_event_posix.cpp, wake_event_win32.cpp).
#include <chrono>
#include <cstdint>

namespace adcard {

class WakeEvent {
public:
    using Clock = std::chrono::steady_clock;

    WakeEvent(); // std::system_error when the system has none to give
    ~WakeEvent();
    WakeEvent(const WakeEvent &) = delete;
    WakeEvent &operator=(const WakeEvent &) = delete;

    // Sets the event. A set before the wait is kept for it; sets that come
    // before the next wait count as one.
    void set();
    // True as soon as the event is set (it is then clear again), and now
    // and then without a set: the caller checks what it waits for. False
    // once `until` has passed with the event clear. Clock::time_point::max() waits
    // without a deadline.
    bool wait(Clock::time_point until);

private:
    std::intptr_t handle_;
};

} // namespace adcard
