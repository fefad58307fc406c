// Which running programs are browsers of a family the companion extension names.
#include "platform/browserprocesses.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace winwarden;
using namespace Qt::StringLiterals;

class TestBrowserProcesses final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void programsAreKnownByTheirExecutable() {
        QCOMPARE(BrowserFamilyOfProgram(u"/usr/lib/chromium/chromium"_s), u"chromium"_s);
        QCOMPARE(BrowserFamilyOfProgram(u"/opt/google/chrome/chrome"_s), u"chrome"_s);
        QCOMPARE(BrowserFamilyOfProgram(u"/usr/lib/chromium-browser/chrome"_s), u"chromium"_s);
        QCOMPARE(BrowserFamilyOfProgram(u"/opt/microsoft/msedge/msedge (deleted)"_s), u"edge"_s);
        QCOMPARE(BrowserFamilyOfProgram(u"/usr/lib/firefox-esr/firefox-esr"_s), u"firefox"_s);
        QCOMPARE(BrowserFamilyOfProgram(u"/usr/bin/chromedriver"_s), QString());
    }

    // A program named as Vivaldi's is one of ours while it runs, and not once it has ended.
    void aRunningBrowserIsFoundInProc() {
        if (RunningBrowserFamilies().contains(u"vivaldi"_s)) {
            QSKIP("a Vivaldi runs on this machine");
        }
        QTemporaryDir dir;
        const QString program = dir.filePath(u"vivaldi-bin"_s);
        QVERIFY(QFile::copy(u"/bin/sleep"_s, program));
        QProcess sleeper;
        sleeper.start(program, {u"30"_s});
        QVERIFY(sleeper.waitForStarted());
        QVERIFY(RunningBrowserFamilies().contains(u"vivaldi"_s));
        sleeper.kill();
        sleeper.waitForFinished();
        QVERIFY(!RunningBrowserFamilies().contains(u"vivaldi"_s));
    }
};

QTEST_GUILESS_MAIN(TestBrowserProcesses)
#include "test_browserprocesses.moc"
