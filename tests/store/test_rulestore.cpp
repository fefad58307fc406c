#include "store/flag.h"
#include "store/rulestore.h"
#include "store/storeerror.h"
#include "tests/support/testdb.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

using namespace winwarden;
using namespace Qt::StringLiterals;
using winwarden::test::RuleRow;
using winwarden::test::RunSqlite3;
using winwarden::test::TempRuleDb;

namespace {

// Reads the current recordset the way the list view does: fields 1 to 3 of every row, then
// closes it.
QList<RuleRow> Drain(RuleStore& store) {
    QList<RuleRow> rows;
    while (!store.AtEnd()) {
        rows.append(RuleRow{store.FieldValue(0), RuleStore::FieldText(store.FieldValue(1)),
                            RuleStore::FieldText(store.FieldValue(2)),
                            RuleStore::FieldText(store.FieldValue(3))});
        store.MoveNext();
    }
    store.CloseRecordset();
    return rows;
}

QList<RuleRow> Find(RuleStore& store, const QString& title) {
    store.FindByName(title);
    return Drain(store);
}

QList<RuleRow> List(RuleStore& store, const QString& flag) {
    store.ListByFlag(flag);
    return Drain(store);
}

RuleRow Rule(const QString& name, const QString& flag, const QString& url) {
    return RuleRow{QVariant(), name, flag, url};
}

// The message of the StoreError that `action` throws; fails the test when it throws none.
template <typename Action> QString ErrorOf(Action action) {
    try {
        action();
    } catch (const StoreError& error) {
        return error.message();
    }
    return QString();
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class TestRuleStore final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void hardValuesAreStoredAndFoundExactly_data();
    void hardValuesAreStoredAndFoundExactly();
    void urlStatementsActOnEveryRuleWithTheUrl();
    void firstRowOfARepeatedNameIsTheEarliest();
    void recordsetReadsAreGuarded();
    void openFailsWithoutCreatingOrTouchingAnything();
    void openFailsForAnUnreadableFile();
    void missingTableFailsEachStatementUntilItExists();
    void closedStoreRefusesWork();
    void pathsWithUriCharactersOpenTheNamedFile();
    void handMadeTablesWork_data();
    void handMadeTablesWork();
    void anotherProcessHoldingTheLockIsWaitedFor_data();
    void anotherProcessHoldingTheLockIsWaitedFor();
    void readLockIsReleasedByCloseAndByDestruction();
    void readBatchNeverLeavesTheFileLocked();
    void abuseNeitherCrashesNorCorrupts();
    void refusedChangesAreReportedAndStoreKeepsWorking();
};

void TestRuleStore::hardValuesAreStoredAndFoundExactly_data() {
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("url");
    QTest::newRow("apostrophe") << u"O'Brien's page"_s << u"http://x/?q='1'"_s;
    QTest::newRow("sql quote run") << u"'); DROP TABLE 窗口名表; --"_s << u"'"_s;
    // As LIKE patterns these would match the other rule too.
    QTest::newRow("percent") << u"%"_s << u"%"_s;
    QTest::newRow("underscores") << u"_________"_s << u"_____________"_s;
    QTest::newRow("printf conversions") << u"100% %s%d"_s << u"http://x/%20%s%n"_s;
    QTest::newRow("backslashes") << u"C:\\dir\\n"_s << u"\\\\server\\share"_s;
    QTest::newRow("chinese") << u"浏览哨兵 — 新闻"_s << u"http://例子.中国/路径"_s;
    QTest::newRow("emoji") << u"😀 smile 👍🏽"_s << u"http://x/😀"_s;
    QTest::newRow("10000 characters") << QString(10000, QChar(0x6587)) << u"http://x/"_s;
    QTest::newRow("empty url") << u"page without url"_s << QStringLiteral("");
    QTest::newRow("null url") << u"page with null url"_s << QString();
    QTest::newRow("surrounding blanks") << u"  padded\t"_s << u" http://x/ "_s;
}

void TestRuleStore::hardValuesAreStoredAndFoundExactly() {
    QFETCH(QString, title);
    QFETCH(QString, url);
    TempRuleDb db;
    db.insert(u"unrelated"_s, kFlagPass, u"http://other/"_s);
    RuleStore store;
    store.Open(db.path());

    store.FindByName(title);
    QVERIFY(store.AtEnd());
    store.InsertPassed(title, url);
    store.CloseRecordset();

    // An empty URL is stored as the empty text, never as NULL.
    const QString stored = url.isNull() ? QStringLiteral("") : url;
    const RuleRow other = Rule(u"unrelated"_s, kFlagPass, u"http://other/"_s);
    QCOMPARE(db.rows(), QList<RuleRow>({other, Rule(title, kFlagPass, stored)}));
    QCOMPARE(Find(store, title), QList<RuleRow>{Rule(title, kFlagPass, stored)});

    store.SetFlagByUrl(kFlagBlock, url);
    QCOMPARE(List(store, kFlagBlock), QList<RuleRow>{Rule(title, kFlagBlock, stored)});
    store.DeleteByUrl(url);
    QCOMPARE(db.rows(), QList<RuleRow>{other});
}

void TestRuleStore::urlStatementsActOnEveryRuleWithTheUrl() {
    TempRuleDb db;
    db.insert(u"first"_s, kFlagPass, u"http://same/"_s);
    db.insert(u"other"_s, kFlagPass, u"http://other/"_s);
    db.insert(u"second"_s, kFlagPass, u"http://same/"_s);
    RuleStore store;
    store.Open(db.path());

    store.SetFlagByUrl(kFlagBlock, u"http://same/"_s);
    QCOMPARE(List(store, kFlagBlock),
             QList<RuleRow>({Rule(u"first"_s, kFlagBlock, u"http://same/"_s),
                             Rule(u"second"_s, kFlagBlock, u"http://same/"_s)}));
    QCOMPARE(List(store, kFlagPass),
             QList<RuleRow>{Rule(u"other"_s, kFlagPass, u"http://other/"_s)});

    // A URL no rule carries is no failure and changes nothing.
    const QList<RuleRow> before = db.rows();
    store.SetFlagByUrl(kFlagPass, u"http://nowhere/"_s);
    store.DeleteByUrl(u"http://nowhere/"_s);
    QCOMPARE(db.rows(), before);

    store.DeleteByUrl(u"http://same/"_s);
    QCOMPARE(db.rows(), QList<RuleRow>{Rule(u"other"_s, kFlagPass, u"http://other/"_s)});
    QVERIFY(List(store, kFlagBlock).isEmpty());
}

void TestRuleStore::firstRowOfARepeatedNameIsTheEarliest() {
    TempRuleDb db;
    // An index that lists equal names newest first must not change which row comes first.
    db.exec(u"DROP INDEX 窗口名称索引"_s);
    db.exec(u"CREATE INDEX 倒序 ON 窗口名表 (窗口名称 DESC, 编号 DESC)"_s);
    db.exec(u"CREATE INDEX 标记倒序 ON 窗口名表 (是否禁止 DESC, 编号 DESC)"_s);
    db.insert(u"twice"_s, kFlagBlock, u"http://a/"_s);
    db.insert(u"between"_s, kFlagPass, u"http://b/"_s);
    db.insert(u"twice"_s, kFlagPass, u"http://c/"_s);
    RuleStore store;
    store.Open(db.path());

    QCOMPARE(Find(store, u"twice"_s),
             QList<RuleRow>({Rule(u"twice"_s, kFlagBlock, u"http://a/"_s),
                             Rule(u"twice"_s, kFlagPass, u"http://c/"_s)}));
    QCOMPARE(List(store, kFlagPass), QList<RuleRow>({Rule(u"between"_s, kFlagPass, u"http://b/"_s),
                                                     Rule(u"twice"_s, kFlagPass, u"http://c/"_s)}));
}

void TestRuleStore::recordsetReadsAreGuarded() {
    TempRuleDb db;
    db.insert(u"null url"_s, kFlagPass, std::nullopt);
    db.insert(u"second"_s, kFlagPass, u""_s);
    RuleStore store;
    store.Open(db.path());

    // Never run, empty, past the end, closed: no current row, and reading one is an error.
    QVERIFY(store.AtEnd());
    QVERIFY(!ErrorOf([&] { store.FieldValue(1); }).isEmpty());
    store.ListByFlag(u"no such flag"_s);
    QVERIFY(store.AtEnd());
    QVERIFY(!ErrorOf([&] { store.FieldValue(1); }).isEmpty());
    QVERIFY(!ErrorOf([&] { store.MoveNext(); }).isEmpty());
    store.CloseRecordset();

    store.ListByFlag(kFlagPass);
    QVERIFY(!store.AtEnd());
    for (const int bad : {-1, 4, 1000}) {
        QVERIFY2(!ErrorOf([&] { store.FieldValue(bad); }).isEmpty(),
                 qPrintable(QString::number(bad)));
    }
    // A refused read leaves the recordset where it was.
    QVERIFY(!store.FieldValue(0).isNull());
    QCOMPARE(RuleStore::FieldText(store.FieldValue(1)), u"null url"_s);
    QCOMPARE(RuleStore::FieldText(store.FieldValue(3)), std::nullopt);
    store.MoveNext();
    QCOMPARE(RuleStore::FieldText(store.FieldValue(3)), u""_s);
    store.CloseRecordset();
    QVERIFY(store.AtEnd());
    QVERIFY(!ErrorOf([&] { store.FieldValue(1); }).isEmpty());

    // A new lookup replaces a recordset that was left open.
    store.ListByFlag(kFlagPass);
    QCOMPARE(Find(store, u"second"_s).size(), 1);
    QVERIFY(store.AtEnd());
}

void TestRuleStore::openFailsWithoutCreatingOrTouchingAnything() {
    QTemporaryDir dir;
    const QString missing = dir.filePath(u"winwarden.mdb"_s);
    const QString text = dir.filePath(u"notes.mdb"_s);
    const QString folder = dir.filePath(u"folder.mdb"_s);
    const QByteArray notes("plain text, not a database\n");
    QVERIFY(WriteFile(text, notes));
    QVERIFY(QDir(dir.path()).mkdir(u"folder.mdb"_s));
    QVERIFY(WriteFile(dir.filePath(u"half.mdb"_s), QByteArray("SQLite format 3").append('\0')));

    const QString underFile = text + u"/winwarden.mdb"_s;
    for (const QString& path : {missing, text, folder, dir.filePath(u"half.mdb"_s), underFile}) {
        RuleStore store;
        const QString message = ErrorOf([&] { store.Open(path); });
        QVERIFY2(!message.isEmpty(), qPrintable(path));
        QVERIFY(!store.IsOpen());
        QVERIFY(store.CurrentFilter().isEmpty());
        QVERIFY(!ErrorOf([&] { store.FindByName(u"x"_s); }).isEmpty());
    }
    QVERIFY(!QFile::exists(missing));
    QFile file(text);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), notes);
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList({u"folder.mdb"_s, u"half.mdb"_s, u"notes.mdb"_s}));
}

