// Prints CLOCK_MONOTONIC just before it turns into the program to measure
// (exec keeps the process), so a start-up time counts from the very exec and
// includes no launcher overhead, the same for every program measured.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <chrono>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: exec_timed program [args...]\n");
        return 2;
    }
    // steady_clock is CLOCK_MONOTONIC, the clock the measured program reads.
    const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    // Unbuffered: stdio buffers do not survive exec.
    char line[64];
    const int n = std::snprintf(line, sizeof line, "start %lld\n", static_cast<long long>(now.count()));
    if (n > 0 && write(STDOUT_FILENO, line, static_cast<size_t>(n)) != n)
        return 2;
    execvp(argv[1], argv + 1);
    std::fprintf(stderr, "exec_timed: %s: %s\n", argv[1], std::strerror(errno));
    return 127;
}
