// `cmake --install` into a prefix of an ordinary user's own: it succeeds, everything it writes
// is under the prefix (guard.conf in the prefix's etc/, not /etc), the guard installed there
// reads its configuration from there, as its unit names its password file there, and each
// program comes with its manual page.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr char kUser[] = "4250";

QString Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

class TestInstall final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void installsIntoAUsersOwnPrefix() {
        if (::geteuid() != 0)
            QSKIP("installing as another user needs root (setpriv, a mount namespace)");
        QTemporaryDir dir;
        const QString home = dir.filePath(u"home"_s);
        const QString prefix = home + u"/w"_s;
        const QString manifest = dir.filePath(u"install_manifest.txt"_s);
        const QString build = QDir::cleanPath(QCoreApplication::applicationDirPath() + u"/.."_s);
        const QString buildManifest = build + u"/install_manifest.txt"_s;
        QVERIFY(QDir().mkpath(home));
        QFile(buildManifest).open(QIODevice::Append); // where the user's manifest is bound
        QFile(manifest).open(QIODevice::WriteOnly);
        QCOMPARE(QProcess::execute(u"chown"_s,
                                   {u"%1:%1"_s.arg(QLatin1StringView(kUser)), home, manifest}),
                 0);
        QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                      QFile::ExeOwner | QFile::ReadOther |
                                                      QFile::ExeOther));
        // The user's build would be theirs to write its manifest in; this one is root's, so
        // the user gets a file of their own in its place, in a mount namespace of the install's.
        // It may also lie below a folder closed to others (a checkout in a private temporary
        // folder): there each such folder is overlaid by itself with a root others may pass.
        QStringList closed;
        for (QString path : {build, QStringLiteral(QT_TESTCASE_SOURCEDIR)})
            for (; path.size() > 1; path = QFileInfo(path).path())
                if (!(QFileInfo(path).permissions() & QFile::ExeOther) && !closed.contains(path))
                    closed.append(path);
        std::sort(closed.begin(), closed.end(),
                  [](const QString& a, const QString& b) { return a.size() < b.size(); });
        QString opened;
        for (qsizetype i = 0; i < closed.size(); ++i)
            opened += u"o=%1/o%2 && mkdir $o && mount -t tmpfs tmpfs $o && mkdir $o/u $o/w && "
                      u"chmod 755 $o/u && mount -t overlay overlay -o "
                      u"lowerdir='%3',upperdir=$o/u,workdir=$o/w '%3' && "_s.arg(dir.path())
                          .arg(i)
                          .arg(closed[i]);
        QProcess install;
        install.setProcessChannelMode(QProcess::MergedChannels);
        install.start(u"unshare"_s,
                      {u"-m"_s, u"--propagation"_s, u"private"_s, u"sh"_s, u"-c"_s,
                       opened + u"mount --bind \"$1\" \"$2\" && exec setpriv --reuid=%1 --regid=%1 "
                                u"--clear-groups env -i PATH=\"$PATH\" HOME=\"$3\" cmake "
                                u"--install \"$4\" "
                                u"--prefix \"$5\""_s.arg(QLatin1StringView(kUser)),
                       u"sh"_s, manifest, buildManifest, home, build, prefix});
        QVERIFY(install.waitForFinished(120000));
        QVERIFY2(install.exitStatus() == QProcess::NormalExit && install.exitCode() == 0,
                 install.readAll().constData());
        const QStringList written = Read(manifest).split(u'\n', Qt::SkipEmptyParts);
        QVERIFY(written.contains(prefix + u"/sbin/winwarden-guard"_s));
        for (const QString& path : written)
            QVERIFY2(path.startsWith(prefix + u'/'), qPrintable(path));

        const QString config = prefix + u"/etc/winwarden/guard.conf"_s;
        QVERIFY(QFile::exists(config));
        QProcess guard;
        guard.start(prefix + u"/sbin/winwarden-guard"_s, {u"--help"_s});
        QVERIFY(guard.waitForFinished(20000));
        QVERIFY2(QString::fromUtf8(guard.readAll()).contains(u"（默认 %1）"_s.arg(config)),
                 "the installed guard looks for its configuration elsewhere");
        QVERIFY(Read(prefix + u"/lib/systemd/system/winwarden-guard.service"_s)
                    .contains(u"PGPASSFILE=%1/etc/winwarden/pgpass\n"_s.arg(prefix)));

        // Every program has its manual page, and so has guard.conf; each renders without a
        // warning from man or groff.
        QStringList pages{prefix + u"/share/man/man5/guard.conf.5"_s};
        for (const QString& bin : {u"/bin"_s, u"/sbin"_s}) {
            for (const QString& program : QDir(prefix + bin).entryList(QDir::Files)) {
                const QString page = u"%1/share/man/man%3/%2.%3"_s.arg(prefix, program);
                pages.append(QFile::exists(page.arg(1)) ? page.arg(1) : page.arg(8));
                QVERIFY2(QFile::exists(pages.back()), qPrintable(program));
            }
        }
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"LANG"_s, u"C.UTF-8"_s);
        environment.remove(u"LC_ALL"_s);
        for (const QString& page : pages) {
            QProcess man;
            man.setProcessEnvironment(environment);
            man.start(u"man"_s, {u"--warnings"_s, u"-l"_s, page});
            QVERIFY(man.waitForFinished(20000));
            const QByteArray warnings = man.readAllStandardError();
            QVERIFY2(man.exitCode() == 0 && warnings.isEmpty() && !man.readAll().isEmpty(),
                     qPrintable(page + u": "_s + QString::fromUtf8(warnings)));
        }
    }
};

QTEST_GUILESS_MAIN(TestInstall)
#include "test_install.moc"
