// The recorder's sustained rate: 4000-sample blocks handed to its hook, written
// by its thread to a local HDF5 file (recorder_bench.h5 in the working
// directory) and flushed once per tick. The feeding side waits for the writer
// rather than letting the queue drop, so the figure is the writer's own.
#include "recording/recorder.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

using namespace adcard;

constexpr int kBlocksPerRun = 3000;

void BM_RecorderSustained(benchmark::State &state)
{
    const int perTick = static_cast<int>(state.range(0));
    const char *path = "recorder_bench.h5";
    AcqSettings s;
    s.IntrArg1 = 10;
    s.ScansPerBlock = 1000;
    s.ChannelCount = 4;
    s.IntrArg5 = 10000;
    s.IntrArg7 = 1;
    std::vector<int16_t> block(4000);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<int16_t>((i * 37) % 4096);

    // Blocks still unflushed, such that blocks and tick ends together never
    // fill the queue (the writer reports blocks per flushed tick).
    constexpr int64_t kRoom = static_cast<int64_t>(Recorder::kDefaultQueueBlocks) - 4;
    const int64_t maxUnflushed = kRoom * perTick / (perTick + 1) - perTick;

    for (auto _ : state) {
        Recorder rec;
        if (const std::string err = rec.arm(path, true, {"bench", "bench"}); !err.empty()) {
            state.SkipWithError(err.c_str());
            return;
        }
        rec.historyStarted(s);
        rec.acquisitionStarted(s);
        int16_t count = 0;
        for (int b = 1; b <= kBlocksPerRun; ++b) {
            while (b - 1 - rec.status().blocksWritten > maxUnflushed)
                std::this_thread::sleep_for(std::chrono::microseconds(50));
            block[0] = static_cast<int16_t>(b);
            rec.blockStored({block, (b - 1) % 20, b, b});
            if (b % perTick == 0)
                rec.tickEnded({static_cast<int16_t>(perTick), ++count, 0, perTick});
        }
        rec.stop();
        const RecorderStatus st = rec.status();
        if (st.blocksWritten != kBlocksPerRun || st.blocksDropped != 0) {
            state.SkipWithError(("written " + std::to_string(st.blocksWritten) + ", dropped " +
                                 std::to_string(st.blocksDropped) + " " + st.lastError)
                                    .c_str());
            return;
        }
        state.counters["file_MB"] = static_cast<double>(st.fileSize) / 1e6;
    }
    state.SetItemsProcessed(state.iterations() * kBlocksPerRun);
    std::remove(path);
}
BENCHMARK(BM_RecorderSustained)->ArgName("blocks_per_tick")->Arg(1)->Arg(10)->Arg(25)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
