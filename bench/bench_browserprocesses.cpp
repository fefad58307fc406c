// What one look at /proc for running browsers costs: the bridge source takes one at most
// every few seconds, on the monitor's thread; the guard scans every process each cycle (every
// 2 s, all day) to find the browsers it cannot watch, which must stay under 5 ms for 2,000.
#include "platform/browserprocesses.h"
#include "platform/processscan.h"
#include "tests/support/fakeproc.h"

#include <QTemporaryDir>
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

// The guard's scan over a machine of state.range(0) processes: a desktop's worth of services
// and shells, and every twentieth process a browser of 20 (a main, its zygote, renderers whose
// title Chromium set itself, a Firefox's content processes), all written as /proc shows them.
void BM_ScanProcesses(benchmark::State& state) {
    using winwarden::test::Arguments;
    using winwarden::test::WriteFakeProcess;
    QTemporaryDir proc;
    const int count = int(state.range(0));
    bool written = WriteFakeProcess(proc.path(), 1, 0, 1, Arguments({"/sbin/init"}), 0);
    for (int pid = 2; pid <= count; ++pid) {
        const int group = pid / 20 * 20;
        const int role = pid - group;
        QByteArray arguments;
        pid_t parent = 1;
        if (group % 400 == 0 && role > 0) {
            arguments = role == 1 ? Arguments({"/opt/notes/notes", "--no-sandbox"})
                        : role == 2
                            ? Arguments({"/opt/notes/notes", "--type=zygote"})
                            : "/opt/notes/notes --type=renderer --lang=en --enable-crash-reporter" +
                                  QByteArray(200, '\0');
            parent = role == 1 ? 1 : role == 2 ? group + 1 : group + 2;
        } else if (group % 400 == 200 && role > 0) {
            arguments = role == 1 ? Arguments({"/usr/lib/firefox-esr/firefox-esr"})
                                  : Arguments({"/usr/lib/firefox-esr/firefox-esr", "-contentproc",
                                               "-childID", "1", "-isForBrowser", "tab"});
            parent = role == 1 ? 1 : group + 1;
        } else {
            arguments = Arguments({"/usr/lib/systemd/systemd-something", "--user", "--log=info"});
            parent = role == 0 ? 1 : group;
        }
        written = written && WriteFakeProcess(proc.path(), pid, parent, quint64(pid), arguments);
    }
    if (!written) {
        state.SkipWithError("the process folders could not be written");
        return;
    }
    // Scan after scan, as the guard does: one that knows nothing yet first.
    winwarden::ProcessScanner scanner(proc.path());
    size_t browsers = 0;
    for (auto _ : state) {
        browsers = scanner.Scan().browsers.size();
        benchmark::DoNotOptimize(browsers);
    }
    state.counters["browsers"] = double(browsers);
}
BENCHMARK(BM_ScanProcesses)->Arg(2000)->Unit(benchmark::kMillisecond);

// The first scan, which reads every process, as after the guard's start.
void BM_FirstScanOfThisMachine(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(winwarden::ScanProcesses());
    }
}
BENCHMARK(BM_FirstScanOfThisMachine)->Unit(benchmark::kMillisecond);

// Scan after scan over this machine's own /proc.
void BM_ScanThisMachine(benchmark::State& state) {
    winwarden::ProcessScanner scanner;
    for (auto _ : state) {
        benchmark::DoNotOptimize(scanner.Scan());
    }
}
BENCHMARK(BM_ScanThisMachine)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
