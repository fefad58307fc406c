// Start-up, the document, the About box and the tray, over the real main window.
#include "app/aboutdlg.h"
#include "res/commandids.h"
#include "tests/app/appfixture.h"
#include "tests/support/modalanswer.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTableWidget>
#include <QToolBar>

using namespace winwarden;
using namespace winwarden::test;

namespace {

const QString kCaption = QStringLiteral("浏览哨兵 - winwarden");

void WriteFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
        throw std::runtime_error("cannot write the test file");
    }
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw std::runtime_error("cannot read the test file");
    }
    return file.readAll();
}

// Answers a file dialog with a name, or cancels it when the name is empty.
ModalAnswer::Step ChooseFile(const QString& path, QString* title = nullptr) {
    return [path, title](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (dialog == nullptr) {
            modal->close();
            return;
        }
        if (title != nullptr) {
            *title = dialog->windowTitle();
        }
        if (path.isEmpty()) {
            dialog->reject();
            return;
        }
        dialog->selectFile(path);
        QMetaObject::invokeMethod(dialog, "accept");
    };
}

QList<QWidget*> VisibleTopLevels() {
    QList<QWidget*> shown;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible()) {
            shown.append(widget);
        }
    }
    return shown;
}

} // namespace

class TestStartup final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<AppFixture> m_fixture;

    CMainFrame& Frame() { return m_fixture->Frame(); }

    // A key for the main window, as the user presses it there once a dialog has gone.
    void PressOnFrame(Qt::Key key, Qt::KeyboardModifiers modifiers) {
        Frame().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&Frame()));
        QTest::keyClick(&Frame(), key, modifiers);
    }

    void Start(const QStringList& arguments = {}) {
        QVERIFY(m_fixture->Start(arguments));
        QVERIFY(QTest::qWaitForWindowExposed(&Frame()));
    }

