#include "host/channel.h"

#include "platform/utf8_path.h"

#include <windows.h>

#include <io.h>

namespace adcard::host {

namespace {
HANDLE in = INVALID_HANDLE_VALUE;
HANDLE out = INVALID_HANDLE_VALUE;
} // namespace

bool openChannel()
{
    in = ::GetStdHandle(STD_INPUT_HANDLE);
    // A handle of our own: the C runtime's descriptor 1 is pointed at
    // standard error below, which closes the handle it had.
    if (!::DuplicateHandle(::GetCurrentProcess(), ::GetStdHandle(STD_OUTPUT_HANDLE), ::GetCurrentProcess(), &out, 0,
                           FALSE, DUPLICATE_SAME_ACCESS))
        return false;
    ::SetStdHandle(STD_OUTPUT_HANDLE, ::GetStdHandle(STD_ERROR_HANDLE));
    return ::_dup2(2, 1) == 0;
}

bool readExact(uint8_t *bytes, std::size_t n)
{
    while (n > 0) {
        DWORD got = 0;
        if (!::ReadFile(in, bytes, static_cast<DWORD>(n), &got, nullptr) || got == 0)
            return false;
        bytes += got;
        n -= got;
    }
    return true;
}

bool writeAll(const uint8_t *bytes, std::size_t n)
{
    while (n > 0) {
        DWORD put = 0;
        if (!::WriteFile(out, bytes, static_cast<DWORD>(n), &put, nullptr) || put == 0)
            return false;
        bytes += put;
        n -= put;
    }
    return true;
}

std::vector<std::string> arguments(int, char **) { return commandLine(); }

} // namespace adcard::host
