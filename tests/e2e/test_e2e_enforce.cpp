// The guard, installed with `cmake --install` in private namespaces and run as its unit runs it
// (its user, CAP_KILL and CAP_SYS_PTRACE), ends the real Chromium and Firefox ESR that a child
// (a uid outside the group winwarden) starts in each of the ways around the extension.
#include "platform/processscan.h"
#include "tests/support/bridgebrowser.h"
#include "tests/support/guardrun.h"
#include "tests/support/privatesystem.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;

namespace {

constexpr uid_t kChild = 4242;
constexpr uid_t kParent = 4244; // in the group winwarden
const QString kChromium = u"/usr/lib/chromium"_s;
const QString kFirefox = u"/usr/lib/firefox-esr"_s;

// A copy of Chromium's folder at `folder` in hard links (no 300 MB to copy), its program named
// `name`. The folder is `owner`'s.
bool CopyChromium(const QString& folder, const QString& name, uid_t owner) {
    return QDir().mkpath(QFileInfo(folder).path()) &&
           RunAs(0, {u"cp"_s, u"-al"_s, kChromium, folder}).status == 0 &&
           QFile::rename(folder + u"/chromium"_s, folder + u'/' + name) &&
           RunAs(0, {u"chown"_s, u"%1:%1"_s.arg(owner), folder}).status == 0;
}

QStringList Firefox(const BrowserProcess& firefox) {
    return {u"-headless"_s, u"-no-remote"_s, u"-profile"_s, firefox.Path(u"home"_s),
            u"about:blank"_s};
}

} // namespace

class TestE2eEnforce final : public QObject {
    Q_OBJECT

    GuardProcess m_guard;
    PageServer m_pages;
    QTemporaryDir m_programs{QCoreApplication::applicationDirPath() + u"/programs-XXXXXX"_s};
    // m_programs bound where other users reach it, whatever folders closed to them the build
    // lies below (copies are made at m_programs: hard links do not cross mounts).
    const QString m_reach = u"/var/tmp/winwarden-programs"_s;

private Q_SLOTS:
    // Installed as an administrator would, with an Electron-like program on the allow list: a
    // copy of Chromium in a folder of root's (under the build folder, whose folders are root's
    // and nobody else's to write).
    void initTestCase() {
        const Run install = InstallGuard({{"child", kChild}, {"parent", kParent}}, "parent");
        QVERIFY2(install.status == 0, qPrintable(install.output));
        QVERIFY(::chmod(QFile::encodeName(m_programs.path()).constData(), 0755) == 0);
        QVERIFY(QDir().mkpath(m_reach));
        QCOMPARE(RunAs(0, {u"mount"_s, u"--bind"_s, m_programs.path(), m_reach}).status, 0);
        QVERIFY(CopyChromium(m_programs.filePath(u"editor"_s), u"editor"_s, 0));
        // guard.conf where this install put it, as the install says.
        const QString config = QRegularExpression(u"(/\\S*/winwarden/guard\\.conf)"_s)
                                   .match(install.output)
                                   .captured(1);
        QVERIFY2(!config.isEmpty(), qPrintable(install.output));
        QVERIFY(Append(config, "allow = " + m_reach.toUtf8() + "/editor/editor\n"));
        QVERIFY(m_guard.Start(u"kill,sys_ptrace"_s));
    }

    // Every way around the extension at once, while the child's normal Chromium with its
    // extension stays open beside them: each is ended within 20 s of its start, with a notice.
    // The normal one, an administrator's Chromium without the extension and the allowed program
    // stay; a copy of the allowed program in the child's home does not.
    void browsersTheGuardCannotWatchAreEnded() {
        BrowserProcess normal;
        QVERIFY(WritePages(normal));
        QVERIFY(StartChildsChromium(normal, kChild, m_pages));
        QTest::qWait(3000); // its extension connects

        const QString home = m_programs.filePath(u"home"_s);
        const QString reached = m_reach + u"/home"_s;
        QVERIFY(CopyChromium(home + u"/notes"_s, u"notes"_s, kChild));
        QVERIFY(CopyChromium(home + u"/editor"_s, u"editor"_s, kChild));
        QVERIFY(RunAs(0, {u"cp"_s, u"-al"_s, kFirefox, home + u"/ff"_s}).status == 0 &&
                QFile::remove(home + u"/ff/distribution"_s));
        QCOMPARE(RunAs(0, {u"chown"_s, u"4242:4242"_s, home, home + u"/ff"_s}).status, 0);

        std::map<QString, BrowserProcess> ended, spared;
        const QStringList off{u"--disable-extensions"_s};
        QVERIFY(StartChildsChromium(ended[u"--disable-extensions"_s], kChild, m_pages, off));
        QVERIFY(StartChildsChromium(ended[u"notes"_s], kChild, m_pages, off,
                                    reached + u"/notes/notes"_s));
        QVERIFY(StartChildsChromium(ended[u"the allowed program's copy"_s], kChild, m_pages, off,
                                    reached + u"/editor/editor"_s));
        BrowserProcess& safe = ended[u"Firefox in troubleshoot mode"_s];
        QVERIFY(StartAsUser(safe, kChild, u"/usr/bin/firefox-esr"_s,
                            Firefox(safe) << u"-safe-mode"_s, {u"MOZ_SAFE_MODE_RESTART=1"_s}));
        BrowserProcess& copy = ended[u"a copy of Firefox"_s];
        QVERIFY(StartAsUser(copy, kChild, reached + u"/ff/firefox-esr"_s, Firefox(copy)));
        QVERIFY(StartChildsChromium(spared[u"the allowed program"_s], kChild, m_pages, off,
                                    m_reach + u"/editor/editor"_s));
        QVERIFY(StartChildsChromium(spared[u"an administrator's"_s], kParent, m_pages, off));
        QElapsedTimer started;
        started.start();

        for (auto& [what, each] : ended) {
            BrowserProcess& browser = each; // a lambda may not capture a structured binding
            QVERIFY2(QTest::qWaitFor([&] { return !browser.Running(); },
                                     int(std::max<qint64>(20000 - started.elapsed(), 0))),
                     qPrintable(what + u" still runs after 20 s"_s));
        }
        QVERIFY2(normal.Running(), qPrintable(m_guard.Said()));
        for (auto& [what, browser] : spared)
            QVERIFY2(browser.Running(), qPrintable(what + u" was ended"_s));
        // Said with the engine's next pass, a renamed copy by its own name; none of the parent's.
        const QString notice = u" 没有连上浏览哨兵扩展，已被关闭"_s;
        QVERIFY2(QTest::qWaitFor([&] { return m_guard.Said().count(notice) == 5; }, 5000) &&
                     m_guard.Said().count(u"用户 child（4242）：Firefox"_s + notice) == 2 &&
                     m_guard.Said().contains(u"child（4242）：notes（Chromium 内核）"_s + notice),
                 qPrintable(m_guard.Said()));
        // Nothing of theirs is left: the child's only browsers are the two that stay.
        QTest::qWait(4000); // the SIGKILL after SIGTERM, for a tree that lingers
        const std::vector<ScannedBrowser> left = ScanProcesses().browsers;
        QCOMPARE(std::count_if(left.begin(), left.end(),
                               [](const ScannedBrowser& browser) { return browser.uid == kChild; }),
                 2);
    }
};

int main(int argc, char** argv) {
    return RunWithPrivateSystemFolders(argc, argv, [&] {
        QCoreApplication app(argc, argv);
        TestE2eEnforce test;
        return QTest::qExec(&test, argc, argv);
    });
}

#include "test_e2e_enforce.moc"
