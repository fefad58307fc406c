// The whole program over the real main window, a fake browser and throwaway settings: start-up,
// the status bar, exit, a window without a tray; web addresses that go to the desktop's opener.
#include "app/linkopener.h"
#include "app/mainframe.h"
#include "app/winwardenapp.h"
#include "engine/monitorengine.h"
#include "res/commandids.h"
#include "tests/support/fakesource.h"
#include "tests/support/modalanswer.h"
#include "tests/support/testdb.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QDesktopServices>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::Literals::StringLiterals;

namespace {

// The whole application over a fresh rule database, a faked browser and throwaway settings.
class AppFixture final {
public:
    AppFixture() {
        QStandardPaths::setTestModeEnabled(true);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settings.path());
        m_app = std::make_unique<CWinwardenApp>(
            MonitorServices{std::unique_ptr<BrowserSource>(m_source), m_db.path(), {}});
    }

    bool Start(const QStringList& arguments = {}) { return m_app->InitInstance(arguments); }
    CMainFrame& Frame() { return *m_app->MainFrame(); }
    CWinwardenView& View() { return *Frame().View(); }
    TempRuleDb& Db() { return m_db; }
    FakeBrowserSource& Source() { return *m_source; }
    void TriggerMenu(int commandId) { Frame().MenuAction(commandId)->trigger(); }

private:
    QTemporaryDir m_settings;
    TempRuleDb m_db;
    FakeBrowserSource* m_source = new FakeBrowserSource; // owned by the application
    std::unique_ptr<CWinwardenApp> m_app;
};

} // namespace

class TestMainFrame final : public QObject {
    Q_OBJECT

    std::unique_ptr<AppFixture> m_fixture;
    CMainFrame& Frame() { return m_fixture->Frame(); }
    QTemporaryDir m_bin; // the desktop's opener

private Q_SLOTS:
    // The desktop's opener is a stand-in that ends with the status the test gives it.
    void initTestCase() {
        QFile opener(m_bin.filePath(u"xdg-open"_s));
        QVERIFY(opener.open(QIODevice::WriteOnly) &&
                opener.write("#!/bin/sh\necho \"$1\" >>\"$0.seen\"\nexit $OPENER_STATUS\n") > 0);
        opener.setPermissions(opener.permissions() | QFileDevice::ExeOwner);
        opener.close();
        qputenv("PATH", QFile::encodeName(m_bin.path()) + ":/usr/bin:/bin");
    }

    void init() { m_fixture = std::make_unique<AppFixture>(); }
    void cleanup() { m_fixture.reset(); }

    // --monitor, or the setting, starts monitoring with the window; the first cycle comes with
    // the first tick. A settings file at the place earlier
    // versions used is read, and moved to ~/.config/winwarden/winwarden.conf.
    void monitoringFromTheStart() {
        QSettings().setValue(u"Monitor/StartAtLaunch"_s, false);
        QVERIFY(m_fixture->Start({u"--monitor"_s}));
        QVERIFY(m_fixture->View().IsMonitoring());
        QTRY_VERIFY_WITH_TIMEOUT(m_fixture->Source().Passes() > 0, 3000);
        m_fixture.reset();
        m_fixture = std::make_unique<AppFixture>();
        QSettings before(QSettings::NativeFormat, QSettings::UserScope,
                         u"Local AppWizard-Generated Applications"_s, u"winwarden"_s);
        before.setValue(u"Monitor/StartAtLaunch"_s, true);
        before.sync();
        QVERIFY(m_fixture->Start());
        QVERIFY(m_fixture->View().IsMonitoring());
        QVERIFY(!QFileInfo::exists(before.fileName()));
        QVERIFY(QSettings().fileName().endsWith(u"/winwarden/winwarden.conf"_s));
        QCOMPARE(QSettings().value(u"Monitor/StartAtLaunch"_s), QVariant(u"true"_s));
    }

