// The guard as a system service, installed with `cmake --install` in private namespaces: it
// runs as its own user, a child is another uid browsing in a real Chromium with the
// policy-installed extension, and the administrator is a uid in the group winwarden, or root.
#include "control/guardmonitor.h"
#include "platform/bridgeprotocol.h"
#include "sources/devtools/devtoolsclient.h"
#include "sources/devtools/devtoolsendpoints.h"
#include "sources/devtools/targetlist.h"
#include "tests/support/bridgebrowser.h"
#include "tests/support/nativehost.h"
#include "tests/support/peeruser.h"
#include "tests/support/privatesystem.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;

namespace {

constexpr uid_t kGuardUid = 4240;
constexpr uid_t kChild1 = 4242;
constexpr uid_t kChild2 = 4243;
constexpr uid_t kParent = 4244; // in the group winwarden (gid 4240)
const QString kRun = u"/run/winwarden"_s;
const QString kState = u"/var/lib/winwarden"_s;
const QString kRules = kState + u"/winwarden.mdb"_s;
const QString kGuardProgram = u"/usr/local/sbin/winwarden-guard"_s;
const QString kUnit = u"/usr/local/lib/systemd/system/winwarden-guard.service"_s;
// The extension's pages for a web page while no guard answers, and for a site a rule blocks.
const QString kShut = u"浏览哨兵未运行，暂时不能打开网页"_s;
const QString kSiteBlocked = u"此网站已被浏览哨兵禁止："_s;

struct Run {
    int status = -1;
    QString output;
};

// How setpriv makes a process `uid`'s, with no groups of ours.
QStringList As(uid_t uid) {
    return {u"--reuid=%1"_s.arg(uid), u"--regid=%1"_s.arg(uid), u"--clear-groups"_s};
}

// `command` as `uid` (0: as we are, root), with its standard output and error.
Run RunAs(uid_t uid, const QStringList& command) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (uid == 0)
        process.start(command.front(), command.mid(1));
    else
        process.start(u"setpriv"_s, As(uid) + command);
    const bool ran = process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit;
    return {ran ? process.exitCode() : -1, QString::fromUtf8(process.readAll())};
}

QStringList Titles() {
    return RunAs(0, {u"sqlite3"_s, u"-readonly"_s, kRules, u"SELECT 窗口名称 FROM 窗口名表"_s})
        .output.split(u'\n', Qt::SkipEmptyParts);
}

bool Append(const QString& path, const QByteArray& text) {
    QFile file(path);
    return file.open(QIODevice::Append) && file.write(text) == text.size();
}

// The guard as the unit runs it: its own user, and /proc showing processes only
// (ProcSubset=pid), in a mount namespace of its own.
class GuardProcess final {
public:
    ~GuardProcess() { Stop(); }
    bool Start() {
        m_process.start(u"unshare"_s,
                        {u"-m"_s, u"--propagation"_s, u"private"_s, u"sh"_s, u"-c"_s,
                         u"mount -t proc -o subset=pid proc /proc && exec setpriv %1 %2"_s.arg(
                             As(kGuardUid).join(u' '), kGuardProgram)});
        QLocalSocket probe;
        return m_process.waitForStarted() &&
               QTest::qWaitFor(
                   [&] {
                       probe.connectToServer(QLatin1StringView(kSystemBridgeSocket));
                       return probe.waitForConnected(100);
                   },
                   10000);
    }
    void Stop() {
        m_process.kill();
        m_process.waitForFinished();
    }
    qint64 Pid() const { return m_process.processId(); }
    bool Running() const { return m_process.state() == QProcess::Running; }
    // What it said on standard error (the journal, under systemd) so far.
    QString Said() {
        m_said += QString::fromUtf8(m_process.readAllStandardError());
        return m_said;
    }

private:
    QProcess m_process;
    QString m_said;
};

