// What the daily allowances add to a cycle with 1,000 open tabs (goal: under 0.1 ms): the tabs
// in front picked out of the pass, each person's time counted against 100 rules with an
// allowance (99 网站 rules, one 全部网页), and each tab's person and rule looked up, as the
// verdict of a page an allowance rule decides does. 50 people, each with one tab in front; the
// clock moves 2 s a cycle. The whole cycle with allowances is BM_MonitorCycleAllowances in
// bench_monitor.
#include "engine/allowancemeter.h"
#include "match/normalize.h"
#include "survey/browsersource.h"

#include <benchmark/benchmark.h>

using namespace winwarden;

namespace {

constexpr int kTabs = 1'000;
constexpr int kPeople = 50;
constexpr int kRules = 100;

void BM_AllowanceAccounting(benchmark::State& state) {
    std::vector<AllowanceRule> rules;
    for (int i = 0; i < kRules; ++i) {
        const bool allWeb = i == kRules - 1;
        MatchRule rule{i + 1, allWeb ? MatchRule::Kind::AllWeb : MatchRule::Kind::Site,
                       allWeb ? QStringLiteral("所有网页")
                              : QStringLiteral("site%1.example").arg(i),
                       true, 60};
        rules.push_back({rule, Schedule{kEveryDay, {}, 60}, allWeb ? QString() : rule.text});
    }
    std::vector<BrowserWindow> tabs;
    for (int i = 0; i < kTabs; ++i) {
        BrowserWindow tab{BrowserWindow::Kind::HtmlDocument,
                          QStringLiteral("页面 %1").arg(i),
                          QStringLiteral("https://www.site%1.example/path?q=%1").arg(i % 200),
                          {-1, QStringLiteral("bench"), QString::number(i)},
                          QStringLiteral("chromium"),
                          1000 + i % kPeople};
        tab.inFront = i < kPeople;
        tabs.push_back(tab);
    }
    AllowanceMeter meter;
    meter.SetRules(std::move(rules));
    qint64 monotonic = 0;
    QDateTime wall(QDate(2026, 12, 7), QTime(8, 0));
    qint64 blocked = 0;
    for (auto _ : state) {
        std::vector<FrontPage> front;
        for (const BrowserWindow& tab : tabs) {
            if (tab.inFront.value_or(false)) {
                if (QString host = PageHost(tab.url); !host.isEmpty())
                    front.push_back({tab.uid, std::move(host)});
            }
        }
        meter.Observe(front, monotonic, wall);
        for (const BrowserWindow& tab : tabs)
            blocked += meter.UsedMs(tab.uid, tab.uid % kRules + 1) >= 60 * 60'000;
        monotonic += 2000;
        wall = wall.addMSecs(2000);
    }
    benchmark::DoNotOptimize(blocked);
    state.counters["counted"] = double(meter.Used().size());
}

} // namespace

BENCHMARK(BM_AllowanceAccounting)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
