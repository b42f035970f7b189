// What reviewing a recording costs: opening it to the first frame of a whole
// run, redrawing after zoom and pan steps down to single samples, and the
// process's peak memory. A plain timer program, run on a file:
//   review_bench FILE [RUN] [COLUMNS] [-v]   (-v: every zoom step)
#include "recording/recording_reader_impl.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using namespace adcard;
using Clock = std::chrono::steady_clock;

namespace {

double msSince(Clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

long peakRssKiB()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

struct Steps {
    double worst = 0, total = 0;
    int count = 0;
    double last = 0;
    void add(double ms)
    {
        last = ms;
        worst = std::max(worst, ms);
        total += ms;
        ++count;
    }
};

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [RUN] [COLUMNS]\n", argv[0]);
        return 2;
    }
    const int number = argc > 2 ? std::atoi(argv[2]) : 1;
    const int columns = argc > 3 ? std::atoi(argv[3]) : 1920;
    const bool verbose = argc > 4 && std::string(argv[4]) == "-v";
    const long rssBefore = peakRssKiB();

    const auto t0 = Clock::now();
    std::string error;
    std::unique_ptr<RecordingReader> reader(openRecording(argv[1], &error));
    if (!reader) {
        std::fprintf(stderr, "%s: %s\n", argv[1], error.c_str());
        return 2;
    }
    (void)reader->runs();
    std::unique_ptr<RecordedRun> run = reader->openRun(number, error);
    if (!run) {
        std::fprintf(stderr, "%s: %s\n", argv[1], error.c_str());
        return 2;
    }
    const double openMs = msSince(t0);
    const int ch = run->channels();
    std::vector<ColumnSummary> out(std::size_t(columns) * std::size_t(ch));
    const double scans = double(run->scanCount());
    run->summarise(0, scans, columns, out);
    const double firstFrameMs = msSince(t0);

    auto frame = [&](double a, double b) {
        const auto t = Clock::now();
        run->summarise(a, b, columns, out);
        return msSince(t);
    };
    const double wholeAgainMs = frame(0, scans);

    // Zoom in by 2 around a point off the middle, down to a few scans per
    // screen, then out again; pan a tenth of the view at each zoom.
    Steps zoomIn, zoomOut, pan;
    const double centre = scans * 0.6180339;
    std::vector<double> widths;
    for (double w = scans; w >= columns / 8.0; w /= 2)
        widths.push_back(w);
    for (double w : widths) {
        const double a = std::clamp(centre - w / 2, 0.0, scans - w);
        zoomIn.add(frame(a, a + w));
        Steps here;
        for (int i = 1; i <= 10; ++i)
            here.add(frame(a + i * w / 10, a + w + i * w / 10));
        pan.worst = std::max(pan.worst, here.worst);
        pan.total += here.total;
        pan.count += here.count;
        if (verbose)
            std::printf("  width %14.1f scans: zoom %6.2f ms, pans worst %6.2f ms\n", w, zoomIn.last, here.worst);
    }
    for (auto it = widths.rbegin(); it != widths.rend(); ++it) {
        const double a = std::clamp(centre - *it / 2, 0.0, scans - *it);
        zoomOut.add(frame(a, a + *it));
    }

    const RecordedRunInfo &i = run->info();
    std::printf("file %s run %d: %lld blocks, %lld scans, %d channels, summaries ready %.0f%%\n", argv[1], number,
                static_cast<long long>(i.blocks), static_cast<long long>(i.scans), ch, run->summaryProgress() * 100);
    std::printf("open (reader, runs, run)       %8.2f ms\n", openMs);
    std::printf("open to first frame (%d cols) %8.2f ms\n", columns, firstFrameMs);
    std::printf("whole run again                %8.2f ms\n", wholeAgainMs);
    std::printf("zoom in  %2d steps: worst %6.2f ms, mean %6.2f ms\n", zoomIn.count, zoomIn.worst,
                zoomIn.total / zoomIn.count);
    std::printf("zoom out %2d steps: worst %6.2f ms, mean %6.2f ms\n", zoomOut.count, zoomOut.worst,
                zoomOut.total / zoomOut.count);
    std::printf("pan     %3d steps: worst %6.2f ms, mean %6.2f ms\n", pan.count, pan.worst, pan.total / pan.count);
    std::printf("peak RSS %ld KiB (%ld KiB before opening)\n", peakRssKiB(), rssBefore);
    return 0;
}