// A child's headless Chromium on a home and a runtime folder of its own, with the policies'
// extension, web pages from `pages`, and a DevTools port through which the test (only) sees
// and opens its tabs. Asked for an incognito window, where the extension would see nothing, it
// opens a normal one: the policies forbid incognito.
bool StartChildsChromium(BrowserProcess& chromium, uid_t uid, const PageServer& pages) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"HOME"_s, chromium.Path(u"home"_s));
    environment.insert(u"XDG_RUNTIME_DIR"_s, chromium.Path(u"run"_s));
    environment.remove(u"XDG_CONFIG_HOME"_s);
    QStringList flags = HeadlessChromiumFlags(chromium);
    flags.removeAll(u"--disable-background-networking"_s); // it would fetch no forced extension
    flags << u"--remote-debugging-port=0"_s << u"--proxy-server=http://"_s + pages.Proxy()
          << u"--disable-features=HttpsUpgrades"_s << u"--incognito"_s
          << chromium.Url(u"pages/opener.html"_s);
    return QDir().mkpath(chromium.Path(u"home"_s)) && QDir().mkpath(chromium.Path(u"run"_s)) &&
           RunAs(0, {u"chown"_s, u"-R"_s, u"%1:%1"_s.arg(uid), chromium.Path(u"."_s)}).status ==
               0 &&
           chromium.Start(u"setpriv"_s, As(uid) << u"/usr/bin/chromium"_s << flags, environment);
}

QString Endpoint(const BrowserProcess& chromium) {
    return ParseDevToolsEndpoints(chromium.Path(u"profile/DevToolsActivePort"_s))
        .endpoints.value(0);
}

std::vector<DevToolsTarget> Pages(const QString& endpoint) {
    std::vector<DevToolsTarget> pages;
    for (DevToolsTarget& target : DecodeTargetList(FetchTargetList(endpoint).value_or(""))
                                      .value_or(std::vector<DevToolsTarget>{}))
        if (target.type == "page"_L1)
            pages.push_back(std::move(target));
    return pages;
}

// The titles of the pages open in a browser, as its DevTools port lists them.
QStringList OpenTitles(const BrowserProcess& chromium) {
    QStringList titles;
    for (const DevToolsTarget& page : Pages(Endpoint(chromium)))
        titles.append(page.title);
    titles.sort();
    return titles;
}

