// One monitor cycle at scale: 1000 open pages, 100,000 stored rules, 10,000 listed windows, and
// in the MatchRules variants 10,000 match rules beside them (goal: under 5 ms); in the
// TimedRules variants 1,000 of those hold only at their times, the clock moving 2 s a cycle as
// it does (the rules that hold change about once a minute), or an hour a cycle, so that every
// cycle finds others holding and makes the index again. BM_MonitorCycleAllowances is the
// TimedRules case with a daily allowance on the 网站 rules of open pages and a 全部网页 rule
// with one, one tab in front per person for 50 people.
// BM_MonitorCycle runs the engine's own cycle on a pass that has been taken, which is all the
// user-interface thread does, with nothing else writing to the rules (the usual case);
// BM_MonitorCycleOtherWriter the same while another program changes a rule before every
// cycle; BM_MonitorCycleNaive does the same work the literal way
// (unindexed table, a fresh statement text per lookup, a row-by-row list scan). The stall
// benchmarks run whole cycles through the event loop and report the longest time it was
// blocked.
#include "engine/monitorengine.h"
#include "monitor/winwardenview.h"
#include "res/texts.h"
#include "sources/devtools/devtoolsclient.h"
#include "sources/devtools/devtoolssource.h"
#include "store/flag.h"
#include "store/schema.h"
#include "survey/browsersnapshot.h"
#include "survey/shellwindows.h"
#include "tests/support/fakeendpoint.h"
#include "tests/support/manualclock.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QTimer>
#include <atomic>
#include <benchmark/benchmark.h>
#include <memory>
#include <stdexcept>

using namespace winwarden;

