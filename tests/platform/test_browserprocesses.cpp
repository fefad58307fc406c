// Which running programs are browsers of a family the companion extension names.
#include "platform/browserprocesses.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

using namespace winwarden;
using namespace Qt::StringLiterals;

class TestBrowserProcesses final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A program named as Vivaldi's, and a process it starts, are Vivaldi's while it runs.
    void aRunningBrowserIsFoundInProc() {
        if (RunningBrowserFamilies().contains(u"vivaldi"_s))
            QSKIP("a Vivaldi runs on this machine");
        QTemporaryDir dir;
        const QString program = dir.filePath(u"vivaldi-bin"_s);
        QVERIFY(QFile::copy(u"/bin/sh"_s, program));
        QProcess browser;
        browser.start(program, {u"-c"_s, u"sleep 30 & echo $!; wait"_s});
        QVERIFY(browser.waitForReadyRead());
        const qint64 child = browser.readLine().trimmed().toLongLong();
        QVERIFY(RunningBrowserFamilies().contains(u"vivaldi"_s));
        QCOMPARE(BrowserFamilyOfParent(child), u"vivaldi"_s);
        QCOMPARE(BrowserFamilyOfParent(browser.processId()), QString());
        ::kill(pid_t(child), SIGKILL);
        browser.waitForFinished();
        QVERIFY(!RunningBrowserFamilies().contains(u"vivaldi"_s));
        // Started with a DevTools port, it is watched through that port: no extension needed.
        browser.start(program, {u"-c"_s, u"sleep 30; :"_s, u"--remote-debugging-port=9222"_s});
        QVERIFY(browser.waitForStarted());
        QVERIFY(!RunningBrowserFamilies().contains(u"vivaldi"_s));
        browser.kill();
        browser.waitForFinished();
    }
};

QTEST_GUILESS_MAIN(TestBrowserProcesses)
#include "test_browserprocesses.moc"
