// The visit record as a family sees it: the guard installed in private namespaces, two children
// (two uids) browsing in real Chromium with the policies' extension, and the program's own main
// window on the guard's control socket, driven by keys alone: the administrator's shows each
// child's sites with their time and the blocked try, a child's shows that child's own.
#include "app/mainframe.h"
#include "app/winwardenapp.h"
#include "control/guardmonitor.h"
#include "monitor/visitsdlg.h"
#include "monitor/winwardenview.h"
#include "sources/devtools/devtoolsendpoints.h"
#include "tests/support/bridgebrowser.h"
#include "tests/support/guardrun.h"
#include "tests/support/peeruser.h"
#include "tests/support/privatesystem.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;

namespace {

constexpr uid_t kChild1 = 4242;
constexpr uid_t kChild2 = 4243;
constexpr uid_t kParent = 4244; // in the group winwarden (gid 4240)
const QString kRules = kState + u"/winwarden.mdb"_s;

QString Endpoint(const BrowserProcess& chromium) {
    return ParseDevToolsEndpoints(chromium.Path(u"profile/DevToolsActivePort"_s))
        .endpoints.value(0);
}

// The cells of a list, "a|b" a row.
QStringList Cells(const QTableWidget& list) {
    QStringList rows;
    for (int row = 0; row < list.rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < list.columnCount(); ++column)
            cells << (list.item(row, column) ? list.item(row, column)->text() : QString());
        rows << cells.join(u'|');
    }
    return rows;
}

// The program's window on the guard, as `uid` (in `groups`) starts it.
struct Window {
    std::unique_ptr<CWinwardenApp> app;

    bool Open(uid_t uid, const std::vector<gid_t>& groups) {
        app = std::make_unique<CWinwardenApp>(
            MonitorServices{{}, kRules, QString::fromLatin1(kGuardControlSocket)});
        bool started = false;
        return AsUser(uid, uid, groups, [&] { started = app->InitInstance({}); }) && started &&
               qobject_cast<GuardMonitor*>(app->GetMonitor()) &&
               QTest::qWaitForWindowActive(app->MainFrame());
    }

    // 窗口 → 访问记录 as a keyboard user opens it: the menu's accelerator, ↓ to the item, ⏎.
    CVisitsDlg* OpenVisits() {
        QTest::keyClick(app->MainFrame(), Qt::Key_W, Qt::AltModifier);
        QMenu* menu = nullptr;
        if (!QTest::qWaitFor(
                [&] { return (menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())); },
                5000))
            return nullptr;
        for (int n = 0;
             n < 12 && !(menu->activeAction() && menu->activeAction()->text() == u"访问记录"_s);
             ++n)
            QTest::keyClick(menu, Qt::Key_Down);
        QTest::keyClick(menu, Qt::Key_Return);
        CVisitsDlg* visits = app->MainFrame()->View()->VisitsWindow();
        if (!visits || !QTest::qWaitForWindowExposed(visits))
            return nullptr;
        // The closing menu hands the focus back to the main window after the dialog took it;
        // a window manager gives it to the new window.
        QTest::qWait(200);
        visits->activateWindow();
        return QTest::qWaitFor([&] { return QApplication::activeWindow() == visits; }, 5000)
                   ? visits
                   : nullptr;
    }
};

// Picks `user` in the dialog's user box as a keyboard user does: Alt+U, then ↓ or ↑.
bool PickUser(CVisitsDlg& visits, const QString& user) {
    QTest::keyClick(&visits, Qt::Key_U, Qt::AltModifier);
    QComboBox* box = visits.UserBox();
    if (QApplication::focusWidget() != box || box->findText(user) < 0)
        return false;
    const Qt::Key key = box->findText(user) > box->currentIndex() ? Qt::Key_Down : Qt::Key_Up;
    for (int n = 0; n < box->count() && box->currentText() != user; ++n)
        QTest::keyClick(box, key);
    return box->currentText() == user;
}

} // namespace

class TestE2eVisits final : public QObject {
    Q_OBJECT

