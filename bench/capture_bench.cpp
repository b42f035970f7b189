// Events-only recording against continuous: the same acquisition (4 channels,
// 1000-scan blocks at 10,000 scans a second, a block a tick) with a capture
// rule armed that fires every 10 s (before 1 s, after 2 s), handed to the
// recorder through its hook as the panel does. Prints, per mode, the file's
// size and the CPU the whole process spent (the writer's thread included),
// and what the tick's side spent. Blocks are fed as fast as the writer
// takes them, never dropped.
//
//   capture_bench [BLOCKS]     (default 6000: ten minutes of card time)
#include "recording/recorder.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace adcard;

constexpr int kPauseMs = 2;
constexpr std::size_t kQueueBlocks = 4096;

double processCpu()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double threadCpu()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

struct Result {
    int64_t written = 0, dropped = 0, bytes = 0;
    double cpu = 0, tickCpu = 0, wall = 0;
};

Result run(bool eventsOnly, int blocks)
{
    const char *path = eventsOnly ? "capture_bench_events.h5" : "capture_bench_continuous.h5";
    AcqSettings s;
    s.IntrArg1 = 10;
    s.ScansPerBlock = 1000;
    s.ChannelCount = 4;
    s.IntrArg5 = 10000;
    s.IntrArg7 = 1;
    std::vector<int16_t> block(4000);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<int16_t>((i * 37) % 4096);
    // A queue deep enough for a sync (up to seconds on a busy disk) at this pace.
    Recorder rec(kQueueBlocks, std::chrono::milliseconds{1000});
    rec.rulesArmed(R"({"rules": [{"name": "门开", "when": {"input": {"port": 1, "bit": 3, "edge": "rising"}},
                     "then": {"capture": {"before_s": 1.0, "after_s": 2.0}}}]})");
    RecorderInfo info{"bench", "bench"};
    info.eventsOnly = eventsOnly;
    if (const std::string err = rec.arm(path, true, info); !err.empty()) {
        std::fprintf(stderr, "capture_bench: %s\n", err.c_str());
        std::exit(1);
    }
    const double cpu0 = processCpu(), tick0 = threadCpu();
    const auto wall0 = std::chrono::steady_clock::now();
    rec.historyStarted(s);
    rec.acquisitionStarted(s);
    RuleEvent e;
    e.rule = "门开";
    e.capture = true;
    e.beforeS = 1.0;
    e.afterS = 2.0;
    for (int b = 1; b <= blocks; ++b) {
        block[0] = static_cast<int16_t>(b);
        rec.blockStored({block, (b - 1) % 20, b, b});
        if (b % 100 == 50) { // every 10 s, mid-block
            e.scan = int64_t(b - 1) * 1000 + 500;
            e.value = 1;
            rec.ruleEvent(e);
        }
        rec.tickEnded({1, int16_t(b), 0, 1});
        // Faster than the card, slower than the writer: sleeping costs no
        // CPU, and a dropped block would spoil the comparison (it is printed).
        if (b % 8 == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(kPauseMs));
    }
    rec.acquisitionStopped(StopReason::Stop);
    const double tickCpu = threadCpu() - tick0;
    rec.stop();
    Result r;
    const RecorderStatus st = rec.status();
    r.written = st.blocksWritten;
    r.dropped = st.blocksDropped;
    r.bytes = st.fileSize;
    r.cpu = processCpu() - cpu0;
    r.tickCpu = tickCpu;
    r.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    std::remove(path);
    return r;
}

} // namespace

int main(int argc, char **argv)
{
    const int blocks = argc > 1 ? std::atoi(argv[1]) : 6000;
    if (blocks < 100) {
        std::fprintf(stderr, "usage: capture_bench [BLOCKS >= 100]\n");
        return 2;
    }
    std::printf("%d blocks of 4 x 1000 scans (%.0f s of card time), a capture (1 s before, 2 s after) every 10 s\n",
                blocks, blocks / 10.0);
    std::printf("mode         blocks_written  dropped  file_MB  cpu_s  cpu_us_per_block  tick_us_per_block  wall_s\n");
    for (const bool eventsOnly : {false, true}) {
        const Result r = run(eventsOnly, blocks);
        std::printf("%-12s %14lld %8lld %8.2f %6.2f %17.1f %18.1f %7.2f\n", eventsOnly ? "events-only" : "continuous",
                    (long long)r.written, (long long)r.dropped, double(r.bytes) / 1e6, r.cpu, r.cpu * 1e6 / blocks,
                    r.tickCpu * 1e6 / blocks, r.wall);
    }
    return 0;
}
