// A classroom on one PostgreSQL server on this machine: 200 stations (each an engine with its
// own connection) with 50 pages open each, one new page per station every 10 s, and a teacher
// who flips a rule every second, a title rule and a 网站 rule in turn. Reported: the stations'
// cycle time (median, 99th percentile), the server's CPU (of one core), and the time from a
// rule flipped to 禁止 until every station has closed its page (goals: p99 under 20 ms, in
// force everywhere within one cycle, 2 s).
//
// Every station also records its visits, as the guard does: its own pages change every 10 s,
// and each hands a batch of visits to its writer every WINWARDEN_CLASSROOM_WRITE_SECONDS
// (default 10, so that several batches fall in the measured time; 60 in use), which stores it
// over a connection of its own: the server takes two connections a station.
// WINWARDEN_CLASSROOM_VISITS=0 records none, for comparison.
// Reported besides: the visits stored, and the cycles whose station had visits it could not
// write (the first such notice is printed).
//
// Every station and the server share this machine's cores, so a station's cycle here also
// waits for the others' and the server's turn. The server is the fixture's private one (no
// fsync). WINWARDEN_CLASSROOM_STATIONS and WINWARDEN_CLASSROOM_SECONDS (default 200 and 60)
// change the size and the length of the run.
#include "engine/monitorengine.h"
#include "store/connection.h"
#include "store/flag.h"
#include "tests/support/pgserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <memory>
#include <mutex>
#include <random>
#include <stdexcept>
#include <thread>
#include <unistd.h>

using namespace winwarden;
using namespace Qt::StringLiterals;
using SteadyClock = std::chrono::steady_clock;

namespace {

constexpr int kPagesOpen = 50;
constexpr int kFlipped = 10; // pages whose rule the teacher flips, open at every station
constexpr int kCommon = 30;  // further pages open at every station
constexpr auto kCycle = std::chrono::milliseconds(MonitorEngine::kMonitorPeriodMs);
constexpr auto kNewPageEvery = std::chrono::seconds(10);
constexpr auto kFlipEvery = std::chrono::seconds(1);
constexpr int kDrivers = 16; // threads that run the stations' cycles, each for its share

int Setting(const char* name, int fallback) {
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : fallback;
}

QString FlippedTitle(int j) {
    return u"课程页 %1"_s.arg(j);
}
QString FlippedUrl(int j) {
    return u"https://p%1.class.example/lesson"_s.arg(j);
}
// Even pages are flipped by their title rule, odd ones by a 网站 rule for their host.
bool FlippedBySite(int j) {
    return j % 2 == 1;
}

BrowserWindow Page(const QString& title, const QString& url) {
    return {BrowserWindow::Kind::HtmlDocument, title, url, {-1, u"class"_s, title}, u"chromium"_s};
}

// One station's browser: the pages it has open, and the close requests its engine made.
class StationPages final : public BrowserSource {
public:
    BrowserPass pass;
    BrowserPass TakePass() override { return pass; }
    void RequestClose(const WindowHandle& window) override {
        const std::lock_guard lock(m_mutex);
        m_closes.emplace_back(window.id, SteadyClock::now());
    }
    std::vector<std::pair<QString, SteadyClock::time_point>> Closes() const {
        const std::lock_guard lock(m_mutex);
        return m_closes;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::pair<QString, SteadyClock::time_point>> m_closes;
};

struct Station {
    int number = 0;
    StationPages* pages = nullptr; // owned by the engine
    std::unique_ptr<MonitorEngine> engine;
    SteadyClock::time_point nextCycle;
    SteadyClock::time_point nextPage;
    int newPages = 0;
};

struct Flip {
    int page;
    SteadyClock::time_point at;
    bool blocks;
};

// CPU time (ticks) of the server: the postmaster whose command line names `dataDir`, its
// children alive (the backends), and those it has reaped (cutime and cstime).
long long ServerTicks(const QString& dataDir) {
    struct Stat {
        long long parent = 0, own = 0, reaped = 0;
    };
    const auto stat = [](const QString& pid) {
        QFile file(u"/proc/%1/stat"_s.arg(pid));
        if (!file.open(QIODevice::ReadOnly))
            return Stat();
        const QByteArray text = file.readAll();
        // After the command in parentheses: state(3) ppid(4) ... utime(14) stime(15)
        // cutime(16) cstime(17).
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() < 15)
            return Stat();
        return Stat{fields[1].toLongLong(), fields[11].toLongLong() + fields[12].toLongLong(),
                    fields[13].toLongLong() + fields[14].toLongLong()};
    };
    QString postmaster;
    const QStringList pids = QDir(u"/proc"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& pid : pids) {
        QFile cmdline(u"/proc/%1/cmdline"_s.arg(pid));
        if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(dataDir.toUtf8()))
            postmaster = pid;
    }
    if (postmaster.isEmpty())
        return 0;
    const Stat server = stat(postmaster);
    long long ticks = server.own + server.reaped;
    for (const QString& pid : pids)
        if (const Stat child = stat(pid); child.parent == postmaster.toLongLong())
            ticks += child.own;
    return ticks;
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(p * values.size()))];
}