void TestRuleStore::openFailsForAnUnreadableFile() {
    TempRuleDb db;
    QVERIFY(QFile::setPermissions(db.path(), QFileDevice::Permissions()));
    if (::access(QFile::encodeName(db.path()).constData(), R_OK) == 0) {
        QSKIP("file permissions do not stop this user (root) from reading");
    }
    RuleStore store;
    QVERIFY(!ErrorOf([&] { store.Open(db.path()); }).isEmpty());
    QVERIFY(!store.IsOpen());
}

void TestRuleStore::missingTableFailsEachStatementUntilItExists() {
    TempRuleDb db;
    db.exec(u"DROP TABLE 窗口名表"_s);
    RuleStore store;
    store.Open(db.path());
    QVERIFY(store.IsOpen());
    QCOMPARE(store.CurrentFilter(), kFlagPass);

    const QString message = ErrorOf([&] { store.FindByName(u"t"_s); });
    QVERIFY2(message.contains(u"窗口名表"_s), qPrintable(message));
    QVERIFY(store.AtEnd());
    QVERIFY(!ErrorOf([&] { store.InsertPassed(u"t"_s, u"u"_s); }).isEmpty());
    QVERIFY(!ErrorOf([&] { store.SetFlagByUrl(kFlagBlock, u"u"_s); }).isEmpty());
    QVERIFY(!ErrorOf([&] { store.DeleteByUrl(u"u"_s); }).isEmpty());
    QVERIFY(!ErrorOf([&] { store.ListByFlag(kFlagPass); }).isEmpty());

    // Once the table is back, the same store works again without being reopened.
    db.exec(u"CREATE TABLE 窗口名表 (编号 INTEGER PRIMARY KEY, 窗口名称, 是否禁止, 网址)"_s);
    store.InsertPassed(u"t"_s, u"u"_s);
    QCOMPARE(Find(store, u"t"_s), QList<RuleRow>{Rule(u"t"_s, kFlagPass, u"u"_s)});
}

