#include "host/channel.h"

#include <unistd.h>

#include <cerrno>

namespace adcard::host {

namespace {
int out = -1;
}

bool openChannel()
{
    out = ::dup(1);
    return out >= 0 && ::dup2(2, 1) == 1;
}

bool readExact(uint8_t *bytes, std::size_t n)
{
    while (n > 0) {
        const ssize_t r = ::read(0, bytes, n);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        bytes += r;
        n -= static_cast<std::size_t>(r);
    }
    return true;
}

bool writeAll(const uint8_t *bytes, std::size_t n)
{
    while (n > 0) {
        const ssize_t r = ::write(out, bytes, n);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        bytes += r;
        n -= static_cast<std::size_t>(r);
    }
    return true;
}

std::vector<std::string> arguments(int argc, char **argv) { return {argv, argv + argc}; }

} // namespace adcard::host
