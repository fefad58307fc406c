// The guard as a system service, installed with `cmake --install` in private namespaces: it
// runs as its own user, a child is another uid browsing in a real Chromium with the
// policy-installed extension, and the administrator is a uid in the group winwarden, or root.
#include "control/guardmonitor.h"
#include "platform/bridgeprotocol.h"
#include "signing/guardkey.h"
#include "sources/devtools/devtoolsclient.h"
#include "sources/devtools/devtoolsendpoints.h"
#include "sources/devtools/targetlist.h"
#include "tests/support/bridgebrowser.h"
#include "tests/support/guardrun.h"
#include "tests/support/nativehost.h"
#include "tests/support/peeruser.h"
#include "tests/support/privatesystem.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <sys/stat.h>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;

namespace {

constexpr uid_t kChild1 = 4242;
constexpr uid_t kChild2 = 4243;
constexpr uid_t kParent = 4244; // in the group winwarden (gid 4240)
const QString kRules = kState + u"/winwarden.mdb"_s;
const QString kUnit = u"/usr/local/lib/systemd/system/winwarden-guard.service"_s;
// The extension's pages for a web page while no guard answers, and for a site a rule blocks.
const QString kShut = u"浏览哨兵未运行，暂时不能打开网页"_s;
const QString kSiteBlocked = u"此网站已被浏览哨兵禁止："_s;

QStringList Titles() {
    return RunAs(0, {u"sqlite3"_s, u"-readonly"_s, kRules, u"SELECT 窗口名称 FROM 窗口名表"_s})
        .output.split(u'\n', Qt::SkipEmptyParts);
}

QString Endpoint(const BrowserProcess& chromium) {
    return ParseDevToolsEndpoints(chromium.Path(u"profile/DevToolsActivePort"_s))
        .endpoints.value(0);
}

// The browser's targets of a type ("page", "service_worker"), as its DevTools port lists them.
std::vector<DevToolsTarget> Targets(const QString& endpoint, const QString& type = u"page"_s) {
    std::vector<DevToolsTarget> targets;
    for (DevToolsTarget& target : DecodeTargetList(FetchTargetList(endpoint).value_or(""))
                                      .value_or(std::vector<DevToolsTarget>{}))
        if (target.type == type)
            targets.push_back(std::move(target));
    return targets;
}

QStringList OpenTitles(const BrowserProcess& chromium) {
    QStringList titles;
    for (const DevToolsTarget& page : Targets(Endpoint(chromium)))
        titles.append(page.title);
    titles.sort();
    return titles;
}

// The title of the page `id` of a browser.
QString Title(const QString& endpoint, const QString& id) {
    for (const DevToolsTarget& page : Targets(endpoint))
        if (page.id == id)
            return page.title;
    return {};
}

// Opens http://<host>/ in a new tab, and waits up to `ms` for it to show the served page
// ("页 <host>") or one of the extension's (kShut, kSiteBlocked); the title it shows then. The
// tab closes unless it shows the served page and `open` asks for its id.
QString Probe(const QString& endpoint, const QString& host, int ms = 5000,
              QString* open = nullptr) {
    const QString id = OpenTab(endpoint, u"http://"_s + host + u'/');
    const QString served = u"页 "_s + host;
    QString title;
    (void)QTest::qWaitFor(
        [&] {
            title = Title(endpoint, id);
            return title == kShut || title == served || title == kSiteBlocked + host;
        },
        ms);
    if (open && title == served)
        *open = id;
    else
        CloseTarget(endpoint, id);
    return title;
}

// The parent's monitor on the guard, as the window of a uid in the group winwarden has it.
bool ConnectAsParent(GuardMonitor& monitor) {
    bool connected = false;
    return AsUser(kParent, kParent, {kGuardUid}, [&] { connected = monitor.Connect(); }) &&
           connected;
}

} // namespace

class TestE2eGuard final : public QObject {
    Q_OBJECT

