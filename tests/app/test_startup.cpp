// Start-up, the document and a window without a tray, over the real main window.
#include "tests/app/appfixture.h"
#include "tests/support/modalanswer.h"

#include <QFileDialog>
#include <QProcess>
#include <QSystemTrayIcon>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::Literals::StringLiterals;

class TestStartup final : public QObject {
    Q_OBJECT

    std::unique_ptr<AppFixture> m_fixture;
    CMainFrame& Frame() { return m_fixture->Frame(); }
    // Ctrl+key on the main window, a file dialog given `path`: {answered, forced closed}.
    std::pair<int, int> Press(Qt::Key key, const QString& path = {}) {
        ModalAnswer answer({[path](QWidget* modal) {
            if (auto* dialog = qobject_cast<QFileDialog*>(modal))
                dialog->selectFile(path);
            QMetaObject::invokeMethod(modal, "accept");
        }});
        Frame().activateWindow();
        if (QTest::qWaitForWindowActive(&Frame()))
            QTest::keyClick(&Frame(), key, Qt::ControlModifier);
        return {answer.answered(), answer.forced()};
    }

private Q_SLOTS:
    void init() { m_fixture = std::make_unique<AppFixture>(); }
    void cleanup() { m_fixture.reset(); }

    // A document that cannot be opened ends the run with a failure; a new one keeps the one
    // document, frame and view where they were; saving never writes over foreign content.
    void startNewOpenAndSave() {
        QProcess process;
        process.setWorkingDirectory(m_fixture->Db().dir());
        process.start(qEnvironmentVariable("WINWARDEN_PROGRAM"), {u"/nonexistent/document"_s});
        QVERIFY(process.waitForFinished(20000) && process.exitStatus() == QProcess::NormalExit);
        QVERIFY(process.exitCode() != 0);
        QTemporaryDir dir;
        QStringList paths;
        for (int i = 0; i < 3; ++i) {
            QFile file(paths.emplace_back(dir.filePath(u"doc%1.txt"_s.arg(i))));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("user data") == 9);
        }
        QVERIFY(m_fixture->Start({paths.at(0)}));
        QVERIFY(QTest::qWaitForWindowExposed(&Frame()));
        CMainFrame* frame = &Frame();
        CWinwardenDoc* document = &m_fixture->Doc();
        QCOMPARE(document->GetPathName(), paths.at(0));
        frame->setGeometry(17, 23, 640, 480);
        const QRect at = frame->frameGeometry();
        QCOMPARE(Press(Qt::Key_N), std::pair(0, 0));
        QVERIFY(m_fixture->App().MainFrame() == frame && &m_fixture->Doc() == document &&
                frame->findChildren<CWinwardenView*>() == QList{frame->View()});
        QCOMPARE(frame->frameGeometry(), at);
        QCOMPARE(Press(Qt::Key_O, paths.at(1)), std::pair(1, 0));
        QVERIFY(m_fixture->App().OpenDocumentFile(paths.at(2)));
        QVERIFY(!m_fixture->App().OpenDocumentFile(dir.filePath(u"missing"_s)));
        QCOMPARE(document->GetPathName(), paths.at(2));
        const QString saved = dir.filePath(u"saved.wwd"_s);
        QCOMPARE(Press(Qt::Key_S, saved), std::pair(1, 0));
        QVERIFY(QFileInfo(paths.at(0)).size() == 9 && QFileInfo(paths.at(2)).size() == 9 &&
                QFileInfo::exists(saved) && QFileInfo(saved).size() == 0);
        QCOMPARE(document->GetPathName(), saved);
        QVERIFY(QFile::remove(saved));
        QCOMPARE(Press(Qt::Key_S), std::pair(0, 0)); // its own empty file: saved without asking
        QVERIFY(QFileInfo::exists(saved) && QFileInfo(saved).size() == 0);
        QVERIFY(!document->OnSaveDocument(dir.filePath(u"no/such/dir/x"_s)));
    }
    // --monitor, or the setting, starts monitoring with the window; the first cycle comes with
    // the first tick. The option is no document name. A settings file at the place earlier
    // versions used is read, and moved to ~/.config/winwarden/winwarden.conf.
    void monitoringFromTheStart() {
        QSettings().setValue(u"Monitor/StartAtLaunch"_s, false);
        QVERIFY(m_fixture->Start({u"--monitor"_s}));
        QVERIFY(m_fixture->View().IsMonitoring() && m_fixture->Doc().GetPathName().isEmpty());
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

    // Minimised where there is no tray, the window stays visible, as there would be no way back
    // (the tray itself: e2e.test_desktop).
    void minimisedWithoutATray() {
        QVERIFY(m_fixture->Start());
        QVERIFY(QTest::qWaitForWindowExposed(&Frame()));
        m_fixture->TriggerMenu(cmd::kStart);
        if (QSystemTrayIcon::isSystemTrayAvailable())
            QSKIP("this desktop has a tray");
        Frame().setWindowState(Qt::WindowMinimized);
        QTest::qWait(20);
        QVERIFY(Frame().isVisible() && !Frame().IsInTray());
    }
};

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
