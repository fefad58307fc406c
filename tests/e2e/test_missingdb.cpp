// Without its rule database the program tells the user in a box and ends with status -1,
// creating nothing. It runs whole on a private X server, where a key press answers the box.
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// A program that never shows the box is ended, so the test cannot hang.
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

private Q_SLOTS:
    void programTellsTheUserAndEndsWithMinusOne() {
        QTemporaryDir dir, xDir;
        QProcess run;
        run.setWorkingDirectory(dir.path());
        run.start(u"sh"_s, {u"-c"_s, QString::fromUtf8(kScript), u"sh"_s,
                            qEnvironmentVariable("WINWARDEN_PROGRAM"), xDir.path()});
        QVERIFY(run.waitForFinished(60000));
        const QString out = QString::fromUtf8(run.readAllStandardOutput()).trimmed();
        const QString err = QString::fromUtf8(run.readAllStandardError());
        QVERIFY2(out.endsWith(u"found=0 status=255"_s), qPrintable(out + err));
        const QString path = QDir(dir.path()).filePath(u"winwarden.mdb"_s);
        QVERIFY2(err.contains(path) && err.contains(u"winwarden-db create '"_s + path),
                 qPrintable(err));
        QVERIFY(QDir(dir.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
    }
};

QTEST_GUILESS_MAIN(TestMissingDb)
#include "test_missingdb.moc"
