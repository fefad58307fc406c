// From a blocked title appearing in a real Chromium tab to that tab being gone, through the
// whole monitor: with the companion extension and the bridge source (a tab change asks for a
// cycle at once), and with the DevTools source (the 2 s tick). A page opens a tab every
// 1.5 s; each tab stamps its address with the browser's clock and then takes the blocked
// title. One repetition per tab; the median and the worst are the figures to read. And from
// a page blocked in the list (the flag dialog's OK) to its tab being gone, through the bridge.
// And from 10,000 网站 rules given to the bridge source to a navigation being refused by the
// extension (a tab sent to a host among them every 100 ms lands on the extension's page).
// Needs /usr/bin/chromium.
#include "bench/headlesschromium.h"
#include "engine/monitorengine.h"
#include "sources/bridge/bridgesource.h"
#include "sources/devtools/devtoolsclient.h"
#include "sources/devtools/devtoolssource.h"
#include "sources/devtools/targetlist.h"
#include "store/flag.h"
#include "tests/support/testdb.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <csignal>
#include <map>
#include <set>
#include <unistd.h>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;

namespace {

constexpr int kTabs = 20;
constexpr int kSiteRules = 10000;
const QString kBlocked = u"坏页"_s;

bool WriteFile(const QString& path, const QByteArray& contents) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

QByteArray OpenerPage() {
    return "<title>opener</title><script>let n = 0; setInterval(() => { if (n++ < " +
           QByteArray::number(kTabs + 2) + ") window.open('blocked.html'); }, 1500);</script>";
}

// Opens the tabs of the list case at once, each titled by its number.
QByteArray ListOpenerPage() {
    return "<title>opener</title><script>for (let i = 0; i < " + QByteArray::number(kTabs) +
           "; i++) window.open('listed.html#' + i);</script>";
}

QString ListedTitle(int tab) {
    return u"列表页 %1"_s.arg(tab);
}

// 300 ms after loading: the address gets the moment, then the page takes the blocked title.
QByteArray BlockedPage() {
    return "<meta charset=utf-8><title>t</title><script>setTimeout(() => { "
           "history.replaceState(null, '', '#' + Date.now()); document.title = '" +
           kBlocked.toUtf8() + "'; }, 300);</script>";
}

QByteArray ProbePage() {
    return "<script>const w = window.open('about:blank'); let n = 0; setInterval(() => { "
           "w.location = 'http://probe.test/' + n++; }, 100);</script>";
}

// Blocked tabs (id -> the moment in their address) as one look at the browser finds them.
using Look = std::function<std::map<QString, qint64>()>;

class Rig final {
public:
    Rig() { qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_dir.path())); }
    ~Rig() {
        m_engine.reset();
        if (m_browser.state() != QProcess::NotRunning) {
            ::kill(-static_cast<pid_t>(m_browser.processId()), SIGKILL);
            m_browser.waitForFinished(5000);
        }
    }

    bool StartBridge(const QByteArray& opener = OpenerPage()) {
        auto source = MakeBridgeSource();
        BrowserSource* bridge = m_bridge = source.get();
        if (!WritePages() || !WriteFile(m_dir.filePath(u"opener.html"_s), opener)) {
            return false;
        }
        StartEngine(std::move(source), [bridge] {
            std::map<QString, qint64> blocked;
            for (const BrowserWindow& window : bridge->TakePass().windows)
                if (window.title == kBlocked)
                    blocked.emplace(window.handle.id, window.url.section(u'#', -1).toLongLong());
            return blocked;
        });
        return StartWithExtension();
    }

    // A bridge source without an engine, so that only the rules given to it are in force, and
    // a browser whose opener keeps sending a tab to probe.test.
    BrowserSource* StartSites() {
        m_sites = MakeBridgeSource();
        const bool started = WriteFile(m_dir.filePath(u"opener.html"_s), ProbePage()) &&
                             StartWithExtension({u"--host-resolver-rules=MAP * ~NOTFOUND"_s,
                                                 u"--disable-background-timer-throttling"_s});
        return started ? m_sites.get() : nullptr;
    }

    bool StartDevTools() {
        if (!WritePages() || !m_chromium.Start())
            return false;
        const QString endpoint = m_chromium.Endpoint();
        qputenv("WINWARDEN_DEVTOOLS", endpoint.toUtf8());
        StartEngine(MakeDevToolsSource(), [endpoint] {
            std::map<QString, qint64> blocked;
            const auto answer = FetchTargetList(endpoint);
            const auto targets = answer ? DecodeTargetList(*answer) : std::nullopt;
            for (const DevToolsTarget& target : targets.value_or(std::vector<DevToolsTarget>{}))
                if (target.type == u"page"_s && target.title == kBlocked)
                    blocked.emplace(target.id, target.url.section(u'#', -1).toLongLong());
            return blocked;
        });
        // The DevTools browser blocks the opener's pop-ups: the tabs are opened from here.
        QObject::connect(&m_opener, &QTimer::timeout, [this] {
            m_chromium.OpenTab(u"file://"_s + m_dir.filePath(u"blocked.html"_s));
        });
        m_opener.start(1500);
        return true;
    }

    // Blocks an open tab's page as the flag dialog does: ms from OK to the tab gone, or -1.
    qint64 BlockFromList(const QString& title) {
        const auto open = [&] {
            const auto windows = m_bridge->TakePass().windows;
            return std::any_of(windows.begin(), windows.end(),
                               [&](const BrowserWindow& w) { return w.title == title; });
        };
        QElapsedTimer clock;
        clock.start();
        // Listed, as a row the user can pick is: open, and recorded by a cycle.
        while ((!open() || !m_engine->FindByName(title)) && clock.elapsed() < 20000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        clock.start();
        m_engine->SetFlagForWindow(kFlagBlock, title, QString());
        while (open() && clock.elapsed() < 20000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        return clock.elapsed() < 20000 ? clock.elapsed() : -1;
    }

    // The next latency in ms, or -1 when none comes within 20 s.
    qint64 Next() {
        QElapsedTimer waited;
        waited.start();
        while (m_taken >= m_latencies.size() && waited.elapsed() < 20000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        return m_taken < m_latencies.size() ? m_latencies[m_taken++] : -1;
    }

private:
    // Chromium with the extension and its host, on opener.html.
    bool StartWithExtension(const QStringList& flags = {}) {
        const QString host = QCoreApplication::applicationDirPath() + u"/../host/winwarden-host"_s;
        const QString extension =
            QCoreApplication::applicationDirPath() + u"/../share/winwarden/extension"_s;
        const QByteArray manifest = "{\"name\":\"net.winwarden.host\",\"description\":\"w\","
                                    "\"type\":\"stdio\",\"path\":\"" +
                                    QFileInfo(host).canonicalFilePath().toUtf8() +
                                    "\",\"allowed_origins\":[\"chrome-extension://"
                                    "nmmkcloaiigldlkhkbnmgnjkbgnifpek/\"]}";
        if (!WriteFile(m_dir.filePath(u"p/NativeMessagingHosts/net.winwarden.host.json"_s),
                       manifest)) {
            return false;
        }
        m_browser.setStandardOutputFile(QProcess::nullDevice());
        m_browser.setStandardErrorFile(QProcess::nullDevice());
        m_browser.setChildProcessModifier([] { ::setsid(); });
        m_browser.start(u"/usr/bin/chromium"_s,
                        QStringList{u"--headless=new"_s, u"--no-sandbox"_s, u"--disable-gpu"_s,
                                    u"--no-first-run"_s, u"--disable-background-networking"_s,
                                    u"--disable-component-update"_s, u"--disable-sync"_s,
                                    u"--disable-popup-blocking"_s,
                                    u"--user-data-dir="_s + m_dir.filePath(u"p"_s),
                                    u"--load-extension="_s + extension} +
                            flags + QStringList{u"file://"_s + m_dir.filePath(u"opener.html"_s)});
        return m_browser.waitForStarted(10000);
    }

    bool WritePages() {
        return WriteFile(m_dir.filePath(u"opener.html"_s), OpenerPage()) &&
               WriteFile(m_dir.filePath(u"blocked.html"_s), BlockedPage()) &&
               WriteFile(m_dir.filePath(u"listed.html"_s),
                         "<meta charset=utf-8><script>document.title = '列表页 ' + "
                         "location.hash.slice(1);</script>");
    }

    void StartEngine(std::unique_ptr<BrowserSource> source, Look look) {
        m_db.insert(kBlocked, u"禁止"_s, u""_s);
        m_engine = std::make_unique<MonitorEngine>(std::move(source));
        m_engine->OpenStore(m_db.path());
        m_engine->Start();
        // Looks every 10 ms: a tab that was there and is not any more has gone now.
        m_look = std::move(look);
        QObject::connect(&m_watch, &QTimer::timeout, [this] {
            const std::map<QString, qint64> now = m_look();
            for (const auto& [id, stamp] : now)
                if (stamp > 0)
                    m_seen.emplace(id, stamp);
            for (const auto& [id, stamp] : m_seen)
                if (!now.contains(id) && m_gone.insert(id).second)
                    m_latencies.push_back(QDateTime::currentMSecsSinceEpoch() - stamp);
        });
        m_watch.start(10);
    }

    QTemporaryDir m_dir;
    TempRuleDb m_db;
    HeadlessChromium m_chromium;
    BrowserSource* m_bridge = nullptr; // owned by the engine
    QProcess m_browser;
    std::unique_ptr<MonitorEngine> m_engine;
    std::unique_ptr<BrowserSource> m_sites;
    Look m_look;
    QTimer m_watch;
    QTimer m_opener;
    std::map<QString, qint64> m_seen;
    std::set<QString> m_gone;
    std::vector<qint64> m_latencies;
    size_t m_taken = 0;
};

void Measure(benchmark::State& state, bool bridge) {
    Rig rig;
    if (!QFileInfo(u"/usr/bin/chromium"_s).isExecutable() ||
        !(bridge ? rig.StartBridge() : rig.StartDevTools())) {
        state.SkipWithError("no Chromium");
        return;
    }
    std::vector<double> all;
    for (auto _ : state) {
        for (int tab = 0; tab < kTabs; ++tab) {
            const qint64 ms = rig.Next();
            if (ms < 0) {
                state.SkipWithError("no blocked tab closed within 20 s");
                return;
            }
            all.push_back(static_cast<double>(ms));
        }
    }
    std::sort(all.begin(), all.end());
    state.counters["median_ms"] = all[all.size() / 2];
    state.counters["worst_ms"] = all.back();
}

void BM_BlockedTabGoneBridge(benchmark::State& state) {
    Measure(state, true);
}
void BM_BlockedTabGoneDevTools(benchmark::State& state) {
    Measure(state, false);
}
void BM_BlockedFromListGoneBridge(benchmark::State& state) {
    Rig rig;
    if (!QFileInfo(u"/usr/bin/chromium"_s).isExecutable() || !rig.StartBridge(ListOpenerPage())) {
        state.SkipWithError("no Chromium");
        return;
    }
    std::vector<double> all;
    for (auto _ : state) {
        for (int tab = 0; tab < kTabs; ++tab) {
            const qint64 ms = rig.BlockFromList(ListedTitle(tab));
            if (ms < 0) {
                state.SkipWithError("a tab blocked from the list did not go within 20 s");
                return;
            }
            all.push_back(static_cast<double>(ms));
        }
    }
    std::sort(all.begin(), all.end());
    state.counters["median_ms"] = all[all.size() / 2];
    state.counters["worst_ms"] = all.back();
}

void BM_SiteRulesInForce(benchmark::State& state) {
    Rig rig;
    BrowserSource* bridge =
        QFileInfo(u"/usr/bin/chromium"_s).isExecutable() ? rig.StartSites() : nullptr;
    const auto shown = [&](const QString& address) {
        const BrowserPass pass = bridge->TakePass();
        return std::any_of(pass.windows.begin(), pass.windows.end(),
                           [&](const BrowserWindow& tab) { return tab.url.contains(address); });
    };
    // Timed from when the probe is under way, not from the browser's start.
    if (!bridge || !QTest::qWaitFor([&] { return shown(u"http://probe.test/"_s); }, 30000)) {
        state.SkipWithError("no Chromium with the extension");
        return;
    }
    SiteRules rules;
    for (int i = 1; i < kSiteRules; ++i)
        rules.block.append(u"site-%1.example.com"_s.arg(i));
    rules.block.append(u"probe.test"_s);
    const auto refused = [&] {
        return shown(u"/blocked.html#probe.test"_s);
    };
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        bridge->SetSiteRules(rules);
        if (!QTest::qWaitFor(refused, 10000)) {
            state.SkipWithError("the rules were not in force within 10 s");
            return;
        }
        state.counters["in_force_ms"] = static_cast<double>(clock.elapsed());
    }
}

BENCHMARK(BM_BlockedTabGoneBridge)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_BlockedFromListGoneBridge)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_SiteRulesInForce)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlockedTabGoneDevTools)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