    GuardProcess m_guard;
    PageServer m_pages;
    BrowserProcess m_first;

private Q_SLOTS:
    // Installed as an administrator would, with the unit and the folders that systemd makes
    // for it left open to all with the rules in them: the guard mends them.
    void initTestCase() {
        const Run install =
            InstallGuard({{"child1", 4242}, {"child2", 4243}}, {}, {u"--no-incognito"_s});
        QVERIFY2(install.status == 0, qPrintable(install.output));
        if (!QStandardPaths::findExecutable(u"systemd-analyze"_s).isEmpty()) {
            const Run verify = RunAs(0, {u"systemd-analyze"_s, u"verify"_s, kUnit});
            QVERIFY2(verify.status == 0 && verify.output.isEmpty(), qPrintable(verify.output));
        }
        QCOMPARE(RunAs(0, {u"/usr/local/bin/winwarden-db"_s, u"create"_s, kRules}).status, 0);
        QCOMPARE(RunAs(0, {u"chown"_s, u"4240:4240"_s, kRules}).status, 0);
        QCOMPARE(RunAs(0, {u"chmod"_s, u"go+rwx"_s, kRun, kState, kRules}).status, 0);
    }

    // A host takes no socket in the guard's place for the guard's, falls back to the user's
    // own winwarden, and moves to the guard as soon as it comes up; the guard refuses a runtime
    // folder of another user's.
    void hostsTrustOnlyTheGuardAndMoveToIt() {
        RuntimeFolder runtime;
        FakeWinwarden own;
        auto impostor = std::make_unique<FakeWinwarden>();
        QVERIFY(own.Listen(BridgeSocketPath()));
        QCOMPARE(RunAs(0, {u"chown"_s, u"4242"_s, kRun}).status, 0);
        QVERIFY(::seteuid(kChild1) == 0);
        const bool listening = impostor->Listen(QLatin1StringView(kSystemBridgeSocket));
        QVERIFY(::seteuid(0) == 0);
        QVERIFY(listening);
        HostProcess host;
        QVERIFY(host.Start());
        host.Send(EncodeBridgeMessage(BridgeHello{u"chromium"_s, u"1"_s, {}, u"admin"_s}));
        host.Send(EncodeBridgeMessage(BridgeTabs{{{1, u"主机页"_s, u"http://h.test/"_s, false}}}));
        QVERIFY(own.WaitForMessages(3));
        QVERIFY(impostor->Messages().empty());
        QVERIFY(host.Process().readAllStandardError().contains("不属于守护程序（uid 4242）"));
        const Run refused = RunAs(kGuardUid, {kGuardProgram});
        QVERIFY2(refused.status == 1 && refused.output.contains(u"属于另一个用户（uid 4242）"_s),
                 qPrintable(refused.output));
        impostor.reset(); // its socket goes with it
        QCOMPARE(RunAs(0, {u"chown"_s, u"4240"_s, kRun}).status, 0);

        QVERIFY(m_guard.Start());
        QVERIFY2(QTest::qWaitFor([] { return Titles() == QStringList{u"主机页"_s}; }, 10000),
                 qPrintable(m_guard.Said()));
        QVERIFY(QTest::qWaitFor([&] { return !host.Alives().empty(); }, 5000));
        QCOMPARE(host.Alives().back(), EncodeBridgeMessage(BridgeAlive{true}));
    }

