// One block of the simulated card at the panel's fixed settings (4 channels x
// 1000 scans), with and without noise: the card makes ten a second.
#include "simcard/block_generator.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

using namespace adcard::sim;

void BM_GenerateBlock(benchmark::State &state)
{
    const SimBlockParams p{4, 1000, 10000, 1, static_cast<int32_t>(state.range(0)), true};
    std::vector<int16_t> out(4000);
    uint64_t sequence = 0;
    for (auto _ : state) {
        generateBlock(p, sequence++, out);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 4000);
}
BENCHMARK(BM_GenerateBlock)->Arg(3)->Arg(0);

} // namespace

BENCHMARK_MAIN();
