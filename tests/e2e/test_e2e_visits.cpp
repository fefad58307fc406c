// The visit record as a family sees it: the guard installed in private namespaces (as
// test_e2e_guard installs it), two children browsing in real Chromium, and the program's own
// window on the guard's control socket, driven by keys alone.
#include "app/mainframe.h"
#include "app/winwardenapp.h"
#include "control/guardmonitor.h"
#include "monitor/visitsdlg.h"
#include "monitor/winwardenview.h"
#include "res/commandids.h"
#include "sources/devtools/devtoolsendpoints.h"
#include "tests/support/bridgebrowser.h"
#include "tests/support/guardrun.h"
#include "tests/support/peeruser.h"
#include "tests/support/privatesystem.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
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

constexpr uid_t kChild1 = 4242, kChild2 = 4243, kParent = 4244; // the parent in group winwarden
const QString kRules = kState + u"/winwarden.mdb"_s;

// A list's rows, "cell|cell".
QStringList Cells(const QTableWidget& list) {
    QStringList rows;
    for (int row = 0; row < list.rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < list.columnCount(); ++column)
            cells << list.item(row, column)->text();
        rows << cells.join(u'|');
    }
    return rows;
}

// The program as `uid` starts it, on the guard, and 窗口 → 访问记录 as a keyboard user opens it:
// the menu's accelerator, ↓ to the item, Enter.
CVisitsDlg* OpenVisits(std::unique_ptr<CWinwardenApp>& app, uid_t uid, std::vector<gid_t> groups) {
    app = std::make_unique<CWinwardenApp>(
        MonitorServices{{}, kRules, QString::fromLatin1(kGuardControlSocket)});
    bool started = false;
    if (!AsUser(uid, uid, groups, [&] { started = app->InitInstance({}); }) || !started ||
        !qobject_cast<GuardMonitor*>(app->GetMonitor()) ||
        !QTest::qWaitForWindowActive(app->MainFrame()))
        return nullptr;
    QTest::keyClick(app->MainFrame(), Qt::Key_W, Qt::AltModifier);
    QMenu* menu = nullptr;
    if (!QTest::qWaitFor(
            [&] { return (menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())); }))
        return nullptr;
    for (int n = 0;
         n < 12 && menu->activeAction() != app->MainFrame()->MenuAction(cmd::kShowVisits); ++n)
        QTest::keyClick(menu, Qt::Key_Down);
    QTest::keyClick(menu, Qt::Key_Return);
    CVisitsDlg* visits = app->MainFrame()->View()->VisitsWindow();
    // The closing menu hands the focus back to the main window after the dialog took it; a
    // window manager gives it to the new window.
    if (!visits || !QTest::qWaitForWindowExposed(visits))
        return nullptr;
    QTest::qWait(200);
    visits->activateWindow();
    return QTest::qWaitFor([&] { return QApplication::activeWindow() == visits; }, 5000) ? visits
                                                                                         : nullptr;
}

// Alt+U to the user box, then ↓ to `user`.
bool PickUser(CVisitsDlg& visits, const QString& user) {
    QTest::keyClick(&visits, Qt::Key_U, Qt::AltModifier);
    QComboBox* box = visits.UserBox();
    for (int n = 0; n < box->count() && box->currentText() != user; ++n)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    return QApplication::focusWidget() == box && box->currentText() == user;
}

} // namespace

class TestE2eVisits final : public QObject {
    Q_OBJECT