private Q_SLOTS:
    void init() { m_fixture = std::make_unique<AppFixture>(); }
    void cleanup() { m_fixture.reset(); }

    void ordinaryStartPlacesTheWindow() {
        Start();
        QCOMPARE(Frame().windowTitle(), kCaption);
        QCOMPARE(m_fixture->Doc().GetTitle(), QStringLiteral("浏览哨兵"));
        QCOMPARE(Frame().frameGeometry().size(), QSize(800, 571));
        const QRect area = Frame().screen()->availableGeometry();
        const QRect frame = Frame().frameGeometry();
        QVERIFY(area.contains(frame));
        QVERIFY(qAbs(frame.left() - area.left() - (area.right() - frame.right())) <= 1);
        QVERIFY(qAbs(frame.top() - area.top() - (area.bottom() - frame.bottom())) <= 1);
        // The list waits for the user's first command.
        QVERIFY(m_fixture->View().ListControl()->isHidden());
        QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("winwarden"));
        QCOMPARE(QCoreApplication::organizationName(),
                 QStringLiteral("Local AppWizard-Generated Applications"));
        QCOMPARE(QCoreApplication::applicationVersion(), QStringLiteral("1.0.0.1"));
    }

    void newDocumentKeepsTheWindowWhereTheUserPutIt() {
        Start();
        CMainFrame* frame = &Frame();
        CWinwardenDoc* document = &m_fixture->Doc();
        CWinwardenView* view = frame->View();
        m_fixture->TriggerMenu(cmd::kStart);
        QVERIFY(!view->ListControl()->isHidden());
        frame->move(17, 23);
        frame->resize(640, 480);
        const QRect placed = frame->frameGeometry();

        PressOnFrame(Qt::Key_N, Qt::ControlModifier);

        QCOMPARE(m_fixture->App().MainFrame(), frame);
        QCOMPARE(m_fixture->App().Document(), document);
        QCOMPARE(frame->View(), view);
        QCOMPARE(frame->findChildren<CWinwardenView*>().size(), 1);
        QCOMPARE(frame->frameGeometry(), placed);
        QCOMPARE(frame->windowTitle(), kCaption);
        // The view's initial update ran again: the list is put away.
        QVERIFY(view->ListControl()->isHidden());
    }

    void openReadsNothingAndRemembersTheFile() {
        Start();
        QTemporaryDir dir;
        QStringList paths;
        for (int i = 0; i < 5; ++i) {
            paths << dir.filePath(QStringLiteral("doc%1.txt").arg(i));
            WriteFile(paths.last(), "user data " + QByteArray::number(i));
        }

        // Through the open command and its dialog, which offers no filter.
        QString dialogTitle;
        {
            ModalAnswer answer({ChooseFile(paths.at(0), &dialogTitle)});
            PressOnFrame(Qt::Key_O, Qt::ControlModifier);
            QCOMPARE(answer.answered(), 1);
            QCOMPARE(answer.forced(), 0);
        }
        QCOMPARE(m_fixture->Doc().GetPathName(), paths.at(0));
        QCOMPARE(Frame().windowTitle(), kCaption);
        QCOMPARE(ReadFile(paths.at(0)), QByteArray("user data 0"));

        for (int i = 1; i < 5; ++i) {
            QVERIFY(m_fixture->App().OpenDocumentFile(paths.at(i)));
        }
        QVERIFY(m_fixture->App().OpenDocumentFile(paths.at(2)));
        const QStringList newestFirst{paths.at(2), paths.at(4), paths.at(3), paths.at(1)};
        QCOMPARE(m_fixture->App().RecentFiles().Files(), newestFirst);
        QSettings settings;
        QCOMPARE(settings.value(QStringLiteral("Recent File List/File1")).toString(), paths.at(2));
        QCOMPARE(settings.value(QStringLiteral("Recent File List/File4")).toString(), paths.at(1));
        QVERIFY(!settings.contains(QStringLiteral("Recent File List/File5")));

        // What cannot be read changes nothing.
        QVERIFY(!m_fixture->App().OpenDocumentFile(dir.filePath(QStringLiteral("missing"))));
        QVERIFY(!m_fixture->App().OpenDocumentFile(dir.path()));
        QCOMPARE(m_fixture->Doc().GetPathName(), paths.at(2));
        QCOMPARE(m_fixture->App().RecentFiles().Files(), newestFirst);
    }

    void saveWritesAnEmptyFileAndNeverEatsForeignContent() {
        Start();
        QTemporaryDir dir;
        const QString saved = dir.filePath(QStringLiteral("saved.wwd"));
        {
            ModalAnswer answer({ChooseFile(saved)});
            PressOnFrame(Qt::Key_S, Qt::ControlModifier);
            QCOMPARE(answer.answered(), 1);
        }
        QVERIFY(QFile::exists(saved));
        QCOMPARE(ReadFile(saved), QByteArray());
        QCOMPARE(m_fixture->Doc().GetPathName(), saved);
        QCOMPARE(Frame().windowTitle(), kCaption);

        // The document's own (empty) file is saved again without asking.
        QVERIFY(QFile::remove(saved));
        {
            ModalAnswer answer({});
            PressOnFrame(Qt::Key_S, Qt::ControlModifier);
            QCOMPARE(answer.answered(), 0);
            QCOMPARE(answer.forced(), 0);
        }
        QVERIFY(QFile::exists(saved));

        // An opened file with content of its own asks for a name; cancelling keeps it whole.
        const QString foreign = dir.filePath(QStringLiteral("notes.txt"));
        WriteFile(foreign, "keep me");
        QVERIFY(m_fixture->App().OpenDocumentFile(foreign));
        {
            ModalAnswer answer({ChooseFile(QString())});
            PressOnFrame(Qt::Key_S, Qt::ControlModifier);
            QCOMPARE(answer.answered(), 1);
        }
        QCOMPARE(ReadFile(foreign), QByteArray("keep me"));

        // A save that cannot be written says so instead of passing for done.
        QVERIFY(!m_fixture->Doc().OnSaveDocument(dir.filePath(QStringLiteral("no/such/dir/x"))));
    }

    void startWithADocumentPath() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("start.txt"));
        WriteFile(path, "untouched");
        Start({path});
        QCOMPARE(Frame().windowTitle(), kCaption);
        QCOMPARE(m_fixture->Doc().GetPathName(), path);
        QCOMPARE(ReadFile(path), QByteArray("untouched"));
        QCOMPARE(m_fixture->App().RecentFiles().Files().value(0), path);
    }

    void startWithAPathThatCannotBeOpenedLeavesNoWindow() {
        QVERIFY(!m_fixture->Start({QStringLiteral("/nonexistent/winwarden/document")}));
        QCOMPARE(m_fixture->App().MainFrame(), nullptr);
        QVERIFY(VisibleTopLevels().isEmpty());

        // The real program ends at once with a failure status.
        const QString program = qEnvironmentVariable("WINWARDEN_PROGRAM");
        if (program.isEmpty()) {
            QSKIP("WINWARDEN_PROGRAM is not set");
        }
        QProcess process;
        process.setWorkingDirectory(m_fixture->Db().dir());
        process.start(program, {QStringLiteral("/nonexistent/winwarden/document")});
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QVERIFY(process.exitCode() != 0);
    }

    void aboutBoxAnyNumberOfTimes() {
        Start();
        QString caption, line, button;
        bool iconShown = false;
        QSize size;
        QSize expected;
        const auto inspect = [&](QWidget* modal) {
            auto* about = qobject_cast<CAboutDlg*>(modal);
            if (about == nullptr) {
                modal->close();
                return;
            }
            caption = about->windowTitle();
            line = Child<QLabel>(about, "aboutText")->text();
            button = Child<QPushButton>(about, "okButton")->text();
            iconShown = !Child<QLabel>(about, "aboutIcon")->pixmap().isNull();
            size = about->size();
            expected = QSize(qRound(276 * about->UnitWidth()), qRound(99 * about->UnitHeight()));
            Child<QPushButton>(about, "okButton")->click();
        };
        const auto escape = [](QWidget* modal) {
            QTest::keyClick(modal, Qt::Key_Escape);
        };
        const auto closeBox = [](QWidget* modal) {
            modal->close();
        };
        ModalAnswer answer({inspect, escape, closeBox});
        m_fixture->TriggerMenu(cmd::kAppAbout);
        Frame().ToolBar()->actions().value(0)->trigger();
        m_fixture->TriggerMenu(cmd::kAppAbout);
        QCOMPARE(answer.answered(), 3);
        QCOMPARE(answer.forced(), 0);
        QCOMPARE(caption, QStringLiteral("关于 winwarden"));
        QCOMPARE(line, QStringLiteral("浏览哨兵 winwarden 1.0 版"));
        QCOMPARE(button, QStringLiteral("确定"));
        QVERIFY(iconShown);
        QCOMPARE(size, expected);
        QVERIFY(size.width() > size.height());
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
    }

    // Without a tray the window must stay reachable; with one it hides behind the icon.
    void minimiseGoesToTheTrayWhenThereIsOne() {
        Start();
        QSystemTrayIcon* tray = Frame().TrayIcon();
        QCOMPARE(tray->toolTip(), QStringLiteral("浏览哨兵"));
        QVERIFY(!tray->icon().isNull());
        m_fixture->TriggerMenu(cmd::kStart);

        if (!QSystemTrayIcon::isSystemTrayAvailable()) {
            Frame().setWindowState(Qt::WindowMinimized);
            QTest::qWait(20);
            QVERIFY(Frame().isVisible());
            QVERIFY(!Frame().IsInTray());
            QSKIP("no system tray here: hiding to the tray is not checked");
        }
        QVERIFY(tray->isVisible());
        Frame().setWindowState(Qt::WindowMaximized);
        Frame().setWindowState(Qt::WindowMaximized | Qt::WindowMinimized);
        QTRY_VERIFY(!Frame().isVisible());
        QVERIFY(m_fixture->View().IsMonitoring());
        Q_EMIT tray->activated(QSystemTrayIcon::Trigger);
        Q_EMIT tray->activated(QSystemTrayIcon::Context);
        QTest::qWait(20);
        QVERIFY(!Frame().isVisible());
        Q_EMIT tray->activated(QSystemTrayIcon::DoubleClick);
        QTRY_VERIFY(Frame().isVisible());
        QVERIFY(Frame().isMaximized());
        QVERIFY(!Frame().isMinimized());

        Frame().close();
        QVERIFY(!tray->isVisible());
    }
};

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