namespace {

constexpr int kRules = 100'000;
constexpr int kListed = 10'000;
constexpr int kPages = 1'000;
constexpr int kBlockEvery = 10; // every tenth rule blocks
constexpr int kMatchRules = 10'000;

QString Title(int i) {
    return QStringLiteral("页面 %1 - O'Brien 的 100% 新闻").arg(i);
}
QString Url(int i) {
    return QStringLiteral("http://site%1.example/path?q=%1").arg(i);
}
QString FlagOf(int i) {
    return i % kBlockEvery == 0 ? kFlagBlock : kFlagPass;
}

BrowserPass PassOf(const QList<int>& ids) {
    BrowserPass pass;
    pass.browsersWatched = pass.browsersRead = 1;
    for (int i : ids)
        pass.windows.push_back({BrowserWindow::Kind::HtmlDocument,
                                Title(i),
                                Url(i),
                                {-1, QStringLiteral("bench"), QString::number(i)},
                                QStringLiteral("chromium")});
    return pass;
}

// Hands out a prepared pass and counts close requests.
class Pages final : public BrowserSource {
public:
    BrowserPass pass;
    std::atomic<int> closes{0};
    BrowserPass TakePass() override { return pass; }
    void RequestClose(const WindowHandle&) override { ++closes; }
};

void Check(bool ok, const char* what) {
    if (!ok)
        throw std::runtime_error(what);
}

// A rule database of kRules rows at `path`; with `indexed` false, a bare table without indexes.
void FillRules(const QString& path, bool indexed) {
    if (indexed) {
        CreateRuleDatabase(path);
    }
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fill"));
        db.setDatabaseName(path);
        Check(db.open(), "open");
        QSqlQuery query(db);
        if (!indexed) {
            Check(
                query.exec(QStringLiteral(
                    "CREATE TABLE 窗口名表 (编号 INTEGER PRIMARY KEY AUTOINCREMENT, 窗口名称 TEXT, "
                    "是否禁止 TEXT, 网址 TEXT)")),
                "create");
        }
        Check(db.transaction(), "begin");
        Check(query.prepare(
                  QStringLiteral("INSERT INTO 窗口名表 (窗口名称,是否禁止,网址) VALUES(?,?,?)")),
              "prepare");
        for (int i = 0; i < kRules; ++i) {
            query.bindValue(0, Title(i));
            query.bindValue(1, FlagOf(i));
            query.bindValue(2, Url(i));
            Check(query.exec(), "insert");
        }
        Check(db.commit(), "commit");
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fill"));
}

// The open pages are spread over the list, so a scan finds them anywhere in it; one in ten
// of them is blocked, as a page that closes and is opened again would be.
QList<int> OpenPages() {
    QList<int> ids;
    for (int i = 0; i < kPages; ++i)
        ids.append(i * (kListed / kPages) + i % kBlockEvery);
    return ids;
}

// kMatchRules match rules beside the title rules: half 网站 rules, half 标题包含 words (one in
// ten allowing). A few of them decide for open pages: the sites of every fiftieth page and
// one word of one title; the rest are met by none, which is the most work, since every title
// is read through and every host looked up to its last label.
// With `timed`, every tenth rule holds on 周一至周五 for 90 minutes from a time of its own,
// spread over the day, some spans over midnight.
void FillMatchRules(const QString& path, bool timed = false, bool allowances = false) {
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fill"));
        db.setDatabaseName(path);
        Check(db.open() && db.transaction(), "open");
        QSqlQuery query(db);
        Check(query.prepare(
                  QStringLiteral("INSERT INTO 匹配规则 (种类,内容,是否禁止,时间) VALUES(?,?,?,?)")),
              "prepare");
        for (int i = 0; i < kMatchRules; ++i) {
            const bool site = i % 2 == 0;
            query.bindValue(0, site ? kKindSite : kKindTitleWord);
            query.bindValue(1, site ? (i % 100 == 0 ? QStringLiteral("site%1.example").arg(i * 5)
                                                    : QStringLiteral("blocked%1.example").arg(i))
                                    : (i == 1 ? QStringLiteral("页面 77 -")
                                              : QStringLiteral("关键词%1号").arg(i)));
            query.bindValue(2, i % 10 == 5 ? kFlagPass : kFlagBlock);
            const int start = i * 7 % (24 * 60);
            const int end = (start + 90) % (24 * 60);
            const bool allowance = allowances && i % 100 == 0;
            query.bindValue(3, allowance ? QStringLiteral("每天 600 分钟")
                               : timed && i % 10 == 3
                                   ? QStringLiteral("周一至周五 %1:%2-%3:%4")
                                         .arg(start / 60, 2, 10, QLatin1Char('0'))
                                         .arg(start % 60, 2, 10, QLatin1Char('0'))
                                         .arg(end / 60, 2, 10, QLatin1Char('0'))
                                         .arg(end % 60, 2, 10, QLatin1Char('0'))
                                   : QVariant(QMetaType::fromType<QString>()));
            Check(query.exec(), "insert");
        }
        if (allowances) {
            query.bindValue(0, kKindAllWeb);
            query.bindValue(1, QStringLiteral("所有网页"));
            query.bindValue(2, kFlagBlock);
            query.bindValue(3, QStringLiteral("每天 600 分钟"));
            Check(query.exec(), "insert");
        }
        Check(db.commit(), "commit");
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fill"));
}

// What another program changes before every cycle: nothing (the usual case); one title rule,
// so that the cycle cannot answer from the rules it read last time and looks every title up
// again; or one match rule, so that the match rules are read again and every title is
// matched afresh.
enum class OtherWriter { None, TitleRule, MatchRule };

// How far the clock moves between cycles of the TimedRules variants; 0: not set.
void RunMonitorCycles(benchmark::State& state, OtherWriter otherWriter, bool matchRules = false,
                      qint64 clockStepMs = 0, bool allowances = false) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("winwarden.mdb"));
    FillRules(path, true);
    if (matchRules)
        FillMatchRules(path, clockStepMs > 0, allowances);
    auto* pages = new Pages;
    MonitorEngine engine{std::unique_ptr<BrowserSource>(pages)};
    // A Monday morning in Berlin.
    const auto clock = std::make_shared<test::ManualClock>(
        QDateTime(QDate(2026, 12, 7), QTime(8, 0), QTimeZone("Europe/Berlin")));
    engine.SetClock(clock);
    engine.OpenStore(path);
    CWinwardenView view(engine);
    view.OnStart();
    // List kListed windows, a pass's worth at a time.
    for (int first = 0; first < kListed; first += kPages) {
        QList<int> ids;
        for (int i = first; i < first + kPages; ++i)
            ids.append(i);
        engine.RunCycle(PassOf(ids));
    }
    Check(view.ListControl()->rowCount() == kListed, "list filled");
    BrowserPass pass = PassOf(OpenPages());
    for (int i = 0; allowances && i < 50; ++i) {
        pass.windows[size_t(i * 20)].uid = 1000 + i;
        pass.windows[size_t(i * 20)].inFront = true;
    }
    engine.WaitForCloseRequests();
    pages->closes = 0;
    QSqlDatabase other =
        QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
    other.setDatabaseName(path);
    Check(other.open(), "open other");
    QSqlQuery touch(other);
    Check(touch.prepare(otherWriter == OtherWriter::MatchRule
                            ? QStringLiteral("UPDATE 匹配规则 SET 是否禁止=? WHERE rowid=?")
                            : QStringLiteral("UPDATE 窗口名表 SET 网址=? WHERE rowid=?")),
          "prepare");
    int written = 0;
    for (auto _ : state) {
        if (otherWriter != OtherWriter::None) {
            state.PauseTiming();
            const bool match = otherWriter == OtherWriter::MatchRule;
            touch.bindValue(0, match ? (written % 2 ? kFlagPass : kFlagBlock) : Url(written));
            touch.bindValue(1, (match ? kMatchRules : kRules) - written++ % 1000);
            Check(touch.exec(), "touch");
            state.ResumeTiming();
        }
        clock->Advance(clockStepMs);
        engine.RunCycle(pass);
    }
    engine.WaitForCloseRequests();
    Check(view.ListControl()->rowCount() == kListed, "nothing new listed");
    state.counters["closes/cycle"] =
        benchmark::Counter(pages->closes, benchmark::Counter::kAvgIterations);
    view.OnStop();
    touch = QSqlQuery();
    other.close();
    other = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("other"));
}