void TestRuleStore::closedStoreRefusesWork() {
    TempRuleDb db;
    db.insert(u"kept"_s, kFlagPass, u"http://k/"_s);
    RuleStore store;
    QVERIFY(store.CurrentFilter().isEmpty());
    QCOMPARE(ErrorOf([&] { store.FindByName(u"kept"_s); }), u"规则数据库未打开"_s);

    store.Open(db.path());
    QCOMPARE(store.CurrentFilter(), kFlagPass);
    store.ListByFlag(kFlagPass);
    QVERIFY(!store.AtEnd());
    store.Close();
    QVERIFY(!store.IsOpen());
    QVERIFY(store.AtEnd());
    QVERIFY(!ErrorOf([&] { store.FieldValue(1); }).isEmpty());
    QVERIFY(!ErrorOf([&] { store.InsertPassed(u"a"_s, u"b"_s); }).isEmpty());
    QVERIFY(!ErrorOf([&] { store.DeleteByUrl(u"http://k/"_s); }).isEmpty());
    store.Close();

    // Two stores on one file at once, and a store opened again after a close.
    RuleStore other;
    other.Open(db.path());
    store.Open(db.path());
    other.InsertPassed(u"from other"_s, u"http://o/"_s);
    QCOMPARE(Find(store, u"from other"_s).size(), 1);
    QCOMPARE(db.rows().size(), 2);
}

