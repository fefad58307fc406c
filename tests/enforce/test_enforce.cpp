// Ending the browsers the guard cannot watch: the scan over process folders a test writes, the
// decision cycle by cycle at chosen instants, the trust in an allowed program's file, and the
// ending itself on real processes (another uid, a pid that is no longer the one scanned).
#include "enforce/enforcedecision.h"
#include "enforce/protection.h"
#include "guard/enforcecheck.h"
#include "guard/guardenforcer.h"
#include "platform/processend.h"
#include "platform/processscan.h"
#include "tests/support/bridgebrowser.h"
#include "tests/support/fakeproc.h"
#include "tests/support/guardrun.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/stat.h>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

constexpr uid_t kChild = 4242; // no account: protected by default
constexpr uid_t kOther = 4343;

// "main:engine:uid:name [tree pids]" for each browser found, to compare whole scans at once.
QStringList Found(const ProcessScan& scan) {
    QStringList found;
    for (const ScannedBrowser& browser : scan.browsers) {
        QStringList tree;
        for (const ProcessIdentity& process : browser.tree)
            tree.append(QString::number(process.pid));
        tree.sort();
        found.append(u"%1:%2:%3:%4 [%5]"_s.arg(browser.main.pid)
                         .arg(int(browser.engine))
                         .arg(browser.uid)
                         .arg(browser.name, tree.join(u' ')));
    }
    return found;
}

ScannedBrowser Browser(pid_t pid, uid_t uid, std::vector<pid_t> below = {}) {
    ScannedBrowser browser;
    browser.main = {pid, quint64(pid) * 10};
    browser.uid = uid;
    browser.name = u"chromium"_s;
    browser.tree.push_back(browser.main);
    for (const pid_t each : below)
        browser.tree.push_back({each, quint64(each) * 10});
    return browser;
}

ProcessScan Scan(std::vector<ScannedBrowser> browsers, std::map<pid_t, pid_t> parents = {}) {
    ProcessScan scan;
    for (const ScannedBrowser& browser : browsers)
        for (const ProcessIdentity& process : browser.tree)
            scan.parents[process.pid] = process.pid == browser.main.pid ? 1 : browser.main.pid;
    for (const auto& [pid, parent] : parents)
        scan.parents[pid] = parent;
    scan.browsers = std::move(browsers);
    return scan;
}

QList<pid_t> Pids(const std::vector<ScannedBrowser>& browsers) {
    QList<pid_t> pids;
    for (const ScannedBrowser& browser : browsers)
        pids.append(browser.main.pid);
    return pids;
}

} // namespace