    GuardProcess m_guard;
    PageServer m_pages;
    BrowserProcess m_child1, m_child2;
    QTemporaryDir m_settings;

private Q_SLOTS:
    // Installed as test_e2e_guard installs it; the windows keep their settings in a folder of
    // the test's that every user may write.
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
        const Run policies = RunAs(0, {u"/usr/local/bin/winwarden-browser"_s, u"install"_s,
                                       u"--system"_s, u"--no-incognito"_s});
        QVERIFY2(policies.status == 0, qPrintable(policies.output));
        QVERIFY(QDir().mkpath(kRun) && QDir().mkpath(kState));
        QCOMPARE(RunAs(0, {u"/usr/local/bin/winwarden-db"_s, u"create"_s, kRules}).status, 0);
        QCOMPARE(RunAs(0, {u"chown"_s, u"4240:4240"_s, kRun, kState, kRules}).status, 0);
        QVERIFY(m_guard.Start(kGuardProgram, kGuardUid));
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(QFile::setPermissions(m_settings.path(), QFileDevice::Permissions(0x7777)));
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settings.path());
    }

    // Each child opens a page or two of their own beside the opener; the parent blocks the
    // opener's second page by its title, which both children had open (a blocked try each).
    // The parent's window, by keys: the user box picks a child, whose sites are listed with
    // their time, and whose blocked try is there with its rule; the day before is empty. The
    // first child's window offers that child alone. (A hand-made client of a child asking for
    // another's visits: test_e2e_guard.)
    void eachChildsDayInTheWindowsByKeyboard() {
        const QStringList own1{u"alpha.test"_s, u"beta.test"_s}, own2{u"gamma.test"_s};
        for (auto [browser, uid] : {std::pair{&m_child1, kChild1}, std::pair{&m_child2, kChild2}}) {
            QVERIFY(WritePages(*browser));
            QVERIFY(StartChildsChromium(*browser, uid, m_pages));
        }
        GuardMonitor parent(QString::fromLatin1(kGuardControlSocket));
        bool connected = false;
        QVERIFY(AsUser(kParent, kParent, {kGuardUid}, [&] { connected = parent.Connect(); }) &&
                connected);
        const auto seen = [&](qint64 uid, const QString& title, const QString& result) {
            for (const VisitRow& visit : parent.ListVisits({}))
                if (visit.uid == uid && visit.title == title && visit.result == result)
                    return true;
            return false;
        };
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         return seen(kChild1, kBlockedTitle, u"通过"_s) &&
                                seen(kChild2, kBlockedTitle, u"通过"_s);
                     },
                     90000),
                 qPrintable(m_guard.Said()));
        QCOMPARE(parent.SetFlagForWindow(u"禁止"_s, kBlockedTitle, {}), 1);
        for (const QString& host : own1)
            OpenTab(Endpoint(m_child1), u"http://"_s + host + u'/');
        for (const QString& host : own2)
            OpenTab(Endpoint(m_child2), u"http://"_s + host + u'/');
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         return seen(kChild1, kBlockedTitle, u"禁止"_s) &&
                                seen(kChild2, kBlockedTitle, u"禁止"_s) &&
                                seen(kChild1, u"页 beta.test"_s, u"通过"_s) &&
                                seen(kChild2, u"页 gamma.test"_s, u"通过"_s);
                     },
                     30000),
                 qPrintable(m_guard.Said()));

        Window admin;
        QVERIFY(admin.Open(kParent, {kGuardUid}));
        CVisitsDlg* visits = admin.OpenVisits();
        QVERIFY(visits);
        for (const auto& [user, hosts, others] :
             {std::tuple{u"child1"_s, own1, own2}, std::tuple{u"child2"_s, own2, own1}}) {
            QVERIFY(PickUser(*visits, user));
            const QStringList sites = Cells(*visits->SiteList());
            for (const QString& host : hosts) {
                // A site's time: seconds, or minutes on a slow machine.
                const auto row = sites.filter(host + u'|');
                QVERIFY2(row.size() == 1 &&
                             row[0].contains(QRegularExpression(u"\\|\\d+(秒|分)$"_s)),
                         qPrintable(sites.join(u", "_s)));
            }
            for (const QString& host : others)
                QVERIFY2(sites.filter(host).isEmpty(), qPrintable(sites.join(u", "_s)));
            const QStringList blocked = Cells(*visits->BlockedList());
            QCOMPARE(blocked.size(), 1);
            QVERIFY2(blocked[0].contains(u'|' + user + u'|' + kBlockedTitle + u'|') &&
                         blocked[0].endsWith(u"|窗口名称"_s),
                     qPrintable(blocked[0]));
            QTest::keyClick(visits, Qt::Key_B, Qt::AltModifier);
            QCOMPARE(QApplication::focusWidget(), visits->BlockedList());
        }
        // The day before by Tab to its button from the user box, and back by Alt+→.
        const QDate today = visits->Day();
        QTest::keyClick(visits, Qt::Key_U, Qt::AltModifier);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), u"dayBefore"_s);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QCOMPARE(visits->Day(), today.addDays(-1));
        QCOMPARE(visits->SiteList()->rowCount(), 0);
        QTest::keyClick(visits, Qt::Key_Right, Qt::AltModifier);
        QCOMPARE(visits->Day(), today);
        QVERIFY(visits->SiteList()->rowCount() > 0);
        admin.app.reset();

        Window child;
        QVERIFY(child.Open(kChild1, {}));
        visits = child.OpenVisits();
        QVERIFY(visits);
        QCOMPARE(visits->UserBox()->count(), 2); // 所有用户, and the child
        QCOMPARE(visits->UserBox()->itemText(1), u"child1"_s);
        const QStringList sites = Cells(*visits->SiteList());
        for (const QString& host : own1)
            QVERIFY2(sites.filter(host + u'|').size() == 1, qPrintable(sites.join(u", "_s)));
        QVERIFY2(sites.filter(own2[0]).isEmpty(), qPrintable(sites.join(u", "_s)));
        QCOMPARE(visits->BlockedList()->rowCount(), 1);
    }
};

int main(int argc, char** argv) {
    return RunWithPrivateSystemFolders(argc, argv, [&] {
        QApplication app(argc, argv);
        TestE2eVisits test;
        return QTest::qExec(&test, argc, argv);
    });
}

#include "test_e2e_visits.moc"