void TestRuleStore::pathsWithUriCharactersOpenTheNamedFile() {
    TempRuleDb source;
    source.insert(u"marker"_s, kFlagBlock, u"http://m/"_s);
    QTemporaryDir dir;
    for (const QString& name :
         {u"a b?mode=rwc#frag%20x.mdb"_s, u"规则 数据库%41.mdb"_s, u"?.mdb"_s, u"%"_s}) {
        const QString path = dir.filePath(name);
        QVERIFY(QFile::copy(source.path(), path));
        {
            RuleStore store;
            store.Open(path);
            QCOMPARE(Find(store, u"marker"_s).size(), 1);
            store.InsertPassed(name, u"http://n/"_s);
        }
        RuleStore check;
        check.Open(path);
        QCOMPARE(Find(check, name).size(), 1);
        QVERIFY(QFile::remove(path));
        QVERIFY2(QDir(dir.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 qPrintable(name));
    }
}

void TestRuleStore::handMadeTablesWork_data() {
    QTest::addColumn<QString>("schema");
    QTest::newRow("named key, untyped columns")
        << u"CREATE TABLE 窗口名表 (id INTEGER PRIMARY KEY, 窗口名称, 是否禁止, 网址);"_s;
    QTest::newRow("text key, extra column")
        << u"CREATE TABLE 窗口名表 (k TEXT, 窗口名称 TEXT, 是否禁止 TEXT, 网址 TEXT, "
           "备注 TEXT DEFAULT 'x');"_s;
    QTest::newRow("without rowid")
        << u"CREATE TABLE 窗口名表 (k INTEGER, 窗口名称 TEXT PRIMARY KEY, 是否禁止 TEXT, 网址 TEXT)"
           " WITHOUT ROWID;"_s;
    QTest::newRow("column named rowid")
        << u"CREATE TABLE 窗口名表 (rowid INTEGER PRIMARY KEY AUTOINCREMENT, 窗口名称 TEXT, "
           "是否禁止 TEXT, 网址 TEXT); CREATE INDEX i ON 窗口名表 (是否禁止);"_s;
}

void TestRuleStore::handMadeTablesWork() {
    QFETCH(QString, schema);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"hand.mdb"_s);
    QCOMPARE(RunSqlite3(path, schema + u"INSERT INTO 窗口名表 (窗口名称,是否禁止,网址) VALUES "
                                       "('num', 42, 1.5), ('blob', X'E7A681E6ADA2', NULL);"_s),
             0);
    RuleStore store;
    store.Open(path);
    store.InsertPassed(u"新页"_s, u"http://new/"_s);
    store.SetFlagByUrl(kFlagBlock, u"http://new/"_s);

    store.FindByName(u"num"_s);
    QCOMPARE(RuleStore::FieldText(store.FieldValue(2)), u"42"_s);
    QCOMPARE(RuleStore::FieldText(store.FieldValue(3)), u"1.5"_s);
    store.CloseRecordset();
    store.FindByName(u"blob"_s);
    QCOMPARE(RuleStore::FieldText(store.FieldValue(2)), kFlagBlock);
    QCOMPARE(RuleStore::FieldText(store.FieldValue(3)), std::nullopt);
    store.CloseRecordset();
    QCOMPARE(Find(store, u"新页"_s), QList<RuleRow>{Rule(u"新页"_s, kFlagBlock, u"http://new/"_s)});

    store.DeleteByUrl(u"http://new/"_s);
    QVERIFY(Find(store, u"新页"_s).isEmpty());
}

