// What reviewing a recording costs: opening it to the first frame of a whole
// run, redrawing after zoom steps (by 2, down to single samples) and pan
// steps (a tenth of the view, ten at each zoom), and the peak memory. Each
// redraw is timed by the clock and by the thread's CPU time, which a busy
// machine does not inflate.
//   review_bench FILE [RUN] [COLUMNS] [-v]   (-v: every zoom step)
#include "recording/recording_reader_impl.h"

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using Clock = std::chrono::steady_clock;

static double msSince(Clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

static double cpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [RUN] [COLUMNS] [-v]\n", argv[0]);
        return 2;
    }
    const int number = argc > 2 ? std::atoi(argv[2]) : 1;
    const int columns = argc > 3 ? std::atoi(argv[3]) : 1920;
    const bool verbose = argc > 4 && std::string(argv[4]) == "-v";

    const auto t0 = Clock::now();
    std::string error;
    std::unique_ptr<adcard::RecordingReader> reader(adcard::openRecording(argv[1], &error));
    std::unique_ptr<adcard::RecordedRun> run;
    if (reader && !reader->runs().empty())
        run = reader->openRun(number, error);
    if (!run) {
        std::fprintf(stderr, "%s: %s\n", argv[1], error.c_str());
        return 2;
    }
    const double openMs = msSince(t0);
    std::vector<adcard::ColumnSummary> out(std::size_t(columns) * std::size_t(run->channels()));
    const double scans = double(run->scanCount());
    double cpuWorst = 0;
    auto frame = [&](double a, double b) {
        const auto t = Clock::now();
        const double c = cpuMs();
        run->summarise(a, b, columns, out);
        cpuWorst = std::max(cpuWorst, cpuMs() - c);
        return msSince(t);
    };
    frame(0, scans);
    const double firstFrameMs = msSince(t0);
    cpuWorst = 0;

    double zoomWorst = 0, panWorst = 0, total = 0;
    int steps = 0;
    const double centre = scans * 0.6180339;
    for (double w = scans; w >= columns / 8.0; w /= 2) {
        const double a = std::clamp(centre - w / 2, 0.0, scans - w);
        const double cpuBefore = cpuWorst;
        cpuWorst = 0;
        const double zoom = frame(a, a + w);
        double pan = 0;
        for (int i = 1; i <= 10; ++i)
            pan = std::max(pan, frame(a + i * w / 10, a + w + i * w / 10));
        zoomWorst = std::max(zoomWorst, zoom);
        panWorst = std::max(panWorst, pan);
        total += zoom + pan;
        steps += 11;
        if (verbose)
            std::printf("  width %14.1f scans: zoom %6.2f ms, pans worst %6.2f ms, CPU worst %6.2f ms\n", w, zoom, pan,
                        cpuWorst);
        cpuWorst = std::max(cpuWorst, cpuBefore);
    }

    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    const adcard::RecordedRunInfo &i = run->info();
    std::printf("%s run %d: %lld blocks, %lld scans, summaries ready %.0f%%\n", argv[1], number,
                static_cast<long long>(i.blocks), static_cast<long long>(i.scans), run->summaryProgress() * 100);
    std::printf("open %.2f ms, to first frame at %d columns %.2f ms\n", openMs, columns, firstFrameMs);
    std::printf("zoom steps worst %.2f ms, pan steps worst %.2f ms, %d redraws, mean %.2f ms, worst CPU %.2f ms\n",
                zoomWorst, panWorst, steps, total / steps, cpuWorst);
    std::printf("peak RSS %ld KiB\n", u.ru_maxrss);
    return 0;
}
