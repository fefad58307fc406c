// The launcher gives the program the user's own rule database: made in the data folder when
// missing, kept when there, and the program started in that folder with its arguments.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestLauncher final : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    // Runs the launcher from `from` with HOME in the temporary folder and a program that
    // writes its working directory and arguments, one a line, to `out`.
    QString Launch(const QStringList& arguments, const QStringList& environment,
                   const QString& from) {
        QProcess run;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"HOME"_s, m_dir.filePath(u"home"_s));
        env.remove(u"XDG_DATA_HOME"_s);
        env.remove(u"WINWARDEN_DATABASE"_s);
        env.insert(u"WINWARDEN_BIN_DIR"_s, m_dir.filePath(u"bin"_s));
        for (const QString& entry : environment)
            env.insert(entry.section(u'=', 0, 0), entry.section(u'=', 1));
        run.setProcessEnvironment(env);
        run.setWorkingDirectory(from);
        run.start(QStringLiteral(QT_TESTCASE_SOURCEDIR "/../tools/winwarden-launcher"), arguments);
        if (!run.waitForFinished(20000) || run.exitCode() != 0)
            return u"failed: "_s + QString::fromUtf8(run.readAllStandardError());
        QFile out(m_dir.filePath(u"out"_s));
        return out.open(QIODevice::ReadOnly) ? QString::fromUtf8(out.readAll()) : u"not run"_s;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(QDir(m_dir.path()).mkpath(u"bin"_s) && QDir(m_dir.path()).mkpath(u"home"_s));
        QFile program(m_dir.filePath(u"bin/winwarden"_s));
        QVERIFY(program.open(QIODevice::WriteOnly));
        program.write("#!/bin/sh\n{ pwd; for a; do echo \"$a\"; done; } >\"" +
                      QFile::encodeName(m_dir.filePath(u"out"_s)) + "\"\n");
        program.setPermissions(program.permissions() | QFileDevice::ExeOwner);
        program.close();
        QVERIFY(QFile::link(qEnvironmentVariable("WINWARDEN_DB_TOOL"),
                            m_dir.filePath(u"bin/winwarden-db"_s)));
    }

    // The default folder, then XDG_DATA_HOME; a database already there is kept as it is.
    void createsTheDatabaseInTheDataFolderAndStartsThere() {
        const QString data = m_dir.filePath(u"home/.local/share/winwarden"_s);
        QCOMPARE(Launch({u"-x"_s, u"doc.txt"_s}, {}, m_dir.path()),
                 data + u"\n-x\n"_s + m_dir.filePath(u"doc.txt"_s) + u'\n');
        const QFileInfo database(data + u"/winwarden.mdb"_s);
        QVERIFY(database.isFile() && database.size() > 0);
        const QDateTime made = database.lastModified();
        QCOMPARE(Launch({}, {}, m_dir.path()), data + u'\n');
        QCOMPARE(QFileInfo(database.filePath()).lastModified(), made);

        const QString own = m_dir.filePath(u"own"_s);
        QCOMPARE(Launch({}, {u"XDG_DATA_HOME="_s + own}, m_dir.path()), own + u"/winwarden\n"_s);
        QVERIFY(QFileInfo(own + u"/winwarden/winwarden.mdb"_s).isFile());
    }
    // Without the program nothing is started and the user is told what is missing.
    void missingProgramIsReported() {
        const QString result =
            Launch({}, {u"WINWARDEN_BIN_DIR=/nonexistent"_s, u"PATH=/usr/bin:/bin"_s}, u"/"_s);
        QVERIFY2(result.startsWith(u"failed: "_s) && result.contains(u"winwarden"_s),
                 qPrintable(result));
    }
};

QTEST_GUILESS_MAIN(TestLauncher)
#include "test_launcher.moc"