class TestEnforce final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void scanFindsEachEngineByItsHelpers() {
        QTemporaryDir proc;
        const QString root = proc.path();
        const auto write = [&](pid_t pid, pid_t parent, const QByteArray& arguments,
                               uid_t uid = 1000, const QByteArray& name = "proc") {
            QVERIFY(WriteFakeProcess(root, pid, parent, quint64(pid) * 10, arguments, uid, name));
        };
        write(1, 0, Arguments({"/sbin/init"}), 0, "init");
        write(100, 1, Arguments({"bash"}));
        // A Chromium copied to a new name: its zygote, and a renderer whose title Chromium set
        // itself (one argument, spaces between, NULs after), a native host beside them.
        write(200, 100, Arguments({"/home/c/notes", "--disable-extensions"}), kChild, "notes");
        write(201, 200, Arguments({"/home/c/notes", "--type=zygote"}), kChild);
        write(202, 201, "/home/c/notes --type=renderer --lang=en" + QByteArray(40, '\0'), kChild);
        write(203, 200, Arguments({"/usr/bin/winwarden-host", "chrome-extension://x/"}), kChild);
        // Firefox by its content processes; GNOME Web by its web process.
        write(300, 100, Arguments({"/home/c/ff/firefox"}), kChild, "firefox");
        write(301, 300, Arguments({"/home/c/ff/firefox", "-contentproc", "-isForBrowser"}), kChild);
        write(400, 1, Arguments({"epiphany"}), kOther, "epiphany");
        write(401, 400, Arguments({"/usr/lib/WebKitWebProcess", "7", "35"}), kOther,
              "WebKitWebProces");
        // A chat program's renderer as its only helper, its title set by itself; an Electron
        // program's GPU process whose --type= comes after 1 MB of arguments.
        write(450, 100, Arguments({"/opt/chat/chat"}), 1000, "chat");
        write(451, 450, "/opt/chat/chat --type=renderer" + QByteArray(9, '\0'));
        write(500, 100, Arguments({"/opt/editor/editor"}), 1000, "editor");
        write(501, 500, QByteArray(1 << 20, 'a') + '\0' + Arguments({"--type=gpu-process"}));
        // No browser: a crash reporter that left its browser for init, a helper whose parent
        // is gone, an argument that only holds the marker inside, a command line without NUL.
        write(600, 1, Arguments({"chrome_crashpad_handler", "--type=crashpad-handler"}));
        write(601, 100, Arguments({"crashpad", "--type=crashpad-handler"}));
        write(700, 999, Arguments({"chromium", "--type=renderer"}));
        write(800, 100, Arguments({"grep", "x --type=renderer"}));
        write(801, 800, Arguments({"cat"}));
        write(900, 100, "no nul at all --type");
        // A helper and its parent whose folders went mid-read: no stat, a torn one, no status.
        write(1000, 100, Arguments({"gone"}));
        write(1001, 1000, Arguments({"x", "--type=utility"}));
        QVERIFY(QFile::remove(root + u"/1000/stat"_s));
        write(1100, 100, Arguments({"torn"}));
        QVERIFY(QFile(root + u"/1100/stat"_s).resize(12));
        write(1101, 1100, Arguments({"x", "--type=utility"}));
        // A helper whose parent's pid now belongs to a process that started after it.
        write(1301, 100, Arguments({"/usr/bin/bash"}));
        QVERIFY(WriteFakeProcess(root, 1302, 1301, 10, Arguments({"x", "--type=renderer"})));
        write(1200, 100, Arguments({"ends"}));
        write(1201, 1200, Arguments({"x", "-contentproc"}));
        QVERIFY(QFile::remove(root + u"/1200/status"_s));

        const ProcessScan scan = ScanProcesses(root);
        QCOMPARE(Found(scan),
                 QStringList({u"200:0:4242:notes [200 201 202 203]"_s,
                              u"300:1:4242:firefox [300 301]"_s, u"400:2:4343:epiphany [400 401]"_s,
                              u"450:0:1000:chat [450 451]"_s, u"500:0:1000:editor [500 501]"_s}));
        // The host belongs to its browser; the shell above all of them to none.
        QCOMPARE(scan.BrowserOf(203)->main.pid, 200);
        QCOMPARE(scan.BrowserOf(202)->main, (ProcessIdentity{200, 2000}));
        QVERIFY(scan.BrowserOf(100) == nullptr);
        QVERIFY(ScanProcesses(root + u"/none"_s).browsers.empty());

