// A soak run by hand against a real headless Chromium: tabs open and close every second,
// another process holds the rule file locked for 5 s every minute and flips one rule every
// 10 s. It reports how long blocked pages stayed open once their rule said 禁止 and the file
// was free, duplicate rules, and the memory of the process over the run; for each tab open too
// long, what the engine, the other process and the harness did in the seconds before.
//
//   build/bench/soak_monitor [minutes]     (default 60)
#include "bench/headlesschromium.h"
#include "engine/monitorengine.h"
#include "sources/devtools/devtoolsclient.h"
#include "sources/devtools/devtoolssource.h"
#include "sources/devtools/targetlist.h"
#include "tests/support/testdb.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <limits>

using namespace winwarden;
using namespace winwarden::test;

namespace {

constexpr int kTitles = 30;
constexpr int kMaxTabs = 15;
constexpr qint64 kAllowedMs = 2 * MonitorEngine::kMonitorPeriodMs;

QString Title(int i) {
    return QStringLiteral("浸泡页 %1").arg(i);
}

qint64 Now() {
    return QDateTime::currentMSecsSinceEpoch();
}

long RssKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// Runs the sqlite3 shell on `script` without waiting; `done` gets its exit status.
void Sqlite3(const QString& file, const QString& script, std::function<void(int)> done = {}) {
    auto* process = new QProcess;
    QObject::connect(process, &QProcess::finished, process, [process, done](int code) {
        if (done)
            done(code);
        process->deleteLater();
    });
    process->start(QStringLiteral("sqlite3"), {QStringLiteral("-batch"), file});
    process->write(script.toUtf8());
    process->closeWriteChannel();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int minutes = argc > 1 ? std::atoi(argv[1]) : 60;
    HeadlessChromium chromium;
    if (!chromium.Start()) {
        std::fprintf(stderr, "soak: %s\n", qPrintable(chromium.Error()));
        return 1;
    }
    TempRuleDb db;
    const QString endpoint = chromium.Endpoint();
    qputenv("WINWARDEN_DEVTOOLS", endpoint.toUtf8());
    MonitorEngine engine(MakeDevToolsSource());
    engine.OpenStore(db.path());
    engine.Start();

    QRandomGenerator random(20261207);
    QHash<int, qint64> blockedSince; // title -> when its rule became 禁止 (as we wrote it)
    qint64 lockedUntil = 0;          // the end of the last lock another process held
    QHash<QString, qint64> firstSeenBlocked; // tab id -> when it first should have gone
    qint64 worstMs = 0;
    int violations = 0, blockedTabs = 0, flips = 0, locks = 0, storeFailures = 0;
    QObject::connect(&engine, &MonitorEngine::storeFailed, [&] { ++storeFailures; });
    // What happened lately, for the account of a late tab: was the engine's cycle late, did it
    // fail on the lock, or was the browser slow to close?
    QList<std::pair<qint64, QString>> events;
    const auto note = [&](const QString& what) {
        const qint64 now = Now();
        events.append({now, what});
        while (!events.isEmpty() && events.first().first < now - 15000)
            events.removeFirst();
    };
    QObject::connect(&engine, &MonitorEngine::windowClosing,
                     [&](const QString& title) { note(QStringLiteral("close asked: ") + title); });
    QObject::connect(&engine, &MonitorEngine::cycleFinished,
                     [&] { note(QStringLiteral("cycle finished")); });
    QString storeFailure;
    QObject::connect(&engine, &MonitorEngine::statusChanged, [&](const MonitorStatus& status) {
        if (status.storeFailure != storeFailure)
            note(QStringLiteral("store: ") +
                 (status.storeFailure.isEmpty() ? QStringLiteral("ok") : status.storeFailure));
        storeFailure = status.storeFailure;
    });
    QSet<QString> reportedLate;

    // Churn: a tab a second, the oldest closed beyond kMaxTabs.
    QStringList opened;
    QTimer churn;
    QObject::connect(&churn, &QTimer::timeout, [&] {
        const qint64 start = Now();
        const QString id = chromium.OpenTab(HtmlPageUrl(Title(random.bounded(kTitles))));
        if (!id.isEmpty())
            opened.append(id);
        while (opened.size() > kMaxTabs)
            CloseTarget(endpoint, opened.takeFirst());
        // These calls wait on the browser on the engine's own thread, which the program never
        // does: a slow one delays the engine here and only here.
        if (Now() - start > 200)
            note(QStringLiteral("the churn waited %1 ms on the browser").arg(Now() - start));
    });
    churn.start(1000);

    // One rule flipped every 10 s by another process.
    QTimer flip;
    QObject::connect(&flip, &QTimer::timeout, [&] {
        const int i = random.bounded(kTitles);
        const bool block = !blockedSince.contains(i);
        // Written when the file is free: a flip during a lock waits for it, as a user would.
        // A title not met yet gets its rule now, as a user adding one ahead would.
        const QString script =
            QStringLiteral(
                ".timeout 20000\nBEGIN IMMEDIATE;\nINSERT INTO 窗口名表 (窗口名称,是否禁止,"
                "网址) SELECT '%2','%1','' WHERE NOT EXISTS (SELECT 1 FROM 窗口名表 "
                "WHERE 窗口名称='%2');\nUPDATE 窗口名表 SET 是否禁止='%1' WHERE "
                "窗口名称='%2';\nCOMMIT;\n")
                .arg(block ? QStringLiteral("禁止") : QStringLiteral("通过"), Title(i));
        Sqlite3(db.path(), script, [&, i, block](int code) {
            if (code != 0)
                return;
            ++flips;
            note(QStringLiteral("rule of %1 set to %2 by another process")
                     .arg(Title(i), block ? QStringLiteral("禁止") : QStringLiteral("通过")));
            if (block)
                blockedSince.insert(i, Now());
            else
                blockedSince.remove(i);
        });
    });
    flip.start(10000);

    // The file locked for 5 s every minute.
    QTimer lock;
    QObject::connect(&lock, &QTimer::timeout, [&] {
        ++locks;
        // Until the holder has let go, whenever that is on a busy machine.
        lockedUntil = std::numeric_limits<qint64>::max();
        note(QStringLiteral("lock asked"));
        Sqlite3(db.path(), QStringLiteral("BEGIN EXCLUSIVE;\n.shell sleep 5\nCOMMIT;\n"), [&](int) {
            lockedUntil = Now();
            note(QStringLiteral("lock released"));
        });
    });
    lock.start(60000);

    // The watch: every tab whose rule says 禁止 must go within two cycles of the moment its
    // rule said so, the tab was there and the file was free.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const qint64 start = Now();
        const auto answer = FetchTargetList(endpoint);
        if (Now() - start > 200)
            note(QStringLiteral("the watch waited %1 ms on the browser").arg(Now() - start));
        const auto targets = answer ? DecodeTargetList(*answer) : std::nullopt;
        if (!targets)
            return;
        const qint64 now = Now();
        for (const DevToolsTarget& target : *targets) {
            if (target.type != QStringLiteral("page"))
                continue;
            const int i = target.title.section(QLatin1Char(' '), 1).toInt();
            if (target.title != Title(i) || !blockedSince.contains(i))
                continue;
            if (!firstSeenBlocked.contains(target.id)) {
                firstSeenBlocked.insert(target.id, now);
                note(QStringLiteral("watch sees blocked tab %1 (%2)").arg(target.id, target.title));
                ++blockedTabs;
            }
            const qint64 due =
                std::max({blockedSince[i], firstSeenBlocked[target.id], lockedUntil});
            if (now - due > kAllowedMs) {
                ++violations;
                worstMs = std::max(worstMs, now - due);
                if (!reportedLate.contains(target.id)) {
                    reportedLate.insert(target.id);
                    std::printf("soak: late %s (tab %s), %lld ms past due; since due - 6 s:\n",
                                qPrintable(target.title), qPrintable(target.id),
                                static_cast<long long>(now - due));
                    for (const auto& [at, what] : events)
                        if (at >= due - 6000)
                            std::printf("soak:   %+6lld ms  %s\n", static_cast<long long>(at - due),
                                        qPrintable(what));
                    std::fflush(stdout);
                }
            }
        }
    });
    watch.start(250);

    long rssWarm = 0;
    QTimer::singleShot(60000, [&] { rssWarm = RssKiB(); });
    QTimer report;
    QObject::connect(&report, &QTimer::timeout, [&] {
        std::printf("soak: %s rss=%ld KiB tabs-blocked=%d flips=%d locks=%d late=%d\n",
                    qPrintable(QDateTime::currentDateTime().toString(Qt::ISODate)), RssKiB(),
                    blockedTabs, flips, locks, violations);
        std::fflush(stdout);
    });
    report.start(60000);
    QTimer::singleShot(minutes * 60000, &app, &QCoreApplication::quit);
    app.exec();

    engine.Stop();
    const QString duplicates =
        db.exec(QStringLiteral("SELECT count(*) - count(DISTINCT 窗口名称) FROM 窗口名表"));
    std::printf("soak: %d min, %d blocked tabs, %d rule flips, %d locks of 5 s, %d store failures "
                "reported\nsoak: late closes %d (worst %lld ms past two cycles), duplicate "
                "rules %s\nsoak: rss after 1 min %ld KiB, at the end %ld KiB\n",
                minutes, blockedTabs, flips, locks, storeFailures, violations,
                static_cast<long long>(worstMs), qPrintable(duplicates), rssWarm, RssKiB());
    return violations == 0 && duplicates == QStringLiteral("0") ? 0 : 1;
}
