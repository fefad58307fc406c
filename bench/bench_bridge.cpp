// From a blocked title appearing in a real Chromium tab to that tab being gone, through the
// companion extension, winwarden-host and the bridge source, with a close requested as soon as
// the source says a tab changed. One repetition per tab; the median and the worst are the
// figures to read. Needs /usr/bin/chromium; skipped without it.
#include "sources/bridge/bridgesource.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <csignal>
#include <set>
#include <unistd.h>

using namespace winwarden;
using namespace Qt::StringLiterals;

namespace {

constexpr int kTabs = 20;
const QString kBlocked = u"坏页 "_s; // followed by the moment the title was set, in ms

bool WriteFile(const QString& path, const QByteArray& contents) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

// A headless Chromium whose first page opens a tab every 1.5 s; each tab sets a blocked title
// stamped with the browser's clock 300 ms after it loads.
class Rig final {
public:
    bool Start() {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_dir.path()));
        m_source = MakeBridgeSource();
        const QString host = QCoreApplication::applicationDirPath() + u"/../host/winwarden-host"_s;
        const QString extension =
            QFileInfo(QStringLiteral(__FILE__)).absoluteDir().filePath(u"../extension"_s);
        const QByteArray manifest = "{\"name\":\"net.winwarden.host\",\"description\":\"w\","
                                    "\"type\":\"stdio\",\"path\":\"" +
                                    QFileInfo(host).canonicalFilePath().toUtf8() +
                                    "\",\"allowed_origins\":[\"chrome-extension://"
                                    "nmmkcloaiigldlkhkbnmgnjkbgnifpek/\"]}";
        if (!QFileInfo(u"/usr/bin/chromium"_s).isExecutable() ||
            !WriteFile(m_dir.filePath(u"p/NativeMessagingHosts/net.winwarden.host.json"_s),
                       manifest) ||
            !WriteFile(m_dir.filePath(u"opener.html"_s),
                       "<title>opener</title><script>let n = 0; setInterval(() => { if (n++ < " +
                           QByteArray::number(kTabs + 2) +
                           ") window.open('blocked.html'); }, 1500);</script>") ||
            !WriteFile(m_dir.filePath(u"blocked.html"_s),
                       "<meta charset=utf-8><title>t</title><script>setTimeout(() => "
                       "document.title = '" +
                           kBlocked.toUtf8() + "' + Date.now(), 300);</script>")) {
            return false;
        }
        m_browser.setStandardOutputFile(QProcess::nullDevice());
        m_browser.setStandardErrorFile(QProcess::nullDevice());
        m_browser.setChildProcessModifier([] { ::setsid(); });
        m_browser.start(
            u"/usr/bin/chromium"_s,
            {u"--headless=new"_s, u"--no-sandbox"_s, u"--disable-gpu"_s, u"--no-first-run"_s,
             u"--disable-background-networking"_s, u"--disable-component-update"_s,
             u"--disable-sync"_s, u"--disable-popup-blocking"_s,
             u"--user-data-dir="_s + m_dir.filePath(u"p"_s), u"--load-extension="_s + extension,
             u"file://"_s + m_dir.filePath(u"opener.html"_s)});
        // The monitor's part, done at once: close every blocked tab, note when it is gone.
        m_source->SetChangeNotifier([this] {
            std::set<QString> present;
            for (const BrowserWindow& window : m_source->TakePass().windows) {
                if (!window.title.startsWith(kBlocked)) {
                    continue;
                }
                present.insert(window.handle.id);
                if (m_shown
                        .emplace(window.handle.id, window.title.mid(kBlocked.size()).toLongLong())
                        .second) {
                    m_source->RequestClose(window.handle);
                }
            }
            for (const auto& [id, shownAt] : m_shown) {
                if (!present.contains(id) && m_gone.insert(id).second) {
                    m_latencies.push_back(QDateTime::currentMSecsSinceEpoch() - shownAt);
                }
            }
        });
        return m_browser.waitForStarted(10000);
    }

    ~Rig() {
        if (m_browser.state() != QProcess::NotRunning) {
            ::kill(-static_cast<pid_t>(m_browser.processId()), SIGKILL);
            m_browser.waitForFinished(5000);
        }
    }

    // The next latency in ms, or -1 when none comes within 20 s.
    qint64 Next() {
        QElapsedTimer waited;
        waited.start();
        while (m_taken >= m_latencies.size() && waited.elapsed() < 20000) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        }
        return m_taken < m_latencies.size() ? m_latencies[m_taken++] : -1;
    }

private:
    QTemporaryDir m_dir;
    QProcess m_browser;
    std::unique_ptr<BrowserSource> m_source;
    std::map<QString, qint64> m_shown;
    std::set<QString> m_gone;
    std::vector<qint64> m_latencies;
    size_t m_taken = 0;
};

Rig* g_rig = nullptr;

void BM_BridgeBlockedTabGone(benchmark::State& state) {
    if (g_rig == nullptr) {
        state.SkipWithError("no Chromium");
        return;
    }
    for (auto _ : state) {
        const qint64 ms = g_rig->Next();
        if (ms < 0) {
            state.SkipWithError("no blocked tab closed within 20 s");
            return;
        }
        state.SetIterationTime(double(ms) / 1000.0);
    }
}
BENCHMARK(BM_BridgeBlockedTabGone)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(kTabs)
    ->ComputeStatistics("max",
                        [](const std::vector<double>& v) {
                            return *std::max_element(v.begin(), v.end());
                        })
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Rig rig;
    if (rig.Start()) {
        g_rig = &rig;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