        // Scan after scan, a settled process is not read again unless its pid is another
        // process's, which /proc shows as a new folder.
        QVERIFY(WriteFile(root + u"/uptime"_s, "100000.00 1.00\n"));
        ProcessScanner scanner(root);
        QCOMPARE(Found(scanner.Scan()), Found(scan));
        QVERIFY(QDir(root).rename(u"202"_s, u"old202"_s));
        write(202, 100, Arguments({"cat"}));
        QVERIFY(QDir(root + u"/old202"_s).removeRecursively());
        QCOMPARE(Found(scanner.Scan()).first(), u"200:0:4242:notes [200 201 203]"_s);
    }

    void aBrowserIsEndedOnlyWhenItHadNoConnectionForTheGrace() {
        constexpr uid_t kAdmin = 1500;
        const auto start = EnforceDecision::Clock::time_point(1h);
        const EnforceRules rules{10s, 1s, [&](uid_t uid) { return uid != 0 && uid != kAdmin; },
                                 [](const ScannedBrowser& browser) {
                                     return browser.name == "editor"_L1;
                                 }};
        EnforceDecision decision(rules), nested(rules), brief(rules);
        ScannedBrowser editor = Browser(60, kChild);
        editor.name = u"editor"_s;
        // A connected Chromium with its host, a second one beside it without, root's, an
        // administrator's and an allowed program: only the second Chromium is ever due.
        // The second ran before the guard's first look: its grace starts with that look.
        ScannedBrowser before = Browser(20, kChild);
        before.age = 1h;
        const ProcessScan scan =
            Scan({Browser(10, kChild, {11}), before, Browser(30, 0), Browser(40, kAdmin), editor});
        const std::vector<pid_t> hosts{11};
        QCOMPARE(Pids(decision.Decide(scan, hosts, start)), QList<pid_t>());
        QCOMPARE(Pids(decision.Decide(scan, hosts, start + 9999ms)), QList<pid_t>());
        QCOMPARE(Pids(decision.Decide(scan, hosts, start + 10s)), QList<pid_t>({20}));
        // Judged once, not every cycle while it is being ended.
        QCOMPARE(Pids(decision.Decide(scan, hosts, start + 12s)), QList<pid_t>());

        // The first one loses its connection: its grace starts then.
        QCOMPARE(Pids(decision.Decide(scan, {}, start + 14s)), QList<pid_t>());
        QCOMPARE(Pids(decision.Decide(scan, {}, start + 21s)), QList<pid_t>());
        QCOMPARE(Pids(decision.Decide(scan, {}, start + 22s)), QList<pid_t>({10}));

        // One first seen 12 s after it started (its helpers came late) is past its grace, but is
        // judged only once it was seen twice, a second apart.
        ScannedBrowser late = Browser(90, kChild);
        late.age = 12s;
        QCOMPARE(Pids(decision.Decide(Scan({late}), {}, start + 30s)), QList<pid_t>());
        QCOMPARE(Pids(decision.Decide(Scan({late}), {}, start + 30500ms)), QList<pid_t>());
        QCOMPARE(Pids(decision.Decide(Scan({late}), {}, start + 31s)), QList<pid_t>({90}));

        // A host started from a browser's terminal speaks for the inner browser only.
        const ProcessScan inner =
            Scan({Browser(70, kChild, {71, 72, 73}), Browser(72, kChild)}, {{72, 71}, {73, 72}});
        nested.Decide(inner, {73}, start);
        QCOMPARE(Pids(nested.Decide(inner, {73}, start + 10s)), QList<pid_t>({70}));

        // One that ends within its grace is never due, nor the process that takes its pid
        // before that one's own grace.
        brief.Decide(Scan({Browser(80, kChild)}), {}, start);
        brief.Decide(Scan({}), {}, start + 5s);
        ScannedBrowser reused = Browser(80, kChild);
        reused.main.startTime = 999;
        QCOMPARE(Pids(brief.Decide(Scan({reused}), {}, start + 10s)), QList<pid_t>());
        QCOMPARE(Pids(brief.Decide(Scan({reused}), {}, start + 20s)), QList<pid_t>({80}));
    }

    // Everyone but root and daemon (whose own group is the administrators'), or those named as
    // users (bin) or by a group (nobody's nogroup), an administrator never, though named.
    void protectedUsersSpareRootAndAdministrators() {
        const ProtectedUsers everyone({}, u"daemon"_s);
        const ProtectedUsers named({u"bin"_s, u"nogroup"_s, u"daemon"_s, u"nobody-here"_s},
                                   u"daemon"_s);
        QStringList protects;
        for (const uid_t uid : {0u, 1u, 2u, 3u, 65534u, kChild})
            protects << u"%1:%2%3"_s.arg(uid)
                            .arg(int(everyone.Protects(uid)))
                            .arg(int(named.Protects(uid)));
        QCOMPARE(protects.join(u' '), u"0:00 1:00 2:11 3:10 65534:11 4242:10"_s);
    }

    void onlyAnAllowedFileNoProtectedUserCanChangeIsTrusted() {
        QTemporaryDir folder(QCoreApplication::applicationDirPath() + u"/allow-XXXXXX"_s);
        const QString program = folder.path() + u"/bin/editor"_s;
        QVERIFY(WriteFile(program, {}));
        QVERIFY(QFile::link(program, folder.path() + u"/link"_s));
        const auto protects = [](uid_t uid) {
            return uid == kChild;
        };
        const auto trusted = [&](const QString& file, const QString& allowed, mode_t fileMode,
                                 mode_t binMode) {
            return ::chmod(QFile::encodeName(program).constData(), fileMode) == 0 &&
                   ::chmod(QFile::encodeName(folder.path() + u"/bin"_s).constData(), binMode) ==
                       0 &&
                   IsTrustedProgram(file, {allowed}, protects);
        };
        QVERIFY(::chmod(QFile::encodeName(folder.path()).constData(), 0755) == 0);
        QVERIFY(trusted(program, program, 0755, 0755));
        QVERIFY(trusted(program, folder.path() + u"/link"_s, 0755, 0755));
        QVERIFY(!trusted(program, program + u"2"_s, 0755, 0755));
        QVERIFY(!trusted({}, program, 0755, 0755));
        QVERIFY(!trusted(program + u" (deleted)"_s, program, 0755, 0755));
        QVERIFY(!trusted(program, program, 0775, 0755));
        QVERIFY(!trusted(program, program, 0755, 0757));
        QVERIFY(trusted(program, program, 0755, 01777)); // others add names, never rename ours
        QVERIFY(!trusted(program, program, 01777, 0755));
        QVERIFY(::chown(QFile::encodeName(folder.path()).constData(), kChild, 0) == 0);
        QVERIFY(!trusted(program, program, 0755, 0755));
    }

    // guard.conf's lines about ending browsers, beside the database line the guard reads
    // elsewhere, and what --check says of them.
    void theSettingsAreReadStrictlyAndChecked() {
        QTemporaryDir folder;
        GuardPaths paths;
        paths.config = folder.filePath(u"guard.conf"_s);
        QString error;
        const auto settings = [&](const QByteArray& text) {
            return WriteFile(paths.config, text) ? ReadEnforceSettings(paths.config, &error)
                                                 : std::nullopt;
        };
        const auto read = settings("database = /x.mdb\n# allow = /no\nenforce = off\n"
                                   "protect = alice, kids  bob\nallow = /opt/my editor/ed\n"
                                   "allow=/usr/bin/code\ngrace = 30\n");
        QVERIFY(read);
        QCOMPARE(read->enforce, false);
        QCOMPARE(read->protect, QStringList({u"alice"_s, u"kids"_s, u"bob"_s}));
        QCOMPARE(read->allow, QStringList({u"/opt/my editor/ed"_s, u"/usr/bin/code"_s}));
        QCOMPARE(read->grace, 30s);
        for (const char* bad :
             {"enforce = yes", "protect =", "allow = code", "grace = 1", "grace = ten"}) {
            QVERIFY2(!settings(bad), bad);
        }

        settings("enforce = off\nprotect = bin nobody-here\nallow = /nonexistent/x\n"
                 "allow = /tmp\n");
        QStringList problems, notes;
        for (const EnforceCheckLine& line : CheckEnforcement(paths))
            (line.kind == EnforceCheckLine::Kind::Problem ? problems : notes).append(line.text);
        QCOMPARE(problems,
                 QStringList({u"protect = nobody-here：没有这个用户或组"_s,
                              u"allow = /nonexistent/x：文件不存在"_s,
                              u"allow = /tmp：受保护的用户能改写它或它所在的文件夹，不予信任"_s}));
        QVERIFY(notes.first().startsWith(u"enforce = off"_s));
        QVERIFY(notes.filter(u"/tmp "_s).size() == 1 && notes.filter(u"/dev/shm "_s).size() == 1);
    }

    void aHeldProcessIsTheOneScanned() {
        QProcess sleeper;
        sleeper.start(u"sleep"_s, {u"60"_s});
        QVERIFY(sleeper.waitForStarted());
        const ProcessIdentity scanned{
            pid_t(sleeper.processId()),
            ProcessStartTime(u"/proc"_s, pid_t(sleeper.processId())).value_or(0)};
        // Another start time is another process; another user's ids are not the browser's.
        QVERIFY(!HeldProcess::Hold(u"/proc"_s, {scanned.pid, scanned.startTime + 1}, 0));
        QVERIFY(!HeldProcess::Hold(u"/proc"_s, scanned, kChild));
        QVERIFY(!sleeper.waitForFinished(100));
        std::optional<HeldProcess> held = HeldProcess::Hold(u"/proc"_s, scanned, 0);
        QVERIFY(held);
        QVERIFY(held->Signal(SIGTERM));
        QVERIFY(sleeper.waitForFinished(5000));
        // Reaped: its pid is free for another, and it is not held.
        QVERIFY(!held->Signal(SIGKILL));
        QVERIFY(!HeldProcess::Hold(u"/proc"_s, scanned, 0));
    }

    // Two "browsers" of another user, each a process with a helper: a shell that ignores SIGTERM,
    // its helper too (SIGKILL must follow), whose name is the allowed program's; and that
    // program itself, which stays. (The connected browser that stays is the end-to-end test's.)
    void theGuardEndsTheWholeTreeUnlessItsFileIsAllowed() {
        QProcess stubborn, allowed;
        const QString python = QFileInfo(u"/usr/bin/python3"_s).canonicalFilePath();
        stubborn.start(u"setpriv"_s, As(kChild)
                                         << u"bash"_s << u"-c"_s
                                         << u"exec -a %1 bash -c \"trap '' TERM; (exec -a 'x "
                                            u"--type=renderer' sleep 60) & wait\""_s.arg(python));
        allowed.start(u"setpriv"_s,
                      As(kChild) << u"/usr/bin/python3"_s << u"-c"_s
                                 << u"import os\nif os.fork() == 0: os.execv('/usr/bin/sleep', "
                                    u"['x --type=renderer', '60'])\nos.wait()"_s);
        QVERIFY(stubborn.waitForStarted() && allowed.waitForStarted());
        std::vector<ProcessIdentity> ended;
        QVERIFY(QTest::qWaitFor(
            [&] {
                for (const ScannedBrowser& browser : ScanProcesses().browsers)
                    ended = browser.main.pid == stubborn.processId() ? browser.tree : ended;
                return ended.size() == 2;
            },
            5000));
        EnforceSettings settings;
        settings.grace = 2s;
        settings.allow = {u"/usr/bin/python3"_s};
        auto link = std::make_shared<BridgeLink>();
        GuardEnforcer enforcer(settings, link);
        enforcer.Start(500ms);
        // The timers need the event loop, which waitForFinished does not run.
        QVERIFY(QTest::qWaitFor([&] { return stubborn.state() == QProcess::NotRunning; }, 10000));
        QCOMPARE(stubborn.exitStatus(), QProcess::CrashExit);
        // The helper ended and reaped, or a zombie nobody reaps in a container without an init.
        QFile helper(u"/proc/%1/stat"_s.arg(ended.back().pid));
        QVERIFY(QTest::qWaitFor(
            [&] {
                helper.close();
                const QByteArray line = helper.open(QIODevice::ReadOnly) ? helper.readAll() : "";
                return line.isEmpty() || line.mid(line.lastIndexOf(')') + 2, 1) == "Z";
            },
            2000));
        const auto reports = link->TakeReports();
        QVERIFY(std::any_of(reports.begin(), reports.end(), [&](const auto& report) {
            return report.first.startsWith(u"ended %1 "_s.arg(ended.front().pid)) &&
                   report.second ==
                       u"用户 4242：bash（Chromium 内核） 没有连上浏览哨兵扩展，已被关闭"_s;
        }));
        QCOMPARE(allowed.state(), QProcess::Running);
        allowed.kill();
        allowed.waitForFinished();
    }
};

QTEST_GUILESS_MAIN(TestEnforce)
#include "test_enforce.moc"