void TestRuleStore::anotherProcessHoldingTheLockIsWaitedFor_data() {
    QTest::addColumn<QString>("hold");
    QTest::newRow("writer") << u"BEGIN EXCLUSIVE; INSERT INTO 窗口名表 (窗口名称,是否禁止,网址) "
                               "VALUES ('other', '通过', 'http://other/');"_s;
    QTest::newRow("reader") << u"BEGIN; SELECT count(*) FROM 窗口名表;"_s;
}

void TestRuleStore::anotherProcessHoldingTheLockIsWaitedFor() {
    QFETCH(QString, hold);
    TempRuleDb db;
    db.insert(u"seen"_s, kFlagPass, u"http://seen/"_s);
    RuleStore store;
    store.Open(db.path());

    QProcess sqlite;
    sqlite.start(u"sqlite3"_s, {u"-batch"_s, u"-bail"_s, db.path()});
    QVERIFY(sqlite.waitForStarted());
    sqlite.write((hold + u"\n.shell echo locked; sleep 0.5\nCOMMIT;\n"_s).toUtf8());
    sqlite.closeWriteChannel();
    while (!sqlite.readAllStandardOutput().contains("locked")) {
        QVERIFY2(sqlite.waitForReadyRead(10000), "sqlite3 did not take its lock");
    }

    store.InsertPassed(u"mine"_s, u"http://mine/"_s);
    QCOMPARE(Find(store, u"seen"_s).size(), 1);
    store.SetFlagByUrl(kFlagBlock, u"http://seen/"_s);
    QVERIFY(sqlite.waitForFinished(10000));
    QCOMPARE(sqlite.exitCode(), 0);
    QCOMPARE(List(store, kFlagBlock).size(), 1);
    QCOMPARE(Find(store, u"mine"_s).size(), 1);
    QCOMPARE(db.integrity(), u"ok"_s);
}

void TestRuleStore::readLockIsReleasedByCloseAndByDestruction() {
    TempRuleDb db;
    db.insert(u"a"_s, kFlagPass, u"http://a/"_s);
    db.insert(u"b"_s, kFlagPass, u"http://b/"_s);
    const QString write =
        u"INSERT INTO 窗口名表 (窗口名称,是否禁止,网址) VALUES ('w','通过','');"_s;
    {
        RuleStore store;
        store.Open(db.path());
        store.ListByFlag(kFlagPass);
        QVERIFY(!store.AtEnd());
        // While a row is being read the file is share-locked, which is what is released below.
        QVERIFY(RunSqlite3(db.path(), write) != 0);
        store.CloseRecordset();
        QCOMPARE(RunSqlite3(db.path(), write), 0);
        store.ListByFlag(kFlagPass);
        QVERIFY(!store.AtEnd());
    }
    QCOMPARE(RunSqlite3(db.path(), write), 0);
    QCOMPARE(db.rows().size(), 4);
}

