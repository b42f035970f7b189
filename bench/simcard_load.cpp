// Drives a card driver library the way the panel does, for CPU and memory
// figures: Initial and StartIntr with the panel's settings, then every 100 ms
// fetch all waiting blocks, for the given number of seconds.
//
//   simcard_load <path to libadcard.so> [seconds, default 30]
//
// Prints the process's CPU share and, apart, the card's own: the CPU spent
// inside the fetching calls plus that of any thread the driver runs.
//
// Measure with: /usr/bin/time -v simcard_load build/default/simcard/libadcard.so 30
#include "driver/loader.h"

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

namespace {

double threadCpuSeconds()
{
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// CPU of every thread of this process but the calling one: a driver's own
// threads, if it has any.
double otherThreadsCpuSeconds()
{
    double total = 0;
    const auto self = std::to_string(::gettid());
    for (const auto &task : std::filesystem::directory_iterator("/proc/self/task")) {
        if (task.path().filename() == self)
            continue;
        std::ifstream in(task.path() / "schedstat");
        unsigned long long ns = 0;
        if (in >> ns)
            total += static_cast<double>(ns) / 1e9;
    }
    return total;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s <driver library> [seconds]\n", argv[0]);
        return 2;
    }
    const int seconds = argc == 3 ? std::atoi(argv[2]) : 30;
    if (seconds <= 0) {
        std::fprintf(stderr, "seconds must be a positive integer\n");
        return 2;
    }

    adcard::DriverLoader drv(argv[1]);
    constexpr int16_t channels = 4;
    constexpr int32_t scans = 1000;
    if (drv.Initial(320, 5, 0, 0) == 0 || drv.StartIntr(10, scans, 0, channels, 10000, 0, 1) == 0) {
        std::fprintf(stderr, "start failed: Error=%d\n", drv.GetLastADError());
        return 1;
    }

    std::vector<int16_t> buf(channels * scans + 2);
    long received = 0, failed = 0;
    int mostWaiting = 0;
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    double inCalls = 0;
    for (auto tick = start + std::chrono::milliseconds(100); tick <= end; tick += std::chrono::milliseconds(100)) {
        std::this_thread::sleep_until(tick);
        const double before = threadCpuSeconds();
        const int waiting = drv.QueryBuf();
        mostWaiting = waiting > mostWaiting ? waiting : mostWaiting;
        for (int i = 0; i < waiting; ++i)
            (drv.ADResult(buf.data()) == 1 ? received : failed) += 1;
        inCalls += threadCpuSeconds() - before;
    }
    const double ownThreads = otherThreadsCpuSeconds();
    drv.StopIntr();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("blocks received %ld, failed %ld, most waiting at a tick %d, in %.3f s\n", received, failed,
                mostWaiting, wall);

    // The same figures as time -v, with microsecond CPU times.
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    const double cpu = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                       static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    std::printf("cpu %.6f s (user+sys) = %.4f %% of one core; max rss %ld KiB\n", cpu, 100 * cpu / wall,
                ru.ru_maxrss);
    // The card's own share, without this loop's waking and the start-up:
    // the time inside QueryBuf and ADResult plus any thread of the driver's.
    std::printf("card %.6f s = %.4f %% of one core (%.6f s inside QueryBuf and ADResult, %.6f s in its own threads)\n",
                inCalls + ownThreads, 100 * (inCalls + ownThreads) / wall, inCalls, ownThreads);
    return 0;
}