    // A browser that took the address: nothing to say. None did: the address, in a box.
    void failureIsShownWithTheAddress() {
        m_fixture.reset(); // the opener alone
        QWidget owner;
        LinkOpener links(&owner);
        QStringList boxes;
        ModalAnswer answer({[&boxes](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            boxes << (box ? box->objectName() + u'|' + box->text().section(u'\n', 1) : u"?"_s);
            modal->close();
        }});
        for (const char* status : {"0", "4"}) {
            qputenv("OPENER_STATUS", status);
            QVERIFY(QDesktopServices::openUrl(QUrl(u"https://a.example/?q=%E4%B8%AD"_s)));
            QTRY_VERIFY(links.findChildren<QProcess*>().isEmpty());
        }
        QTRY_COMPARE(boxes, QStringList{u"linkNotOpenedBox|https://a.example/?q=中"_s});
        QFile seen(m_bin.filePath(u"xdg-open.seen"_s));
        QVERIFY(seen.open(QIODevice::ReadOnly));
        QCOMPARE(seen.readAll(), QByteArray("https://a.example/?q=%E4%B8%AD\n").repeated(2));
    }

    // The monitor pane says at a glance what the monitor does, and trouble stays in it for as
    // long as it lasts, whatever the message pane shows meanwhile. Exit while monitoring ends
    // the run with status 0, the monitor stopped before the view's store closes.
    void monitorPaneMinimiseAndExit() {
        QVERIFY(m_fixture->Start());
        auto* pane = Frame().findChild<QLabel*>(u"monitorPane"_s);
        QCOMPARE(pane->text(), u"未监视"_s);
        m_fixture->TriggerMenu(cmd::kStart);
        Monitor& engine = m_fixture->View().GetMonitor();
        const auto tick = [&] {
            QSignalSpy finished(&engine, &MonitorEngine::cycleFinished);
            engine.OnTimer();
            QVERIFY(finished.wait(5000));
        };
        m_fixture->Source().SetPages({u"一"_s, u"http://1/"_s, u"二"_s, u"http://2/"_s});
        tick();
        QCOMPARE(pane->text(), u"监视中 · 浏览器窗口 2 个"_s);
        m_fixture->Source().SetUnreadable(true);
        tick();
        Frame().statusBar()->showMessage(u"就绪"_s);
        QCOMPARE(pane->text(), u"监视中 · 没有浏览器应答"_s);
        m_fixture->Source().SetUnreadable(false);
        m_fixture->Db().exec(u"DROP TABLE 窗口名表"_s);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u".+"_s));
        tick();
        tick();
        QCOMPARE(pane->text(), u"监视中 · 浏览器窗口 2 个 · 窗口规则读写失败"_s);
        QVERIFY(pane->toolTip().contains(u"窗口名表"_s));
        // Minimised where there is no tray, the window stays visible, as there would be no way
        // back (the tray itself: e2e.test_desktop).
        if (!QSystemTrayIcon::isSystemTrayAvailable()) {
            QVERIFY(QTest::qWaitForWindowExposed(&Frame()));
            Frame().setWindowState(Qt::WindowMinimized);
            QTest::qWait(20);
            QVERIFY(Frame().isVisible() && !Frame().IsInTray());
        }
        m_fixture->TriggerMenu(cmd::kStop);
        QVERIFY(pane->text().startsWith(u"未监视"_s));

        m_fixture->TriggerMenu(cmd::kStart);
        auto* dispatcher = QAbstractEventDispatcher::instance();
        QVERIFY(!dispatcher->registeredTimers(&engine).isEmpty());
        QEventLoop loop;
        QTimer::singleShot(0, this, [this] { m_fixture->TriggerMenu(cmd::kAppExit); });
        QTimer::singleShot(5000, &loop, [&loop] { loop.exit(99); });
        QCOMPARE(loop.exec(), 0);
        QVERIFY(!Frame().isVisible() && dispatcher->registeredTimers(&engine).isEmpty());
    }
};

QTEST_MAIN(TestMainFrame)
#include "test_mainframe.moc"