// Opens http://<host>/ in a new tab of the browser, and closes it once it shows the served page
// ("页 <host>") or one of the extension's (kShut, kSiteBlocked); that title, or empty after 5 s
// of neither.
QString Probe(const QString& endpoint, const QString& host) {
    const QString id = OpenTab(endpoint, u"http://"_s + host + u'/');
    QString title;
    (void)QTest::qWaitFor(
        [&] {
            for (const DevToolsTarget& page : Pages(endpoint))
                if (page.id == id && (page.title == kShut || page.title == u"页 "_s + host ||
                                      page.title == kSiteBlocked + host))
                    title = page.title;
            return !title.isEmpty();
        },
        5000);
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
    // Installed as an administrator would: users in /etc (of the overlay), the program, its
    // unit and configuration by `cmake --install`, the extension by the browsers' policies,
    // and the folders that systemd makes for the unit, left open to all with the rules in them:
    // the guard mends them.
    void initTestCase() {
        QVERIFY(Append(u"/etc/passwd"_s,
                       "winwarden:x:4240:4240::/var/lib/winwarden:/usr/sbin/nologin\n"
                       "child1:x:4242:4242::/nonexistent:/bin/sh\n"
                       "child2:x:4243:4243::/nonexistent:/bin/sh\n"));
        QVERIFY(Append(u"/etc/group"_s, "winwarden:x:4240:\nchild1:x:4242:\nchild2:x:4243:\n"));
        const QString build = QCoreApplication::applicationDirPath() + u"/.."_s;
        const Run install =
            RunAs(0, {u"cmake"_s, u"--install"_s, build, u"--prefix"_s, u"/usr/local"_s});
        QVERIFY2(install.status == 0, qPrintable(install.output));
        if (!QStandardPaths::findExecutable(u"systemd-analyze"_s).isEmpty()) {
            const Run verify = RunAs(0, {u"systemd-analyze"_s, u"verify"_s, kUnit});
            QVERIFY2(verify.status == 0 && verify.output.isEmpty(), qPrintable(verify.output));
        }
        const Run policies = RunAs(0, {u"/usr/local/bin/winwarden-browser"_s, u"install"_s,
                                       u"--system"_s, u"--fail-closed"_s, u"--no-incognito"_s});
        QVERIFY2(policies.status == 0, qPrintable(policies.output));
        QVERIFY(QDir().mkpath(kRun) && QDir().mkpath(kState));
        QCOMPARE(RunAs(0, {u"/usr/local/bin/winwarden-db"_s, u"create"_s, kRules}).status, 0);
        QCOMPARE(RunAs(0, {u"chown"_s, u"4240:4240"_s, kRun, kState, kRules}).status, 0);
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
        QVERIFY(host.Process().readAllStandardError().contains("is not the guard's (uid 4242)"));
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
    // the child's browser (other users' browsers kept apart: sources.test_sources); a 网站
    // rule the parent adds is in force before a page of the site loads. Meanwhile another
    // child runs a browser without the extension, which the guard, another user, sees by its
    // command line.
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
        // The visit record: the parent reads the child's pages and the blocked try with its
        // rule; each child reads their own alone, whatever they ask the guard for.
        const auto tried = [&] {
            for (const VisitRow& visit : parent.ListVisits({}))
                if (visit.uid == kChild1 && visit.title == kBlockedTitle &&
                    visit.result == u"禁止"_s && visit.rule == u"窗口名称"_s)
                    return true;
            return false;
        };
        QVERIFY(QTest::qWaitFor(tried, 10000));
        bool opened = false;
        for (const VisitRow& visit : parent.ListVisits({}))
            opened = opened || (visit.uid == kChild1 && visit.user == u"child1"_s &&
                                visit.title == kOpenerTitle && visit.result == u"通过"_s &&
                                visit.end >= visit.start);
        QVERIFY(opened);
        GuardMonitor child(QString::fromLatin1(kGuardControlSocket)),
            other(QString::fromLatin1(kGuardControlSocket));
        bool connected = false;
        QVERIFY(AsUser(kChild1, kChild1, {}, [&] { connected = child.Connect(); }) && connected);
        QVERIFY(AsUser(kChild2, kChild2, {}, [&] { connected = other.Connect(); }) && connected);
        VisitQuery theOthers;
        theOthers.uid = kChild2;
        const std::vector<VisitRow> own = child.ListVisits(theOthers);
        QVERIFY(!own.empty());
        for (const VisitRow& visit : own)
            QCOMPARE(visit.uid, qint64(kChild1));
        VisitQuery child1s;
        child1s.uid = kChild1;
        QVERIFY(other.ListVisits(child1s).empty());
        const QString without = u"用户 child2（4243）：Firefox 正在运行，但没有连上浏览哨兵扩展"_s;
        QVERIFY2(QTest::qWaitFor([&] { return m_guard.Said().contains(without); }, 20000),
                 qPrintable(m_guard.Said()));
        QCOMPARE(m_guard.Said().count(without), 1);
        QVERIFY(!m_guard.Said().contains(u"Chromium 正在运行"_s));
        // A 网站 rule of the parent's reaches the browsers: its site is refused before it loads.
        QVERIFY(parent.AddMatchRule(u"网站"_s, u"game.test"_s, u"禁止"_s));
        bool refused = false;
        for (int n = 0; !refused && n < 10; ++n) {
            const QString host = u"p%1.game.test"_s.arg(n);
            refused = Probe(Endpoint(m_first), host) == kSiteBlocked + host && !m_pages.Saw(host);
        }
        QVERIFY2(refused, "the parent's 网站 rule did not refuse its site ahead");
        unwatched.kill();
        unwatched.waitForFinished();
    }

    // Installed with --fail-closed: 10 s after the guard stopped, the child's browser opens no
    // web page (though a winwarden of the child's own answers: e2e.test_e2e_policy). With a
    // guard back, pages load again.
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

        QVERIFY(m_guard.Start());
        bool loaded = false;
        for (int n = 0; !loaded && n < 20; ++n)
            loaded = Probe(endpoint, u"q%1.test"_s.arg(n)) == u"页 q%1.test"_s.arg(n);
        QVERIFY2(loaded, "web pages stayed refused with the guard back");
    }

    // The child can neither end the guard nor touch its rules, which the guard keeps (with their
    // folders) from others; its checks say all is in order.
    void theChildCannotStopTheGuardNorChangeItsRules() {
        const QString pid = QString::number(m_guard.Pid());
        QVERIFY(RunAs(kChild1, {u"kill"_s, u"-TERM"_s, pid}).status != 0);
        QVERIFY(RunAs(kChild1, {u"sqlite3"_s, kRules, u"DELETE FROM 窗口名表"_s}).status != 0);
        for (const auto& [path, mode] :
             {std::pair{kRun, 0755u}, std::pair{kState, 0750u}, std::pair{kRules, 0640u}}) {
            struct stat info {};
            QVERIFY(::stat(QFile::encodeName(path).constData(), &info) == 0);
            QCOMPARE(info.st_uid, kGuardUid);
            QCOMPARE(info.st_mode & 0777, mode);
        }
        const Run check = RunAs(0, {kGuardProgram, u"--check"_s});
        QVERIFY2(check.status == 0 && check.output.contains(u"用户 winwarden（4240）"_s),
                 qPrintable(check.output));
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