void BM_Classroom(benchmark::State& state) {
    const int stations = Setting("WINWARDEN_CLASSROOM_STATIONS", 200);
    const auto length = std::chrono::seconds(Setting("WINWARDEN_CLASSROOM_SECONDS", 60));
    const bool visits = qEnvironmentVariable("WINWARDEN_CLASSROOM_VISITS") != u"0"_s;
    const qint64 writeMs = 1000LL * Setting("WINWARDEN_CLASSROOM_WRITE_SECONDS", 10);
    // Measured from after the first period of writing, when every station's writer has
    // connected (each does at a moment of that period picked at random).
    const auto warmUp = std::max<std::chrono::milliseconds>(
        std::chrono::seconds(6), std::chrono::milliseconds(writeMs + 2000));

    test::PgServer server;
    // Two connections a station: its cycles', and its visit writer's.
    server.Admin(u"ALTER SYSTEM SET max_connections = %1"_s.arg(2 * stations + 20), u"postgres"_s);
    server.Stop();
    server.Start();
    test::PgRuleDb db(server, true);
    for (int j = 0; j < kFlipped; ++j) {
        db.insert(FlippedTitle(j), kFlagPass, FlippedUrl(j));
        if (FlippedBySite(j))
            db.exec(u"INSERT INTO 匹配规则 (种类,内容,是否禁止) VALUES ('网站','p%1.class.example',"
                    "'通过')"_s.arg(j));
    }
    db.exec(u"INSERT INTO 匹配规则 (种类,内容,是否禁止) VALUES ('标题包含','赌场','禁止')"_s);
    const QString dataDir =
        QDir(server.Admin(u"SHOW data_directory"_s, u"postgres"_s)).canonicalPath();

    for (auto _ : state) {
        // The stations, each made, opened and cycled by the driver thread that owns it.
        std::vector<Station> all(static_cast<size_t>(stations));
        std::vector<std::vector<double>> cycleMs(kDrivers);
        std::vector<std::vector<std::pair<QString, SteadyClock::time_point>>> closes(
            static_cast<size_t>(stations));
        std::atomic<int> failures{0};
        std::atomic<int> visitFailures{0};
        const SteadyClock::time_point start = SteadyClock::now() + std::chrono::seconds(2);
        const SteadyClock::time_point measureFrom = start + warmUp;
        const SteadyClock::time_point end = measureFrom + length;
        std::vector<std::thread> drivers;
        for (int d = 0; d < kDrivers; ++d) {
            drivers.emplace_back([&, d] {
                std::mt19937 random(static_cast<unsigned>(d));
                std::vector<Station*> mine;
                for (int s = d; s < stations; s += kDrivers) {
                    Station& station = all[static_cast<size_t>(s)];
                    station.number = s;
                    station.pages = new StationPages;
                    station.engine = std::make_unique<MonitorEngine>(
                        std::unique_ptr<BrowserSource>(station.pages));
                    station.engine->OpenStore(db.name());
                    station.engine->SetKeepHistoryDays(visits ? 90 : 0);
                    station.engine->Visits().SetWritePeriod(writeMs);
                    BrowserPass& pass = station.pages->pass;
                    pass.browsersWatched = pass.browsersRead = 1;
                    for (int j = 0; j < kFlipped; ++j)
                        pass.windows.push_back(Page(FlippedTitle(j), FlippedUrl(j)));
                    for (int j = 0; j < kCommon; ++j)
                        pass.windows.push_back(
                            Page(u"公共页 %1"_s.arg(j), u"https://common.example/%1"_s.arg(j)));
                    while (pass.windows.size() < kPagesOpen)
                        pass.windows.push_back(
                            Page(u"站 %1 页 %2"_s.arg(s).arg(pass.windows.size()),
                                 u"https://s%1.example/%2"_s.arg(s).arg(pass.windows.size())));
                    // The pupil's own page in front, the others behind it.
                    for (BrowserWindow& window : pass.windows)
                        window.inFront = &window == &pass.windows.back();
                    // Stations start spread over one cycle, as machines switched on at random.
                    const auto phase = std::chrono::milliseconds(random() % kCycle.count());
                    station.nextCycle = start + phase;
                    station.nextPage = start + phase + std::chrono::milliseconds(random() % 10000);
                    mine.push_back(&station);
                }
                std::vector<double>& times = cycleMs[static_cast<size_t>(d)];
                // A driver without a station (fewer stations than drivers) has nothing to run.
                while (!mine.empty()) {
                    Station* next =
                        *std::min_element(mine.begin(), mine.end(), [](Station* a, Station* b) {
                            return a->nextCycle < b->nextCycle;
                        });
                    if (next->nextCycle >= end)
                        break;
                    std::this_thread::sleep_until(next->nextCycle);
                    const SteadyClock::time_point now = SteadyClock::now();
                    if (now >= next->nextPage) {
                        // A new page in place of one of the station's own.
                        BrowserWindow& page =
                            next->pages->pass
                                .windows[kFlipped + kCommon +
                                         static_cast<size_t>(next->newPages %
                                                             (kPagesOpen - kFlipped - kCommon))];
                        ++next->newPages;
                        page = Page(
                            u"站 %1 新页 %2"_s.arg(next->number).arg(next->newPages),
                            u"https://s%1.example/new/%2"_s.arg(next->number).arg(next->newPages));
                        next->nextPage += kNewPageEvery;
                    }
                    next->engine->RunCycle(next->pages->pass);
                    const SteadyClock::time_point done = SteadyClock::now();
                    if (now >= measureFrom)
                        times.push_back(
                            std::chrono::duration<double, std::milli>(done - now).count());
                    if (!next->engine->Status().storeFailure.isEmpty())
                        ++failures;
                    if (const QStringList notices = next->engine->Visits().Notices();
                        !notices.isEmpty() && visitFailures++ == 0)
                        qWarning("%s", qPrintable(notices.join(u'\n')));
                    next->nextCycle += kCycle;
                }
                // The closes are read here, and the engines go here, on the thread that made them.
                for (Station* station : mine) {
                    station->engine->WaitForCloseRequests();
                    closes[static_cast<size_t>(station->number)] = station->pages->Closes();
                    station->engine.reset();
                }
            });
        }

        // The teacher: one rule flipped every second, by a connection of its own.
        std::vector<Flip> flips;
        long long ticksBefore = 0;
        SteadyClock::time_point ticksFrom;
        {
            QSqlDatabase teacher =
                OpenPostgres(UniqueConnectionName("teacher"), ParseDatabaseName(db.name()));
            {
                QSqlQuery title(teacher), site(teacher);
                title.prepare(u"UPDATE 窗口名表 SET 是否禁止=? WHERE 窗口名称=?"_s);
                site.prepare(u"UPDATE 匹配规则 SET 是否禁止=? WHERE 内容=?"_s);
                std::vector<bool> blocked(kFlipped, false);
                SteadyClock::time_point next = start + std::chrono::milliseconds(500);
                for (int k = 0; next < end - kCycle - std::chrono::seconds(1); ++k) {
                    std::this_thread::sleep_until(next);
                    if (ticksBefore == 0 && SteadyClock::now() >= measureFrom) {
                        ticksBefore = ServerTicks(dataDir);
                        ticksFrom = SteadyClock::now();
                    }
                    const int j = k % kFlipped;
                    blocked[static_cast<size_t>(j)] = !blocked[static_cast<size_t>(j)];
                    const QString flag = blocked[static_cast<size_t>(j)] ? kFlagBlock : kFlagPass;
                    QSqlQuery& query = FlippedBySite(j) ? site : title;
                    query.bindValue(0, flag);
                    query.bindValue(1, FlippedBySite(j) ? u"p%1.class.example"_s.arg(j)
                                                        : FlippedTitle(j));
                    if (!query.exec())
                        throw std::runtime_error(query.lastError().text().toStdString());
                    flips.push_back({j, SteadyClock::now(), blocked[static_cast<size_t>(j)]});
                    next += kFlipEvery;
                }
            }
            CloseDatabase(teacher);
        }
        // Read while every station is still connected: a backend's time goes with it.
        std::this_thread::sleep_until(end - std::chrono::milliseconds(200));
        const long long ticksAfter = ServerTicks(dataDir);
        const double serverSeconds =
            std::chrono::duration<double>(SteadyClock::now() - ticksFrom).count();
        for (std::thread& driver : drivers)
            driver.join();

        // How long each flip to 禁止 took to be in force at every station: until the station's
        // first close request for the page after it.
        std::vector<double> inForceMs;
        int missed = 0;
        for (const Flip& flip : flips) {
            if (!flip.blocks || flip.at < measureFrom)
                continue;
            double slowest = 0;
            for (const auto& stationCloses : closes) {
                const auto first = std::find_if(
                    stationCloses.begin(), stationCloses.end(), [&](const auto& close) {
                        return close.first == FlippedTitle(flip.page) && close.second >= flip.at;
                    });
                if (first == stationCloses.end()) {
                    ++missed;
                    continue;
                }
                slowest = std::max(
                    slowest,
                    std::chrono::duration<double, std::milli>(first->second - flip.at).count());
            }
            inForceMs.push_back(slowest);
        }

        std::vector<double> times;
        for (const auto& driverTimes : cycleMs)
            times.insert(times.end(), driverTimes.begin(), driverTimes.end());
        state.counters["stations"] = stations;
        state.counters["cycles"] = static_cast<double>(times.size());
        state.counters["cycle_p50_ms"] = Percentile(times, 0.5);
        state.counters["cycle_p99_ms"] = Percentile(times, 0.99);
        state.counters["server_cpu_%"] = 100.0 * static_cast<double>(ticksAfter - ticksBefore) /
                                         static_cast<double>(sysconf(_SC_CLK_TCK)) / serverSeconds;
        state.counters["in_force_all_p50_ms"] = Percentile(inForceMs, 0.5);
        state.counters["in_force_all_max_ms"] = Percentile(inForceMs, 1.0);
        state.counters["missed"] = missed;
        state.counters["store_failures"] = failures.load();
        state.counters["visit_failures"] = visitFailures.load();
        state.counters["visits_stored"] =
            visits ? db.exec(u"SELECT count(*) FROM 访问记录"_s).toDouble() : 0.0;
    }
}

} // namespace

BENCHMARK(BM_Classroom)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
