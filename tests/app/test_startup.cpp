// Start-up, the document, the About box and the tray, over the real main window.
#include "app/aboutdlg.h"
#include "res/commandids.h"
#include "tests/app/appfixture.h"
#include "tests/support/modalanswer.h"

#include <QFileDialog>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTableWidget>
#include <QToolBar>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::Literals::StringLiterals;

namespace {

QString WriteFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() ? path : u""_s;
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(no file)");
}

// Answers a file dialog with a name, or cancels it when the name is empty.
ModalAnswer::Step ChooseFile(const QString& path) {
    return [path](QWidget* modal) {
        if (auto* dialog = qobject_cast<QFileDialog*>(modal); dialog && !path.isEmpty()) {
            dialog->selectFile(path);
            return void(QMetaObject::invokeMethod(dialog, "accept"));
        }
        modal->close();
    };
}

} // namespace

class TestStartup final : public QObject {
    Q_OBJECT

    std::unique_ptr<AppFixture> m_fixture;
    CMainFrame& Frame() { return m_fixture->Frame(); }
    void Start(const QStringList& arguments = {}) {
        QVERIFY(m_fixture->Start(arguments));
        QVERIFY(QTest::qWaitForWindowExposed(&Frame()));
    }
    // Ctrl+key on the main window, the modals it opens answered: {answered, forced closed}.
    std::pair<int, int> Press(Qt::Key key, const QList<ModalAnswer::Step>& steps = {}) {
        ModalAnswer answer(steps);
        Frame().activateWindow();
        if (QTest::qWaitForWindowActive(&Frame())) {
            QTest::keyClick(&Frame(), key, Qt::ControlModifier);
        }
        return {answer.answered(), answer.forced()};
    }

private Q_SLOTS:
    void init() { m_fixture = std::make_unique<AppFixture>(); }
    void cleanup() { m_fixture.reset(); }

    void startPlacesTheWindow_data() {
        QTest::addColumn<bool>("withDocument");
        QTest::newRow("no arguments") << false;
        QTest::newRow("a document") << true;
    }
    void startPlacesTheWindow() {
        QFETCH(bool, withDocument);
        QTemporaryDir dir;
        const QStringList args{withDocument ? WriteFile(dir.filePath(u"a.txt"_s), "kept") : u""_s};
        Start(withDocument ? args : QStringList());
        QCOMPARE(Frame().windowTitle(), u"浏览哨兵 - winwarden"_s);
        const QRect area = Frame().screen()->availableGeometry(), frame = Frame().frameGeometry();
        QCOMPARE(frame.size(), QSize(800, 571));
        QVERIFY((frame.center() - area.center()).manhattanLength() <= 1);
        QVERIFY(m_fixture->View().ListControl()->isHidden()); // until the user's first command
        QCOMPARE(m_fixture->Doc().GetPathName(), args.at(0));
        QCOMPARE(m_fixture->App().RecentFiles().Files(), withDocument ? args : QStringList());
        QCOMPARE(ReadFile(args.at(0)), withDocument ? "kept" : "(no file)");
    }
    // The program ends at once with a failure status, leaving no window behind.
    void startWithAPathThatCannotBeOpenedEndsTheRun() {
        QProcess process;
        process.setWorkingDirectory(m_fixture->Db().dir());
        process.start(qEnvironmentVariable("WINWARDEN_PROGRAM"), {u"/nonexistent/document"_s});
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QVERIFY(process.exitCode() != 0);
    }
    // A new document keeps the one document, frame and view, and the window where the user put
    // it. Opening reads nothing; saving writes an empty file, but never over foreign content.
    void newOpenAndSave() {
        Start();
        CMainFrame* frame = &Frame();
        CWinwardenDoc* document = &m_fixture->Doc();
        m_fixture->TriggerMenu(cmd::kStart);
        QVERIFY(!m_fixture->View().ListControl()->isHidden());
        frame->setGeometry(17, 23, 640, 480);
        const QRect placed = frame->frameGeometry();
        QCOMPARE(Press(Qt::Key_N), std::pair(0, 0));
        QCOMPARE(m_fixture->App().MainFrame(), frame);
        QCOMPARE(&m_fixture->Doc(), document);
        QCOMPARE(frame->findChildren<CWinwardenView*>(), QList{frame->View()});
        QCOMPARE(frame->frameGeometry(), placed);
        QVERIFY(m_fixture->View().ListControl()->isHidden()); // the initial update ran again

        QTemporaryDir dir;
        QStringList paths;
        for (int i = 0; i < 5; ++i) {
            paths << WriteFile(dir.filePath(u"doc%1.txt"_s.arg(i)), "user data");
        }
        QCOMPARE(Press(Qt::Key_O, {ChooseFile(paths.at(0))}), std::pair(1, 0));
        QCOMPARE(m_fixture->Doc().GetPathName(), paths.at(0));
        for (const int i : {1, 2, 3, 4, 2}) {
            QVERIFY(m_fixture->App().OpenDocumentFile(paths.at(i)));
        }
        QVERIFY(!m_fixture->App().OpenDocumentFile(dir.filePath(u"missing"_s)));
        QVERIFY(!m_fixture->App().OpenDocumentFile(dir.path()));
        QCOMPARE(m_fixture->Doc().GetPathName(), paths.at(2));
        const QStringList recent{paths.at(2), paths.at(4), paths.at(3), paths.at(1), QString()};
        QCOMPARE(m_fixture->App().RecentFiles().Files(), recent.first(4));
        QSettings settings;
        QCOMPARE(settings.fileName(),
                 m_fixture->SettingsDir() +
                     u"/Local AppWizard-Generated Applications/winwarden.conf"_s);
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(settings.value(u"Recent File List/File%1"_s.arg(i + 1)).toString(), recent[i]);
        }

