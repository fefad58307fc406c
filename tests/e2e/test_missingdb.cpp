// Without its rule database the program tells the user and ends with status -1, creating
// nothing: the view alone in a child process that answers the box itself, and the whole program
// on a private X server where a key press answers it.
#include "monitor/winwardenview.h"
#include "res/texts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <cstring>

using namespace winwarden;
using namespace Qt::StringLiterals;

namespace {

const char* const kHostFlag = "--view-without-database";

// The child: a view over the empty `dir`; prints the box it shows and presses its only button.
int RunHost(char** argv, const char* dir) {
    int argc = 1;
    QApplication app(argc, argv);
    QTimer::singleShot(20, [] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        std::printf("%s|%s|%d|%d\n", qUtf8Printable(box->windowTitle()),
                    qUtf8Printable(box->text()), static_cast<int>(box->buttons().size()),
                    static_cast<int>(box->icon()));
        std::fflush(stdout);
        box->buttons().first()->click();
    });
    MonitorServices services;
    services.databasePath = QString::fromLocal8Bit(dir) + u"/winwarden.mdb"_s;
    CWinwardenView view(nullptr, services);
    std::printf("constructed\n"); // the view must not come up
    return 0;
}

const char* const kScript = R"(
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$2/display" 2>"$2/xvfb.log" & xvfb=$!
trap 'kill $xvfb' EXIT
for i in $(seq 100); do [ -s "$2/display" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$2/display")
QT_QPA_PLATFORM=xcb "$1" & app=$!
timeout 20 xdotool search --sync --onlyvisible --name '^winwarden$' windowfocus --sync &&
    xdotool key Return
found=$?
[ "$found" -eq 0 ] || kill "$app"
wait "$app"
echo "found=$found status=$?"
)";

} // namespace

class TestMissingDb final : public QObject {
    Q_OBJECT
    static bool Empty(const QTemporaryDir& dir) {
        return QDir(dir.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }

private Q_SLOTS:
    void viewTellsTheUserAndEndsWithMinusOne() {
        QTemporaryDir dir;
        QProcess host;
        host.start(QCoreApplication::applicationFilePath(),
                   {QString::fromLatin1(kHostFlag), dir.path()});
        QVERIFY(host.waitForFinished(30000));
        QCOMPARE(host.exitStatus(), QProcess::NormalExit);
        QCOMPARE(host.exitCode(), 255);
        QCOMPARE(QString::fromUtf8(host.readAllStandardOutput()),
                 u"winwarden|%1|1|%2\n"_s.arg(text::kOpenDbFailed).arg(int(QMessageBox::Critical)));
        QVERIFY2(Empty(dir), "the failed open left a file behind");
    }

    // A private X server on a display number it picks itself, so that tests side by side never
    // meet; a program that never shows the box is ended, so the test cannot hang.
    void programTellsTheUserAndEndsWithMinusOne() {
        const QString program = qEnvironmentVariable("WINWARDEN_PROGRAM");
        QVERIFY2(!program.isEmpty(), "WINWARDEN_PROGRAM names the program under test");
        QTemporaryDir dir, xDir;
        QProcess run;
        run.setWorkingDirectory(dir.path());
        run.start(u"sh"_s, {u"-c"_s, QString::fromUtf8(kScript), u"sh"_s, program, xDir.path()});
        QVERIFY(run.waitForFinished(60000));
        const QString out = QString::fromUtf8(run.readAllStandardOutput()).trimmed();
        QVERIFY2(out.endsWith(u"found=0 status=255"_s),
                 qPrintable(out + QString::fromUtf8(run.readAllStandardError())));
        QVERIFY2(Empty(dir), "the failed open left a file behind");
    }
};

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], kHostFlag) == 0)
        return RunHost(argv, argv[2]);
    QCoreApplication app(argc, argv);
    TestMissingDb test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_missingdb.moc"