    // The parent blocks a child's page through the guard's control socket, and it closes in
    // the child's browser (other users' browsers kept apart: sources.test_sources). Meanwhile
    // another child runs a browser without the extension, which the guard, another user, sees
    // by its command line.
    void aChildsPagesAreBlockedByTheParent() {
        QTemporaryDir bin;
        const QString firefox = bin.filePath(u"firefox"_s);
        QVERIFY(QFile::copy(u"/bin/sh"_s, firefox) &&
                ::chmod(QFile::encodeName(bin.path()).constData(), 0755) == 0);
        QProcess unwatched;
        unwatched.start(u"setpriv"_s, As(kChild2) << firefox << u"-c"_s << u"sleep 120"_s);
        QVERIFY(unwatched.waitForStarted());
        QVERIFY(WritePages(m_first));
        QVERIFY(StartChildsChromium(m_first, kChild1, m_pages));
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         const QStringList titles = Titles();
                         return titles.contains(kBlockedTitle) && titles.contains(kOpenerTitle);
                     },
                     90000),
                 qPrintable(m_guard.Said()));
        QCOMPARE(OpenTitles(m_first), (QStringList{kBlockedTitle, kOpenerTitle}));

        GuardMonitor parent(QString::fromLatin1(kGuardControlSocket));
        QVERIFY(ConnectAsParent(parent) && parent.MayChangeRules());
        QCOMPARE(
            parent.SetFlagForWindow(u"禁止"_s, kBlockedTitle, m_first.Url(u"pages/blocked.html"_s)),
            1);
        QVERIFY(QTest::qWaitFor([&] { return OpenTitles(m_first) == QStringList{kOpenerTitle}; },
                                10000));
        // The visit record: the parent reads the child's pages and the blocked try with its rule
        // (what a child may read of it: control.test_control).
        const auto recorded = [&](const QString& title, const QString& result) {
            for (const VisitRow& visit : parent.ListVisits({}))
                if (visit.uid == kChild1 && visit.user == u"child1"_s && visit.title == title &&
                    visit.result == result && visit.end >= visit.start &&
                    (result == u"通过"_s || visit.rule == u"窗口名称"_s))
                    return true;
            return false;
        };
        QVERIFY(QTest::qWaitFor(
            [&] { return recorded(kBlockedTitle, u"禁止"_s) && recorded(kOpenerTitle, u"通过"_s); },
            10000));
        const QString without = u"用户 child2（4243）：Firefox 正在运行，但没有连上浏览哨兵扩展"_s;
        QVERIFY2(QTest::qWaitFor([&] { return m_guard.Said().contains(without); }, 20000),
                 qPrintable(m_guard.Said()));
        QCOMPARE(m_guard.Said().count(without), 1);
        QVERIFY(!m_guard.Said().contains(u"Chromium 正在运行"_s));
        unwatched.kill();
        unwatched.waitForFinished();
    }

    // Installed with --fail-closed: 10 s after the guard stopped, the child's browser opens no
    // web page (nor does it for a host of the child's own: e2e.test_e2e_policy); a Chromium
    // started while the guard is down opens none at all, though it has never heard of one. With
    // the guard back, pages load again within 2 s, and a refused one by itself.
    void webPagesWaitForTheGuard() {
        const QString endpoint = Endpoint(m_first);
        QCOMPARE(Probe(endpoint, u"before.test"_s), u"页 before.test"_s);
        m_guard.Stop();
        const auto back = qScopeGuard([&] { (void)(m_guard.Running() || m_guard.Start()); });
        QElapsedTimer clock;
        clock.start();
        QString refused;
        for (int n = 0; clock.elapsed() < 40000; ++n) {
            refused = u"p%1.test"_s.arg(n);
            if (Probe(endpoint, refused) == kShut)
                break;
        }
        QVERIFY2(clock.elapsed() < 40000, "web pages still open without a guard");
        QVERIFY(!m_pages.Saw(refused));
        const QString waiting = OpenTab(endpoint, u"http://waited.test/"_s);

        BrowserProcess late;
        QVERIFY(StartChildsChromium(late, kChild2, m_pages));
        QString lateEndpoint;
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         lateEndpoint = Endpoint(late);
                         const auto workers = Targets(lateEndpoint, u"service_worker"_s);
                         return std::any_of(workers.begin(), workers.end(), [](const auto& t) {
                             return t.url.startsWith(u"chrome-extension://"_s +
                                                     QLatin1StringView(kBridgeChromiumId));
                         });
                     },
                     60000),
                 "the policies' extension never started in the new browser");
        // A newly installed extension gets its policy a moment after it starts.
        QTest::qWait(3000);
        // Refused: the extension's page, or the browser's own error where the redirect is not
        // yet allowed; never the page itself.
        QVERIFY(Probe(lateEndpoint, u"fresh.test"_s) != u"页 fresh.test"_s);
        QVERIFY(!m_pages.Saw(u"fresh.test"_s));
        QCOMPARE(Title(endpoint, waiting), kShut);

        QVERIFY(m_guard.Start());
        QVERIFY2(
            QTest::qWaitFor([&] { return Title(endpoint, waiting) == u"页 waited.test"_s; }, 2000),
            "the refused page did not load by itself within 2 s of the guard's start");
        // The other browser's host finds the guard on its own time (within 250 ms).
        QVERIFY(QTest::qWaitFor(
            [&] { return Probe(lateEndpoint, u"fresh2.test"_s) == u"页 fresh2.test"_s; }, 5000));
        CloseTarget(endpoint, waiting);
    }

    // A 网站 rule of the parent's whose time begins while a page of its site is open (the
    // guard's wall clock set to just before it): the page closes, and the next navigation to the
    // site is refused before it reaches the server.
    void aScheduleThatBeginsClosesItsSite() {
        // 21:00 on the guard's clock comes 40 s after this.
        QElapsedTimer clock;
        clock.start();
        const QDateTime now = QDateTime::currentDateTime();
        const qint64 offset = now.secsTo(QDateTime(now.date(), QTime(20, 59, 20)));
        m_guard.Stop();
        const auto plain = qScopeGuard([&] {
            m_guard.Stop();
            (void)m_guard.Start();
        });
        QVERIFY(m_guard.Start({}, QString::number(offset)));
        GuardMonitor parent(QString::fromLatin1(kGuardControlSocket));
        QVERIFY(QTest::qWaitFor([&] { return ConnectAsParent(parent); }, 10000));
        QVERIFY(parent.AddMatchRule(u"网站"_s, u"late.test"_s, u"禁止"_s));
        QCOMPARE(parent.SetMatchRuleTimes(parent.FindMatchRule(u"网站"_s, u"late.test"_s)->id,
                                          u"每天 21:00-22:00"_s),
                 1);
        // Before 21:00 on the guard's clock the site loads (once the browser has the guard).
        const QString endpoint = Endpoint(m_first);
        QString tab;
        for (int n = 0; tab.isEmpty() && clock.elapsed() < 32000; ++n)
            Probe(endpoint, u"p%1.late.test"_s.arg(n), 3000, &tab);
        QVERIFY2(!tab.isEmpty(), "the site did not load before its time");
        // Gone: no longer listed. A list that cannot be read in time (a browser busy on a loaded
        // machine) says nothing either way.
        const auto gone = [&] {
            const auto list = FetchTargetList(endpoint);
            const auto targets = list ? DecodeTargetList(*list) : std::nullopt;
            return targets && std::none_of(targets->begin(), targets->end(),
                                           [&](const DevToolsTarget& t) { return t.id == tab; });
        };
        QVERIFY2(QTest::qWaitFor(gone, 60000), qPrintable(m_guard.Said()));
        QVERIFY2(clock.elapsed() > 38500, "closed before its time");
        // The close and the site rule leave in the same cycle, but the browser puts the rule in
        // force on its own time: the next navigation is refused from the cycle after.
        QTest::qWait(2000);
        QCOMPARE(Probe(endpoint, u"www.late.test"_s), kSiteBlocked + u"www.late.test"_s);
        QVERIFY(!m_pages.Saw(u"www.late.test"_s));
    }

    // The child can neither end the guard nor touch its rules, which the guard keeps (with their
    // folders) from others; its checks say all is in order.
    void theChildCannotStopTheGuardNorChangeItsRules() {
        const QString pid = QString::number(m_guard.Pid());
        QVERIFY(RunAs(kChild1, {u"kill"_s, u"-TERM"_s, pid}).status != 0);
        QVERIFY(RunAs(kChild1, {u"sqlite3"_s, kRules, u"DELETE FROM 窗口名表"_s}).status != 0);
        // Nor read the key the guard signs with: it would sign for the guard.
        const QString key = QLatin1StringView(kGuardKeyFile);
        QVERIFY(RunAs(kChild1, {u"cat"_s, key}).status != 0);
        for (const auto& [path, mode] : {std::pair{kRun, 0755u}, std::pair{kState, 0750u},
                                         std::pair{kRules, 0640u}, std::pair{key, 0600u}}) {
            struct stat info {};
            QVERIFY(::stat(QFile::encodeName(path).constData(), &info) == 0);
            QCOMPARE(info.st_uid, kGuardUid);
            QCOMPARE(info.st_mode & 0777, mode);
        }
        const Run check = RunAs(0, {kGuardProgram, u"--check"_s});
        QVERIFY2(check.status == 0 && check.output.contains(u"用户 winwarden（4240）"_s),
                 qPrintable(check.output));
    }

    // Everything the guard said in these runs (its journal under systemd) is in one voice: its
    // own name first, then a Chinese sentence (an English one may quote a Chinese name).
    void theGuardsLogSpeaksOneLanguage() {
        const QStringList lines = m_guard.Said().split(u'\n', Qt::SkipEmptyParts);
        QVERIFY(!lines.isEmpty());
        static const QRegularExpression voice(u"^winwarden-guard: \\p{Han}"_s);
        for (const QString& line : lines)
            QVERIFY2(voice.match(line).hasMatch(), qPrintable(line));
    }
};

int main(int argc, char** argv) {
    return RunWithPrivateSystemFolders(argc, argv, [&] {
        QCoreApplication app(argc, argv);
        TestE2eGuard test;
        return QTest::qExec(&test, argc, argv);
    });
}

#include "test_e2e_guard.moc"