        QCOMPARE(Press(Qt::Key_S, {ChooseFile(QString())}), std::pair(1, 0)); // not ours: asks
        const QString saved = dir.filePath(u"saved.wwd"_s);
        QCOMPARE(Press(Qt::Key_S, {ChooseFile(saved)}), std::pair(1, 0));
        QCOMPARE(ReadFile(paths.at(2)) + '|' + ReadFile(saved), "user data|");
        QCOMPARE(m_fixture->Doc().GetPathName(), saved);
        QCOMPARE(Frame().windowTitle(), u"浏览哨兵 - winwarden"_s);
        QVERIFY(QFile::remove(saved));
        QCOMPARE(Press(Qt::Key_S), std::pair(0, 0)); // its own empty file: saved without asking
        QCOMPARE(ReadFile(saved), QByteArray());
        QVERIFY(!m_fixture->Doc().OnSaveDocument(dir.filePath(u"no/such/dir/x"_s)));
    }
    // Opened from the menu and the toolbar, closed by its button or its close box.
    void aboutBoxAnyNumberOfTimes() {
        Start();
        QStringList seen;
        const auto close = [&seen](QWidget* m) {
            seen << m->objectName();
            seen.size() == 1 ? Child<QPushButton>(m, "okButton")->click() : void(m->close());
        };
        ModalAnswer answer({close, close, close});
        m_fixture->TriggerMenu(cmd::kAppAbout);
        Frame().ToolBar()->actions().value(0)->trigger();
        m_fixture->TriggerMenu(cmd::kAppAbout);
        QCOMPARE(seen, QStringList(3, u"aboutDialog"_s));
        QCOMPARE(answer.forced(), 0);
        QCOMPARE(QApplication::activeModalWidget(), nullptr);

        CAboutDlg about(&Frame());
        QCOMPARE(about.windowTitle(), u"关于 winwarden"_s);
        QCOMPARE(Child<QLabel>(&about, "aboutText")->text(), u"浏览哨兵 winwarden 1.0 版"_s);
        QCOMPARE(Child<QPushButton>(&about, "okButton")->text(), u"确定"_s);
        QVERIFY(!Child<QLabel>(&about, "aboutIcon")->pixmap().isNull());
        QCOMPARE(about.size(),
                 QSize(qRound(276 * about.UnitWidth()), qRound(99 * about.UnitHeight())));
        QVERIFY(about.width() > about.height());
    }
    // Without a tray the window must stay reachable; with one it hides behind the icon.
    void minimiseGoesToTheTrayWhenThereIsOne() {
        Start();
        QSystemTrayIcon* tray = Frame().TrayIcon();
        QCOMPARE(tray->toolTip(), u"浏览哨兵"_s);
        QVERIFY(!tray->icon().isNull());
        m_fixture->TriggerMenu(cmd::kStart);
        if (!QSystemTrayIcon::isSystemTrayAvailable()) {
            Frame().setWindowState(Qt::WindowMinimized);
            QTest::qWait(20);
            QVERIFY(Frame().isVisible() && !Frame().IsInTray());
            QSKIP("no system tray here: hiding to the tray is not checked");
        }
        QVERIFY(tray->isVisible());
        Frame().setWindowState(Qt::WindowMaximized);
        Frame().setWindowState(Qt::WindowMaximized | Qt::WindowMinimized);
        QTRY_VERIFY(!Frame().isVisible());
        QVERIFY(m_fixture->View().IsMonitoring());
        Q_EMIT tray->activated(QSystemTrayIcon::Trigger); // only a double-click brings it back
        Q_EMIT tray->activated(QSystemTrayIcon::Context);
        QVERIFY(!Frame().isVisible());
        Q_EMIT tray->activated(QSystemTrayIcon::DoubleClick);
        QTRY_VERIFY(Frame().isVisible());
        QVERIFY(Frame().isMaximized() && !Frame().isMinimized());
        Frame().close();
        QVERIFY(!tray->isVisible());
    }
};

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