void BM_MonitorCycle(benchmark::State& state) {
    RunMonitorCycles(state, OtherWriter::None);
}

void BM_MonitorCycleOtherWriter(benchmark::State& state) {
    RunMonitorCycles(state, OtherWriter::TitleRule);
}

void BM_MonitorCycleMatchRules(benchmark::State& state) {
    RunMonitorCycles(state, OtherWriter::None, true);
}

void BM_MonitorCycleMatchRulesOtherWriter(benchmark::State& state) {
    RunMonitorCycles(state, OtherWriter::TitleRule, true);
}

void BM_MonitorCycleTimedRules(benchmark::State& state) {
    RunMonitorCycles(state, OtherWriter::None, true, MonitorEngine::kMonitorPeriodMs);
}

void BM_MonitorCycleTimedRulesEveryCycleNew(benchmark::State& state) {
    RunMonitorCycles(state, OtherWriter::None, true, 60 * 60 * 1000);
}

void BM_MonitorCycleAllowances(benchmark::State& state) {
    RunMonitorCycles(state, OtherWriter::None, true, MonitorEngine::kMonitorPeriodMs, true);
}

void BM_MonitorCycleMatchRuleChanged(benchmark::State& state) {
    RunMonitorCycles(state, OtherWriter::MatchRule, true);
}

