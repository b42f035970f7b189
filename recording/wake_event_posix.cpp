#include "recording/wake_event.h"

#include <sys/eventfd.h>

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace adcard {

// An eventfd: its counter keeps a set until a read takes it, and a read
// takes every set made so far.
WakeEvent::WakeEvent() : handle_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (handle_ < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
}

WakeEvent::~WakeEvent()
{
    ::close(static_cast<int>(handle_));
}

void WakeEvent::set()
{
    const uint64_t one = 1;
    // Fails only with the counter near 2^64, which is set all the same.
    (void)!::write(static_cast<int>(handle_), &one, sizeof one);
}

bool WakeEvent::wait(Clock::time_point until)
{
    const int fd = static_cast<int>(handle_);
    for (;;) {
        uint64_t count = 0;
        if (::read(fd, &count, sizeof count) == static_cast<ssize_t>(sizeof count))
            return true;
        timespec left{};
        const timespec *timeout = nullptr; // none: no deadline
        if (until != Clock::time_point::max()) {
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(until - Clock::now()).count();
            if (ns <= 0)
                return false;
            left.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
            left.tv_nsec = static_cast<long>(ns % 1'000'000'000);
            timeout = &left;
        }
        pollfd p{fd, POLLIN, 0};
        // A signal, the timeout or the event: the read above tells which.
        (void)::ppoll(&p, 1, timeout, nullptr);
    }
}

} // namespace adcard
