// The launcher gives the program the user's own rule database: made in the data folder when
// missing, kept when there, and the program started in that folder with its arguments.
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestLauncher final : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    // The launcher, run from the temporary folder (also HOME) with WINWARDEN_BIN_DIR naming
    // bin/: what its program wrote (working directory, arguments), or its error output.
    QString Launch(const QStringList& arguments, const QString& dataHome = {}) {
        QProcess run;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"HOME"_s, m_dir.path());
        env.insert(u"XDG_DATA_HOME"_s, dataHome);
        env.insert(u"XDG_CONFIG_HOME"_s, m_dir.filePath(u"config"_s));
        env.insert(u"WINWARDEN_BIN_DIR"_s, m_dir.filePath(u"bin"_s));
        env.insert(u"PATH"_s, u"/usr/bin:/bin"_s);
        env.remove(u"WINWARDEN_DATABASE"_s);
        run.setProcessEnvironment(env);
        run.setWorkingDirectory(m_dir.path());
        run.start(QStringLiteral(QT_TESTCASE_SOURCEDIR "/../tools/winwarden-launcher"), arguments);
        run.waitForFinished(20000);
        return run.exitCode() == 0 ? QString::fromUtf8(run.readAllStandardOutput())
                                   : QString::fromUtf8(run.readAllStandardError());
    }

private Q_SLOTS:
    void databaseMadeProgramStartedAndAutostart() {
        // A stand-in for winwarden beside the real winwarden-db.
        QVERIFY(QDir(m_dir.path()).mkdir(u"bin"_s));
        QFile program(m_dir.filePath(u"bin/winwarden"_s));
        QVERIFY(program.open(QIODevice::WriteOnly) &&
                program.write("#!/bin/sh\npwd; for a; do echo \"$a\"; done\n") > 0);
        program.setPermissions(program.permissions() | QFileDevice::ExeOwner);
        program.close();
        QVERIFY(QFile::link(qEnvironmentVariable("WINWARDEN_DB_TOOL"),
                            m_dir.filePath(u"bin/winwarden-db"_s)));

        const QString data = m_dir.filePath(u".local/share/winwarden"_s);
        QCOMPARE(Launch({u"-x"_s, u"doc.txt"_s}),
                 u"已创建规则数据库 %1/winwarden.mdb\n%1\n-x\n%2\n"_s.arg(
                     data, m_dir.filePath(u"doc.txt"_s)));
        QVERIFY(QFileInfo(data + u"/winwarden.mdb"_s).size() > 0);
        QCOMPARE(Launch({}, u"relative"_s), data + u'\n'); // kept; a relative XDG_DATA_HOME ignored

        // At login the desktop starts the launcher, monitoring and in the tray; off removes
        // that entry.
        const QString entry = m_dir.filePath(u"config/autostart/winwarden.desktop"_s);
        Launch({u"--autostart"_s, u"on"_s});
        QFile file(entry);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        file.close();
        QVERIFY2(text.contains(u"winwarden-launcher\" --monitor --tray\n"_s) &&
                     text.contains(u"WINWARDEN_BIN_DIR="_s + m_dir.filePath(u"bin"_s)),
                 qPrintable(text));
        Launch({u"--autostart"_s, u"off"_s});
        QVERIFY(!QFile::exists(entry));
    }
};

QTEST_GUILESS_MAIN(TestLauncher)
#include "test_launcher.moc"
