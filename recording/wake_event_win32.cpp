#include "recording/wake_event.h"

#include <windows.h>

#include <algorithm>
#include <system_error>

namespace adcard {

namespace {
HANDLE handleOf(std::intptr_t h)
{
    return reinterpret_cast<HANDLE>(h);
}
} // namespace

// An auto-reset event: it stays set until a wait takes it.
WakeEvent::WakeEvent() : handle_(reinterpret_cast<std::intptr_t>(::CreateEventW(nullptr, FALSE, FALSE, nullptr)))
{
    if (handle_ == 0)
        throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(), "CreateEvent");
}

WakeEvent::~WakeEvent()
{
    ::CloseHandle(handleOf(handle_));
}

void WakeEvent::set()
{
    ::SetEvent(handleOf(handle_));
}

bool WakeEvent::wait(Clock::time_point until)
{
    for (;;) {
        DWORD ms = INFINITE;
        if (until != Clock::time_point::max()) {
            const auto left = until - Clock::now();
            if (left <= Clock::duration::zero())
                return ::WaitForSingleObject(handleOf(handle_), 0) == WAIT_OBJECT_0;
            // Rounded up, so as not to wake before the deadline; a wait
            // beyond the longest one that is not INFINITE is taken in parts.
            const auto want = std::chrono::ceil<std::chrono::milliseconds>(left).count();
            ms = static_cast<DWORD>(std::min<long long>(want, INFINITE - 1));
        }
        const DWORD r = ::WaitForSingleObject(handleOf(handle_), ms);
        if (r == WAIT_OBJECT_0)
            return true;
        if (r != WAIT_TIMEOUT) {
            // A wait that fails: taken as a wake-up, which the caller
            // checks as it checks any, at a pace that does not spin.
            ::Sleep(1);
            return true;
        }
    }
}

} // namespace adcard
