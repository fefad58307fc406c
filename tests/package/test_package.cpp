// The Debian package made from this build (tools/package.sh): lintian finds no error in it, and
// on a throwaway copy of this machine's own Debian (an overlay over its root with a private
// upper layer, chrooted into, in private mount and PID namespaces) it installs with the
// dependencies this machine has, starts the window and the guard, asks systemd to start the
// guard only on an upgrade of one that runs, upgrades from an older version keeping every rule,
// and leaves nothing of its own behind when purged, also where a source install was there before.
#include "res/version.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

using namespace Qt::StringLiterals;

class TestPackage final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void installsUpgradesAndPurgesOnAThrowawaySystem() {
        if (::geteuid() != 0)
            QSKIP("installing into a throwaway system needs root (for its namespaces)");
        for (const QString& tool :
             {u"dpkg-buildpackage"_s, u"dh"_s, u"lintian"_s, u"Xvfb"_s, u"xdotool"_s, u"unshare"_s})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                QSKIP(qPrintable(tool + u" is missing: tools/install-deps.sh installs it"_s));
        QTemporaryDir dir;
        QProcess run;
        run.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        run.start(u"bash"_s,
                  {QStringLiteral(QT_TESTCASE_SOURCEDIR "/package/package-test.sh"), u"outside"_s,
                   QDir::cleanPath(QStringLiteral(QT_TESTCASE_SOURCEDIR "/..")),
                   QFileInfo(qEnvironmentVariable("WINWARDEN_PROGRAM")).path(), dir.path()});
        if (!run.waitForFinished(280000))
            run.kill();
        const QString version = QString::fromLatin1(winwarden::res::kVersion);
        const QString serves = u": serves /run/winwarden/bridge as winwarden"_s;
        QCOMPARE(QString::fromUtf8(run.readAllStandardOutput()).trimmed(),
                 QStringList(
                     {
                         u"lintian: no errors"_s,
                         u"lintian finds no manual page for: none"_s,
                         u"installed: %1~older; systemd asked: daemon-reload"_s.arg(version),
                         u"under /usr/local: 0"_s,
                         u"conffiles: /etc/winwarden/guard.conf"_s,
                         u"programs without a manual page: none"_s,
                         u"the guard reads: /etc/winwarden/guard.conf"_s,
                         u"unit: /usr/sbin/winwarden-guard; registered: "
                         u"/var/lib/systemd/deb-systemd-helper-enabled/"
                         u"winwarden-guard.service.dsh-also; enabled: none"_s,
                         u"user: /var/lib/winwarden in winwarden"_s,
                         u"window: 浏览哨兵 - winwarden; rules: 4242 "
                         u"/home/child/.local/share/winwarden/winwarden.mdb"_s,
                         u"guard"_s + serves,
                         u"guard rules: winwarden 640"_s,
                         u"upgraded: %1; systemd asked: daemon-reload,restart "
                         u"winwarden-guard.service"_s.arg(version),
                         u"kept: guard 禁止, child 禁止, guard.conf 1"_s,
                         u"guard after the upgrade"_s + serves,
                         u"policies: /usr/share/winwarden/browser/installed.json "
                         u"/etc/chromium/policies/managed/winwarden.json"_s,
                         u"systemd asked on removal: stop winwarden-guard.service,daemon-reload"_s,
                         u"removed: left none; kept /etc/winwarden/guard.conf, guard 禁止"_s,
                         u"purged: left none; child 禁止; systemd asked: daemon-reload"_s,
                         u"left behind: nothing"_s,
                     })
                     .join(u'\n'));
    }
};

QTEST_GUILESS_MAIN(TestPackage)
#include "test_package.moc"
