// Without its rule database the program tells the user and ends with status -1, creating
// nothing. Checked twice: the view alone in a child process that answers the box itself, and
// the whole program on a private X server where a key press answers it.
#include "monitor/winwardenview.h"
#include "res/texts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <cstring>

using namespace winwarden;

namespace {

const char* const kHostFlag = "--view-without-database";

// The child: builds a view over `dir` and, when the box appears, prints what it says and
// presses its only button. Anything printed after "constructed" means the view came up.
int RunHost(int argc, char** argv, const QString& dir) {
    QApplication app(argc, argv);
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        answer.stop();
        const QList<QAbstractButton*> buttons = box->buttons();
        std::printf("title=%s\ntext=%s\nbuttons=%d\nicon=%d\n", qUtf8Printable(box->windowTitle()),
                    qUtf8Printable(box->text()), static_cast<int>(buttons.size()),
                    static_cast<int>(box->icon()));
        std::fflush(stdout);
        if (!buttons.isEmpty())
            buttons.first()->click();
    });
    answer.start(20);
    MonitorServices services;
    services.databasePath = QDir(dir).filePath(QStringLiteral("winwarden.mdb"));
    CWinwardenView view(nullptr, services);
    std::printf("constructed\n");
    return 0;
}

bool HasFiles(const QString& dir) {
    return !QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty();
}

} // namespace

class TestMissingDb final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void viewTellsTheUserAndEndsWithMinusOne() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QProcess host;
        host.start(QCoreApplication::applicationFilePath(),
                   {QString::fromLatin1(kHostFlag), dir.path()});
        QVERIFY(host.waitForFinished(30000));
        const QString out = QString::fromUtf8(host.readAllStandardOutput());
        QCOMPARE(host.exitStatus(), QProcess::NormalExit);
        QCOMPARE(host.exitCode(), 255);
        QCOMPARE(out, QStringLiteral("title=winwarden\ntext=%1\nbuttons=1\nicon=%2\n")
                          .arg(text::kOpenDbFailed)
                          .arg(static_cast<int>(QMessageBox::Critical)));
        QVERIFY2(!HasFiles(dir.path()), "the failed open left a file behind");
    }

    void programTellsTheUserAndEndsWithMinusOne() {
        const QString program = qEnvironmentVariable("WINWARDEN_PROGRAM");
        QVERIFY2(!program.isEmpty(), "WINWARDEN_PROGRAM names the program under test");
        for (const char* tool : {"Xvfb", "xdotool"})
            QVERIFY2(!QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty(), tool);

        // A private X server on a display number it picks itself, so that tests running side
        // by side never meet. The box is found by its caption, focused and answered with
        // Return; a program that never shows it is ended, so the test cannot hang.
        const QString script = QStringLiteral(R"(
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$2/display" 2>"$2/xvfb.log" &
xvfb=$!
trap 'kill $xvfb' EXIT
for i in $(seq 100); do [ -s "$2/display" ] && break; sleep 0.1; done
DISPLAY=:$(cat "$2/display")
export DISPLAY
"$1" & app=$!
timeout 20 xdotool search --sync --onlyvisible --name '^winwarden$' windowfocus --sync &&
    xdotool key Return
found=$?
[ "$found" -eq 0 ] || kill "$app"
wait "$app"
status=$?
echo "found=$found status=$status"
)");
        QTemporaryDir dir, xDir;
        QVERIFY(dir.isValid() && xDir.isValid());
        QProcess run;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        run.setProcessEnvironment(env);
        run.setWorkingDirectory(dir.path());
        run.start(QStringLiteral("sh"),
                  {QStringLiteral("-c"), script, QStringLiteral("sh"), program, xDir.path()});
        QVERIFY(run.waitForFinished(60000));
        const QString out = QString::fromUtf8(run.readAllStandardOutput()).trimmed();
        QVERIFY2(out.endsWith(QStringLiteral("found=0 status=255")),
                 qPrintable(out + QString::fromUtf8(run.readAllStandardError())));
        QVERIFY2(!HasFiles(dir.path()), "the failed open left a file behind");
    }
};

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], kHostFlag) == 0) {
        const QString dir = QString::fromLocal8Bit(argv[2]);
        int hostArgc = 1;
        return RunHost(hostArgc, argv, dir);
    }
    QCoreApplication app(argc, argv);
    TestMissingDb test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_missingdb.moc"
