// Drives a card driver library the way the panel does, for CPU and memory
// figures: Initial and StartIntr with the panel's settings, then every 100 ms
// fetch all waiting blocks, for the given number of seconds.
//
//   simcard_load <path to libadcard.so> [seconds, default 30]
//
// Measure with: /usr/bin/time -v simcard_load build/default/simcard/libadcard.so 30
#include "driver/loader.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

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
    for (auto tick = start + std::chrono::milliseconds(100); tick <= end; tick += std::chrono::milliseconds(100)) {
        std::this_thread::sleep_until(tick);
        const int waiting = drv.QueryBuf();
        mostWaiting = waiting > mostWaiting ? waiting : mostWaiting;
        for (int i = 0; i < waiting; ++i)
            (drv.ADResult(buf.data()) == 1 ? received : failed) += 1;
    }
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
    return 0;
}
