// The whole program over the real main window, a fake browser and throwaway settings: start-up,
// the status bar, exit, a window without a tray; web addresses that go to the desktop's opener;
// and the launcher, which gives the program the user's own rule database.
#include "app/linkopener.h"
#include "app/mainframe.h"
#include "app/winwardenapp.h"
#include "engine/monitorengine.h"
#include "res/commandids.h"
#include "tests/support/bridgebrowser.h"
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

struct AppFixture {
    QTemporaryDir settings;
    TempRuleDb db;
    FakeBrowserSource* source = new FakeBrowserSource; // owned by the application
    std::unique_ptr<CWinwardenApp> app;

    AppFixture() {
        QStandardPaths::setTestModeEnabled(true);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
        app = std::make_unique<CWinwardenApp>(
            MonitorServices{std::unique_ptr<BrowserSource>(source), db.path(), {}});
    }
    bool Start(const QStringList& arguments = {}) { return app->InitInstance(arguments); }
    CMainFrame& Frame() { return *app->MainFrame(); }
    CWinwardenView& View() { return *Frame().View(); }
    void TriggerMenu(int commandId) { Frame().MenuAction(commandId)->trigger(); }
};

} // namespace

class TestMainFrame final : public QObject {
    Q_OBJECT

    std::unique_ptr<AppFixture> m_fixture;
    CMainFrame& Frame() { return m_fixture->Frame(); }
    QTemporaryDir m_bin;  // the desktop's opener, winwarden and winwarden-db for the launcher
    QTemporaryDir m_home; // the launcher's

    // The launcher, run from its home with WINWARDEN_BIN_DIR naming m_bin: what its program
    // wrote (working directory, arguments), or its error output.
    QString Launch(const QStringList& arguments, const QString& dataHome = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"HOME"_s, m_home.path());
        env.insert(u"XDG_DATA_HOME"_s, dataHome);
        env.insert(u"XDG_CONFIG_HOME"_s, m_home.filePath(u"config"_s));
        env.insert(u"WINWARDEN_BIN_DIR"_s, m_bin.path());
        env.insert(u"PATH"_s, u"/usr/bin:/bin"_s); // the programs by WINWARDEN_BIN_DIR alone
        env.remove(u"WINWARDEN_DATABASE"_s);
        const RunOutcome run = RunProgram(QT_TESTCASE_SOURCEDIR "/../tools/winwarden-launcher"_L1,
                                          arguments, m_home.path(), env);
        return run.code == 0 ? run.out : run.err;
    }

private Q_SLOTS:
    // The desktop's opener is a stand-in that ends with the status the test gives it; the
    // launcher's winwarden one that says where it runs and with what.
    void initTestCase() {
        for (const auto& [name, script] :
             {std::pair{"xdg-open", "#!/bin/sh\necho \"$1\" >>\"$0.seen\"\nexit $OPENER_STATUS\n"},
              {"winwarden", "#!/bin/sh\npwd; for a; do echo \"$a\"; done\n"}}) {
            const QString path = m_bin.filePath(QString::fromLatin1(name));
            QVERIFY(WriteFile(path, script) &&
                    QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner));
        }
        QVERIFY(QFile::link(qEnvironmentVariable("WINWARDEN_DB_TOOL"),
                            m_bin.filePath(u"winwarden-db"_s)));
        qputenv("PATH", QFile::encodeName(m_bin.path()) + ":/usr/bin:/bin");
    }

    void init() { m_fixture = std::make_unique<AppFixture>(); }
    void cleanup() { m_fixture.reset(); }

    // --monitor, or the setting, starts monitoring with the window; the first cycle comes with
    // the first tick. A settings file at the older place is read and moved to ours.
    void monitoringFromTheStart() {
        QSettings().setValue(u"Monitor/StartAtLaunch"_s, false);
        QVERIFY(m_fixture->Start({u"--monitor"_s}));
        QVERIFY(m_fixture->View().IsMonitoring());
        QTRY_VERIFY_WITH_TIMEOUT(m_fixture->source->Passes() > 0, 3000);
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
        QCOMPARE(ReadFile(m_bin.filePath(u"xdg-open.seen"_s)),
                 QByteArray("https://a.example/?q=%E4%B8%AD\n").repeated(2));
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
        m_fixture->source->SetPages({u"一"_s, u"http://1/"_s, u"二"_s, u"http://2/"_s});
        tick();
        QCOMPARE(pane->text(), u"监视中 · 浏览器窗口 2 个"_s);
        m_fixture->source->SetUnreadable(true);
        tick();
        Frame().statusBar()->showMessage(u"就绪"_s);
        QCOMPARE(pane->text(), u"监视中 · 没有浏览器应答"_s);
        m_fixture->source->SetUnreadable(false);
        m_fixture->db.exec(u"DROP TABLE 窗口名表"_s);
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

    // The database is made in the data folder when missing and kept when there, and the program
    // started in that folder with its arguments. At login the desktop starts the launcher,
    // monitoring and in the tray; off removes that entry.
    void launcherDatabaseProgramAndAutostart() {
        m_fixture.reset();
        const QString data = m_home.filePath(u".local/share/winwarden"_s);
        QCOMPARE(Launch({u"-x"_s, u"doc.txt"_s}),
                 u"已创建规则数据库 %1/winwarden.mdb\n%1\n-x\n%2\n"_s.arg(
                     data, m_home.filePath(u"doc.txt"_s)));
        QVERIFY(QFileInfo(data + u"/winwarden.mdb"_s).size() > 0);
        QCOMPARE(Launch({}, u"relative"_s), data + u'\n'); // kept; a relative XDG_DATA_HOME ignored

        const QString entry = m_home.filePath(u"config/autostart/winwarden.desktop"_s);
        Launch({u"--autostart"_s, u"on"_s});
        const QString text = QString::fromUtf8(ReadFile(entry));
        QVERIFY2(text.contains(u"winwarden-launcher\" --monitor --tray\n"_s) &&
                     text.contains(u"WINWARDEN_BIN_DIR="_s + m_bin.path()),
                 qPrintable(text));
        Launch({u"--autostart"_s, u"off"_s});
        QVERIFY(!QFile::exists(entry));
    }
};

QTEST_MAIN(TestMainFrame)
#include "test_mainframe.moc"
