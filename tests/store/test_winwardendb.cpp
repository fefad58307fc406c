#include "store/flag.h"
#include "store/rulestore.h"
#include "tests/support/testdb.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace winwarden;
using namespace Qt::StringLiterals;
using winwarden::test::RunSqlite3;

namespace {

struct Outcome {
    int exitCode = -1;
    QString out;
    QString err;
};

Outcome RunTool(const QStringList& args, const QString& workingDir = QString()) {
    QProcess tool;
    if (!workingDir.isEmpty()) {
        tool.setWorkingDirectory(workingDir);
    }
    tool.start(qEnvironmentVariable("WINWARDEN_DB_TOOL"), args);
    if (!tool.waitForFinished(30000) || tool.exitStatus() != QProcess::NormalExit) {
        tool.kill();
        tool.waitForFinished();
        return Outcome{};
    }
    return Outcome{tool.exitCode(), QString::fromUtf8(tool.readAllStandardOutput()),
                   QString::fromUtf8(tool.readAllStandardError())};
}

// A message is exactly one non-empty line.
bool IsOneLine(const QString& text) {
    return text.size() > 1 && text.endsWith(QLatin1Char('\n')) &&
           text.count(QLatin1Char('\n')) == 1;
}

QStringList Entries(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden |
                               QDir::System);
}

} // namespace

class TestWinwardenDb final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void createsAUsableDatabaseThatChecksOk();
    void createNeverReplacesAnything();
    void checkRejectsUnusableFiles_data();
    void checkRejectsUnusableFiles();
    void usageErrors();
};

void TestWinwardenDb::initTestCase() {
    QVERIFY2(QFile::exists(qEnvironmentVariable("WINWARDEN_DB_TOOL")),
             "WINWARDEN_DB_TOOL must name the winwarden-db program");
}

void TestWinwardenDb::createsAUsableDatabaseThatChecksOk() {
    QTemporaryDir dir;
    // No file named: winwarden.mdb in the working directory.
    const Outcome created = RunTool({u"create"_s}, dir.path());
    QCOMPARE(created.exitCode, 0);
    QVERIFY(IsOneLine(created.out));
    QCOMPARE(Entries(dir.path()), QStringList{u"winwarden.mdb"_s});
    const Outcome checked = RunTool({u"check"_s}, dir.path());
    QCOMPARE(checked.exitCode, 0);
    QVERIFY2(IsOneLine(checked.out) && checked.out.startsWith(u"ok"_s), qPrintable(checked.out));

    const QString hand = dir.filePath(u"hand.db"_s);
    QCOMPARE(
        RunSqlite3(hand, u"CREATE TABLE 窗口名表 (id TEXT, 窗口名称, 是否禁止, 网址, 备注);"_s), 0);
    QCOMPARE(RunTool({u"check"_s, hand}).exitCode, 0);

    const QString odd = dir.filePath(u"规则 #1?.mdb"_s);
    QCOMPARE(RunTool({u"create"_s, odd}).exitCode, 0);
    QCOMPARE(RunTool({u"check"_s, odd}).exitCode, 0);

    RuleStore store;
    store.Open(odd);
    store.InsertPassed(u"t"_s, u"u"_s);
    store.InsertPassed(u"t2"_s, u"u"_s);
    store.SetFlagByUrl(kFlagBlock, u"u"_s);
    store.ListByFlag(kFlagBlock);
    QVERIFY(!store.AtEnd());
    // The key is filled by the database and counts up.
    const qlonglong first = store.FieldValue(0).toLongLong();
    store.MoveNext();
    QCOMPARE(store.FieldValue(0).toLongLong(), first + 1);
    store.CloseRecordset();
    store.Close();
    QCOMPARE(Entries(dir.path()),
             QStringList({u"hand.db"_s, u"winwarden.mdb"_s, u"规则 #1?.mdb"_s}));
}

void TestWinwardenDb::createNeverReplacesAnything() {
    QTemporaryDir dir;
    const QString file = dir.filePath(u"taken.mdb"_s);
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("precious");
    }
    QVERIFY(QDir(dir.path()).mkdir(u"folder"_s));
    QVERIFY(QFile::link(dir.filePath(u"target.mdb"_s), dir.filePath(u"dangling"_s)));

    for (const QString& name : {u"taken.mdb"_s, u"folder"_s, u"dangling"_s, u"no/dir/x.mdb"_s}) {
        const Outcome outcome = RunTool({u"create"_s, dir.filePath(name)});
        QCOMPARE(outcome.exitCode, 1);
        QVERIFY2(IsOneLine(outcome.err), qPrintable(outcome.err));
    }
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("precious"));
    QVERIFY(Entries(dir.filePath(u"folder"_s)).isEmpty());
    // Neither the link's target nor a left-over temporary file appeared.
    QCOMPARE(Entries(dir.path()), QStringList({u"dangling"_s, u"folder"_s, u"taken.mdb"_s}));
}

void TestWinwardenDb::checkRejectsUnusableFiles_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("missing") << QString() << QByteArray();
    QTest::newRow("text file") << QString() << QByteArray("hello\n");
    QTest::newRow("no rule table") << u"CREATE TABLE other (a, b, c, d);"_s << QByteArray();
    QTest::newRow("three columns")
        << u"CREATE TABLE 窗口名表 (窗口名称, 是否禁止, 网址);"_s << QByteArray();
    QTest::newRow("columns out of order")
        << u"CREATE TABLE 窗口名表 (k, 窗口名称, 网址, 是否禁止);"_s << QByteArray();
    QTest::newRow("renamed column")
        << u"CREATE TABLE 窗口名表 (k, 窗口名称, 是否禁止, url);"_s << QByteArray();
}

void TestWinwardenDb::checkRejectsUnusableFiles() {
    QFETCH(QString, script);
    QFETCH(QByteArray, content);
    QTemporaryDir dir;
    const QString file = dir.filePath(u"rules.mdb"_s);
    if (!script.isEmpty()) {
        QCOMPARE(RunSqlite3(file, script), 0);
    } else if (!content.isEmpty()) {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    const QStringList before = Entries(dir.path());
    const Outcome outcome = RunTool({u"check"_s, file});
    QCOMPARE(outcome.exitCode, 1);
    QVERIFY2(IsOneLine(outcome.err), qPrintable(outcome.err));
    QVERIFY(outcome.out.isEmpty());
    QCOMPARE(Entries(dir.path()), before);
}

void TestWinwardenDb::usageErrors() {
    QTemporaryDir dir;
    const QList<QStringList> wrong{{},
                                   {u"remove"_s},
                                   {u"create"_s, u"a.mdb"_s, u"b.mdb"_s},
                                   {u"check"_s, QString()},
                                   {u"create"_s, u"--force"_s}};
    for (const QStringList& args : wrong) {
        const Outcome outcome = RunTool(args, dir.path());
        QCOMPARE(outcome.exitCode, 2);
        QVERIFY2(IsOneLine(outcome.err), qPrintable(args.join(u' ')));
    }
    QVERIFY(Entries(dir.path()).isEmpty());
}

QTEST_GUILESS_MAIN(TestWinwardenDb)
#include "test_winwardendb.moc"
