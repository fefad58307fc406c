// What one look at /proc for running browsers costs: the bridge source takes one at most
// every few seconds, on the monitor's thread.
#include "platform/browserprocesses.h"

#include <benchmark/benchmark.h>

namespace {

void BM_RunningBrowserFamilies(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(winwarden::RunningBrowserFamilies());
    }
}
BENCHMARK(BM_RunningBrowserFamilies)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