QString Quoted(const QString& text) {
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

void BM_MonitorCycleNaive(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("naive.mdb"));
    FillRules(path, false);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("naive"));
    db.setDatabaseName(path);
    Check(db.open(), "open");
    const BrowserPass pass = PassOf(OpenPages());
    int closes = 0;
    auto snapshot = std::make_unique<BrowserSnapshot>();
    QTableWidget list(0, 3);
    for (int i = 0; i < kListed; ++i) {
        list.insertRow(i);
        list.setItem(i, 0, new QTableWidgetItem(Title(i) + text::kCaptionSuffix));
        list.setItem(i, 1, new QTableWidgetItem(kFlagPass));
        list.setItem(i, 2, new QTableWidgetItem(Url(i)));
    }

    for (auto _ : state) {
        TakeBrowserSnapshot(ShellWindows(pass), *snapshot);
        TopLevelWindows windows(pass, [&](const WindowHandle&) { ++closes; });
        for (int i = 0; i < snapshot->count; ++i) {
            const QString& title = snapshot->titles[static_cast<std::size_t>(i)];
            const QString& url = snapshot->urls[static_cast<std::size_t>(i)];
            if (title.isEmpty())
                continue;
            {
                QSqlQuery find(db);
                Check(find.exec(QStringLiteral("SELECT * FROM 窗口名表 WHERE 窗口名称=") +
                                Quoted(title)),
                      "find");
                if (!find.next()) {
                    QSqlQuery insert(db);
                    Check(
                        insert.exec(QStringLiteral("INSERT INTO 窗口名表 (窗口名称,是否禁止,网址) "
                                                   "VALUES(%1,%2,%3)")
                                        .arg(Quoted(title), Quoted(kFlagPass), Quoted(url))),
                        "insert");
                } else if (!find.isNull(1) && !find.isNull(2) &&
                           IsBlockingFlag(find.value(2).toString())) {
                    if (auto window = windows.FindByCaption(title + text::kCaptionSuffix))
                        windows.RequestClose(*window);
                }
            }
            const QString caption = title + text::kCaptionSuffix;
            bool listed = false;
            for (int r = 0; r < list.rowCount() && !listed; ++r)
                listed = list.item(r, 0)->text() == caption;
            if (!listed) {
                const int row = list.rowCount();
                list.insertRow(row);
                list.setItem(row, 0, new QTableWidgetItem(caption));
                list.setItem(row, 1, new QTableWidgetItem(kFlagPass));
                list.setItem(row, 2, new QTableWidgetItem(url));
            }
        }
    }
    Check(list.rowCount() == kListed, "nothing new listed");
    state.counters["closes/cycle"] = benchmark::Counter(closes, benchmark::Counter::kAvgIterations);
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("naive"));
}

// A /json/list answer of `pages` pages, shaped like Chromium's own.
QByteArray TargetList(const QList<int>& ids) {
    QJsonArray list;
    for (int i : ids)
        list.append(QJsonObject{{QStringLiteral("id"), QString::number(i)},
                                {QStringLiteral("type"), QStringLiteral("page")},
                                {QStringLiteral("title"), Title(i)},
                                {QStringLiteral("url"), Url(i)}});
    return QJsonDocument(list).toJson(QJsonDocument::Compact);
}

// Whole cycles through the event loop against a DevTools endpoint that answers after
// `delayMs`: the longest time the loop went without running its 1 ms timer, over all cycles.
void RunStallCycles(benchmark::State& state, const QList<int>& open, int delayMs) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("winwarden.mdb"));
    FillRules(path, true);
    const FakeEndpoint endpoint(FakeEndpoint::Answer(200, TargetList(open)), delayMs);
    std::atomic<int> closes{0};
    MonitorEngine engine(MakeDevToolsSource([&] { return QStringList{endpoint.Endpoint()}; },
                                            &FetchTargetList,
                                            [&](const QString&, const QString&) { ++closes; }));
    engine.OpenStore(path);
    CWinwardenView view(engine);
    view.OnStart();
    QElapsedTimer clock;
    qint64 longest = 0;
    QTimer beat;
    beat.setInterval(1);
    QObject::connect(&beat, &QTimer::timeout,
                     [&] { longest = std::max(longest, clock.restart()); });
    for (auto _ : state) {
        QSignalSpy finished(&engine, &MonitorEngine::cycleFinished);
        clock.start();
        beat.start();
        engine.OnTimer();
        Check(finished.wait(30000), "cycle finished");
        longest = std::max(longest, clock.elapsed());
        beat.stop();
        engine.WaitForCloseRequests();
    }
    state.counters["stall_ms"] = static_cast<double>(longest);
    state.counters["closes/cycle"] = benchmark::Counter(closes, benchmark::Counter::kAvgIterations);
}