    GuardProcess m_guard;
    PageServer m_pages;
    BrowserProcess m_child1, m_child2;
    QTemporaryDir m_settings; // the windows', open to every user

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(Append(u"/etc/passwd"_s,
                       "winwarden:x:4240:4240::/var/lib/winwarden:/usr/sbin/nologin\n"
                       "child1:x:4242:4242::/nonexistent:/bin/sh\n"
                       "child2:x:4243:4243::/nonexistent:/bin/sh\n"));
        QVERIFY(Append(u"/etc/group"_s, "winwarden:x:4240:\nchild1:x:4242:\nchild2:x:4243:\n"));
        const QString build = QCoreApplication::applicationDirPath() + u"/.."_s;
        QCOMPARE(
            RunAs(0, {u"cmake"_s, u"--install"_s, build, u"--prefix"_s, u"/usr/local"_s}).status,
            0);
        const QString browsers = u"/usr/local/bin/winwarden-browser"_s;
        QCOMPARE(RunAs(0, {browsers, u"install"_s, u"--system"_s, u"--no-incognito"_s}).status, 0);
        QVERIFY(QDir().mkpath(kRun) && QDir().mkpath(kState));
        QCOMPARE(RunAs(0, {u"/usr/local/bin/winwarden-db"_s, u"create"_s, kRules}).status, 0);
        QCOMPARE(RunAs(0, {u"chown"_s, u"4240:4240"_s, kRun, kState, kRules}).status, 0);
        QVERIFY(m_guard.Start());
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(QFile::setPermissions(m_settings.path(), QFileDevice::Permissions(0x7777)));
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settings.path());
    }

    // Each child opens pages of their own beside the opener's two; the parent blocks the
    // opener's second page by its title (a blocked try for each child). The parent's window:
    // the user box picks a child, whose sites are listed with their time and whose blocked try
    // is there with its rule; Tab to ← 前一天 and Space show the day before, empty. The first
    // child's window offers that child alone. (A child's hand-made client: test_e2e_guard.)
    void eachChildsDayInTheWindowsByKeyboard() {
        const QStringList own1{u"alpha.test"_s, u"beta.test"_s}, own2{u"gamma.test"_s};
        GuardMonitor parent(QString::fromLatin1(kGuardControlSocket));
        const auto connect = [&] {
            bool connected = false;
            return AsUser(kParent, kParent, {kGuardUid}, [&] { connected = parent.Connect(); }) &&
                   connected;
        };
        QVERIFY(QTest::qWaitFor(connect, 10000));
        const auto seen = [&](qint64 uid, const QString& title, const QString& result) {
            const std::vector<VisitRow> all = parent.ListVisits({});
            return std::any_of(all.begin(), all.end(), [&](const VisitRow& visit) {
                return visit.uid == uid && visit.title == title && visit.result == result;
            });
        };
        for (auto [browser, uid, own] :
             {std::tuple{&m_child1, kChild1, own1}, std::tuple{&m_child2, kChild2, own2}}) {
            QVERIFY(WritePages(*browser) && StartChildsChromium(*browser, uid, m_pages));
            const uid_t child = uid; // a structured binding, which a lambda may not name
            QVERIFY2(QTest::qWaitFor([&] { return seen(child, kBlockedTitle, u"通过"_s); }, 90000),
                     qPrintable(m_guard.Said()));
            const QString endpoint =
                ParseDevToolsEndpoints(browser->Path(u"profile/DevToolsActivePort"_s))
                    .endpoints.value(0);
            for (const QString& host : own)
                OpenTab(endpoint, u"http://"_s + host + u'/');
        }
        QCOMPARE(parent.SetFlagForWindow(u"禁止"_s, kBlockedTitle, {}), 1);
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         return seen(kChild1, kBlockedTitle, u"禁止"_s) &&
                                seen(kChild2, kBlockedTitle, u"禁止"_s) &&
                                seen(kChild1, u"页 beta.test"_s, u"通过"_s) &&
                                seen(kChild2, u"页 gamma.test"_s, u"通过"_s);
                     },
                     30000),
                 qPrintable(m_guard.Said()));

        std::unique_ptr<CWinwardenApp> app;
        CVisitsDlg* visits = OpenVisits(app, kParent, {kGuardUid});
        QVERIFY(visits);
        for (const auto& [user, own, others] :
             {std::tuple{u"child1"_s, own1, own2}, std::tuple{u"child2"_s, own2, own1}}) {
            QVERIFY(PickUser(*visits, user));
            const QString sites = Cells(*visits->SiteList()).join(u'\n');
            for (const QString& host : own) // seconds, or minutes on a slow machine
                QVERIFY2(sites.contains(QRegularExpression(u"^%1\\|\\d+(秒|分)$"_s.arg(host),
                                                           QRegularExpression::MultilineOption)),
                         qPrintable(sites));
            QVERIFY2(!sites.contains(others[0]), qPrintable(sites));
            const QStringList blocked = Cells(*visits->BlockedList());
            QVERIFY2(blocked.size() == 1 &&
                         blocked[0].contains(u'|' + user + u'|' + kBlockedTitle + u'|') &&
                         blocked[0].endsWith(u"|窗口名称"_s),
                     qPrintable(blocked.join(u'\n')));
        }
        const QDate today = visits->Day();
        QTest::keyClick(visits, Qt::Key_U, Qt::AltModifier);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QCOMPARE(visits->Day(), today.addDays(-1));
        QCOMPARE(visits->SiteList()->rowCount(), 0);
        QTest::keyClick(visits, Qt::Key_Right, Qt::AltModifier);
        QCOMPARE(visits->Day(), today);

        visits = OpenVisits(app, kChild1, {});
        QVERIFY(visits);
        QCOMPARE(visits->UserBox()->count(), 2); // 所有用户, and the child
        QCOMPARE(visits->UserBox()->itemText(1), u"child1"_s);
        const QString sites = Cells(*visits->SiteList()).join(u'\n');
        QVERIFY2(sites.contains(own1[1]) && !sites.contains(own2[0]), qPrintable(sites));
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
