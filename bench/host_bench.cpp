// Round trips through the driver host beside the same calls in process:
// QueryBuf, and ADResult handing over a 4000-sample block (the simulated
// card, sped up so that a block always waits).
//
//   host_bench [--benchmark_repetitions=N]
#include "driver/host_driver.h"
#include "driver/loader.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace {

std::unique_ptr<adcard::DriverBackend> started(bool viaHost)
{
    ::setenv("ADCARD_SIM_SPEED", "1000000", 1);
    std::unique_ptr<adcard::DriverBackend> d;
    if (viaHost) {
        adcard::HostOptions o;
        o.command = {ADPANEL_HOST};
        o.library = ADCARD_SIM_LIBRARY;
        d = std::make_unique<adcard::HostDriver>(o);
    } else {
        d = std::make_unique<adcard::DriverLoader>(ADCARD_SIM_LIBRARY);
    }
    if (d->Initial(320, 5, 0, 0) == 0 || d->StartIntr(10, 1000, 0, 4, 10000, 0, 1) == 0)
        std::abort();
    return d;
}

void BM_QueryBuf(benchmark::State &state)
{
    auto d = started(state.range(0) != 0);
    for (auto _ : state)
        benchmark::DoNotOptimize(d->QueryBuf());
    d->StopIntr();
}

void BM_ADResult(benchmark::State &state)
{
    auto d = started(state.range(0) != 0);
    std::vector<int16_t> buffer(4002);
    for (auto _ : state)
        if (d->ADResult(buffer.data()) != 1)
            state.SkipWithError("no block waiting");
    d->StopIntr();
}

// Argument 0: in process; 1: through adcard-host.
BENCHMARK(BM_QueryBuf)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ADResult)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