void BM_EventLoopStall1000Windows(benchmark::State& state) {
    RunStallCycles(state, OpenPages(), 0);
}

void BM_EventLoopStallSlowEndpoint(benchmark::State& state) {
    RunStallCycles(state, OpenPages(), 900);
}

// 100 of 500 open pages blocked at once: every close request goes out in the one cycle.
void BM_EventLoopStall100Of500Blocked(benchmark::State& state) {
    QList<int> ids;
    for (int i = 0; i < 500; ++i)
        ids.append(i * kBlockEvery + (i % 5 == 0 ? 0 : 1));
    RunStallCycles(state, ids, 0);
}

// A list of kMatchRules match rules: loaded, narrowed as a word is typed into the filter key
// by key, and scrolled through page by page with each page drawn. The time of each step is a
// counter; a responsive list takes tens of milliseconds at most for any of them.
void BM_MatchRuleList(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("winwarden.mdb"));
    CreateRuleDatabase(path);
    FillMatchRules(path);
    MonitorEngine engine{std::make_unique<Pages>()};
    engine.OpenStore(path);
    CWinwardenView view(engine);
    view.resize(900, 600);
    view.show();
    view.OnInitialUpdate();
    const QString typed = QStringLiteral("关键词12");
    double loadMs = 0, keyMs = 0, pageMs = 0;
    int keys = 0, pagesDrawn = 0;
    QElapsedTimer clock;
    for (auto _ : state) {
        clock.start();
        view.LoadMatchRuleList();
        QApplication::processEvents();
        loadMs += static_cast<double>(clock.nsecsElapsed()) / 1e6;
        Check(view.ListControl()->rowCount() == kMatchRules, "every rule listed");
        view.OnFind();
        for (const QChar c : typed) {
            clock.restart();
            view.FilterEdit()->insert(QString(c));
            view.ListControl()->viewport()->repaint();
            keyMs += static_cast<double>(clock.nsecsElapsed()) / 1e6;
            ++keys;
        }
        view.FilterEdit()->clear();
        QScrollBar* bar = view.ListControl()->verticalScrollBar();
        for (int value = 0; value <= bar->maximum(); value += bar->pageStep()) {
            clock.restart();
            bar->setValue(value);
            view.ListControl()->viewport()->repaint();
            pageMs += static_cast<double>(clock.nsecsElapsed()) / 1e6;
            ++pagesDrawn;
        }
    }
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["load_ms"] = loadMs / iterations;
    state.counters["filter_key_ms"] = keyMs / keys;
    state.counters["scroll_page_ms"] = pageMs / pagesDrawn;
}

BENCHMARK(BM_MonitorCycle)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MonitorCycleOtherWriter)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MonitorCycleMatchRules)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MonitorCycleMatchRulesOtherWriter)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MonitorCycleMatchRuleChanged)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MonitorCycleTimedRules)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MonitorCycleTimedRulesEveryCycleNew)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MonitorCycleAllowances)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MonitorCycleNaive)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MatchRuleList)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_EventLoopStall1000Windows)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_EventLoopStallSlowEndpoint)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_EventLoopStall100Of500Blocked)->Unit(benchmark::kMillisecond)->Iterations(10);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
