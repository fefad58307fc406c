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

// The guard's look: every user's processes, another user's program read from its command line.
void BM_EveryUsersRunningBrowsers(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(winwarden::RunningBrowsers(std::nullopt));
    }
}
BENCHMARK(BM_EveryUsersRunningBrowsers)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