void TestRuleStore::readBatchNeverLeavesTheFileLocked() {
    TempRuleDb db;
    db.insert(u"a"_s, kFlagBlock, u"http://a/"_s);
    const QString write =
        u"INSERT INTO 窗口名表 (窗口名称,是否禁止,网址) VALUES ('w','通过','');"_s;
    RuleStore store;
    store.Open(db.path());
    store.BeginReadBatch();
    QCOMPARE(Find(store, u"a"_s).size(), 1);
    // The batch keeps the file share-locked between lookups: that is what it is for.
    QVERIFY(RunSqlite3(db.path(), write) != 0);
    store.ReleaseReadLock();
    QCOMPARE(RunSqlite3(db.path(), write), 0);
    // A write inside the batch ends the shared read first, lands at once and is kept.
    QCOMPARE(Find(store, u"new"_s).size(), 0);
    store.InsertPassed(u"new"_s, u"http://new/"_s);
    QCOMPARE(RunSqlite3(db.path(), write), 0);
    QCOMPARE(Find(store, u"new"_s).size(), 1);
    // A failed statement ends the read too, and the batch goes on working.
    store.ReleaseReadLock();
    db.exec(u"ALTER TABLE 窗口名表 RENAME TO 别名"_s);
    QVERIFY_THROWS_EXCEPTION(StoreError, store.FindByName(u"a"_s));
    QCOMPARE(RunSqlite3(db.path(), u"ALTER TABLE 别名 RENAME TO 窗口名表;"_s), 0);
    QCOMPARE(Find(store, u"a"_s).size(), 1);
    store.EndReadBatch();
    QCOMPARE(RunSqlite3(db.path(), write), 0);
    QCOMPARE(db.rows().size(), 5);
    QCOMPARE(db.integrity(), u"ok"_s);
}

void TestRuleStore::abuseNeitherCrashesNorCorrupts() {
    TempRuleDb db;
    db.insert(u"kept"_s, kFlagBlock, u"http://kept/"_s);
    RuleStore store;
    store.Open(db.path());
    const QString lone = QString(QChar(0xD800)) + u"x"_s + QChar(0xDFFF);
    const QString withNul = u"a\0b"_s;
    const QString huge(1 << 20, QLatin1Char('\''));
    const QString control = u"\x01\x1b[2J\r\n\t"_s;
    for (const QString& value : {lone, withNul, huge, control, u"' OR 1=1 --"_s}) {
        store.FindByName(value);
        if (store.AtEnd()) {
            store.InsertPassed(value, value);
        }
        store.CloseRecordset();
        store.SetFlagByUrl(value, value);
        store.ListByFlag(value);
        QVERIFY(!store.AtEnd());
        Drain(store);
        store.DeleteByUrl(value);
        QVERIFY(!ErrorOf([&] { store.FieldValue(1); }).isEmpty());
    }
    store.SetFlagByUrl(u"' OR 1=1 --"_s, u"' OR 1=1 --"_s);
    store.DeleteByUrl(u"' OR '1'='1"_s);
    QCOMPARE(db.integrity(), u"ok"_s);
    QCOMPARE(db.rows(), QList<RuleRow>{Rule(u"kept"_s, kFlagBlock, u"http://kept/"_s)});
    QCOMPARE(Find(store, u"kept"_s).size(), 1);
}

void TestRuleStore::refusedChangesAreReportedAndStoreKeepsWorking() {
    TempRuleDb db;
    db.exec(u"CREATE TRIGGER refuse BEFORE INSERT ON 窗口名表 WHEN NEW.窗口名称 = 'refused' "
            "BEGIN SELECT RAISE(ABORT, 'refused by the rule keeper'); END"_s);
    db.exec(u"CREATE TRIGGER keep BEFORE DELETE ON 窗口名表 WHEN OLD.网址 = 'http://keep/' "
            "BEGIN SELECT RAISE(ABORT, 'kept by the rule keeper'); END"_s);
    db.insert(u"keep me"_s, kFlagPass, u"http://keep/"_s);
    RuleStore store;
    store.Open(db.path());

    QCOMPARE(ErrorOf([&] { store.InsertPassed(u"refused"_s, u"http://r/"_s); }),
             u"refused by the rule keeper"_s);
    QCOMPARE(ErrorOf([&] { store.DeleteByUrl(u"http://keep/"_s); }), u"kept by the rule keeper"_s);
    store.InsertPassed(u"accepted"_s, u"http://a/"_s);
    QCOMPARE(db.rows(), QList<RuleRow>({Rule(u"keep me"_s, kFlagPass, u"http://keep/"_s),
                                        Rule(u"accepted"_s, kFlagPass, u"http://a/"_s)}));
    QVERIFY(Find(store, u"refused"_s).isEmpty());
}

QTEST_GUILESS_MAIN(TestRuleStore)
#include "test_rulestore.moc"
