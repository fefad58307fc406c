#include "store/flag.h"
#include "store/rulestore.h"
#include "store/storeerror.h"
#include "tests/support/pgserver.h"
#include "tests/support/testdb.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;

// The cases every engine passes. Every test starts with a fresh rule database and the store
// open on it.
class RuleStoreCases : public QObject {
    Q_OBJECT

protected:
    std::unique_ptr<RuleDb> m_db;
    RuleStore m_store;

    virtual std::unique_ptr<RuleDb> MakeDb() = 0;
    // PostgreSQL text cannot hold U+0000.
    virtual bool HoldsNul() const = 0;

    static RuleRow Rule(QString n, QString f, QString u) { return {{}, n, f, u}; }
    static RuleRow Row(const winwarden::Rule& r) { return {{}, r.name, r.flag, r.url}; }
    QList<RuleRow> Find(const QString& title) {
        const auto found = m_store.FindByName(title);
        return found ? QList<RuleRow>{Row(*found)} : QList<RuleRow>{};
    }
    QList<RuleRow> List(const QString& flag) {
        QList<RuleRow> rows;
        for (const auto& rule : m_store.ListByFlag(flag))
            rows.append(Row(rule));
        return rows;
    }

private Q_SLOTS:
    void init() {
        m_store.Close();
        m_db.reset();
        m_db = MakeDb();
        m_store.Open(m_db->name());
    }

    void hardValuesAreStoredAndFoundExactly_data() {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("url");
        QTest::newRow("quotes") << u"O'Brien'); DROP TABLE 窗口名表; --"_s << u"' OR '1'='1"_s;
        QTest::newRow("LIKE percent") << u"%"_s << u"%"_s;
        QTest::newRow("LIKE underscores") << u"_________"_s << u"_____________"_s;
        QTest::newRow("controls") << u" C:\\dir\\n\r\n\t\x01\x1b[2J"_s +
                                         (HoldsNul() ? u"\0"_s : u""_s)
                                  << u" \\\\server\\share "_s;
        QTest::newRow("unicode") << u"哨兵 — 新闻 😀👍🏽"_s << u"http://例子.中国/😀"_s;
        QTest::newRow("long") << QString(10000, u'文') << QString(1 << 20, u'\'');
        QTest::newRow("empty url") << u"page without url"_s << u""_s;
        QTest::newRow("null url") << u"page with null url"_s << QString();
    }
    void hardValuesAreStoredAndFoundExactly() {
        QFETCH(QString, title);
        QFETCH(QString, url);
        const RuleRow other = Rule(u"unrelated"_s, kFlagPass, u"http://other/"_s);
        m_db->insert(other.name, other.flag, other.url);
        m_store.InsertPassed(title, url);
        // An empty URL is stored as the empty text, never as NULL.
        RuleRow mine = Rule(title, kFlagPass, url.isNull() ? u""_s : url);
        QCOMPARE(m_db->rows(), QList<RuleRow>({other, mine}));
        QCOMPARE(Find(title), QList<RuleRow>{mine});
        m_store.SetFlagByUrl(title, url);
        mine.flag = title;
        QCOMPARE(List(title), QList<RuleRow>{mine});
        m_store.DeleteByUrl(url);
        QCOMPARE(m_db->rows(), QList<RuleRow>{other});
    }

    // The older of two rules with one name comes first even where an index lists it last.
    void rulesSharingANameOrAUrl() {
        m_db->exec(u"DROP INDEX 窗口名称索引"_s);
        m_db->exec(u"DROP INDEX IF EXISTS 窗口名称唯一"_s);
        m_db->exec(u"CREATE INDEX 倒序 ON 窗口名表 (窗口名称 DESC, 编号 DESC)"_s);
        m_db->exec(u"CREATE INDEX 标记倒序 ON 窗口名表 (是否禁止 DESC, 编号 DESC)"_s);
        const QString same = u"http://same/"_s;
        const RuleRow older = Rule(u"twice"_s, kFlagPass, u"http://a/"_s);
        m_db->insert(older.name, older.flag, older.url);
        m_db->insert(u"between"_s, kFlagPass, same);
        m_db->insert(u"twice"_s, kFlagPass, same);
        m_store.SetFlagByUrl(kFlagBlock, u"http://nowhere/"_s);
        m_store.DeleteByUrl(u"http://nowhere/"_s);
        QCOMPARE(Find(u"twice"_s), QList<RuleRow>{older});
        const auto many = m_store.FindByNames({u"twice"_s, u"between"_s, u"none"_s});
        QCOMPARE(many.size(), 2);
        QCOMPARE(Row(many[u"twice"_s]), older);
        QCOMPARE(Row(many[u"between"_s]), Rule(u"between"_s, kFlagPass, same));
        m_store.SetFlagByUrl(kFlagBlock, same);
        QCOMPARE(List(kFlagBlock), QList<RuleRow>({Rule(u"between"_s, kFlagBlock, same),
                                                   Rule(u"twice"_s, kFlagBlock, same)}));
        QCOMPARE(List(kFlagPass), QList<RuleRow>{older});
        m_store.DeleteByUrl(same);
        QCOMPARE(m_db->rows(), QList<RuleRow>{older});
    }

    void closedStoreAndSharedFile() {
        m_db->insert(u"a"_s, kFlagPass, u""_s);
        m_store.Close();
        QVERIFY(!m_store.IsOpen());
        QVERIFY_THROWS_EXCEPTION(StoreError, m_store.FindByName(u"a"_s));
        QVERIFY_THROWS_EXCEPTION(StoreError, m_store.FindByNames({}));
        // Two stores on one file at once, one of them opened again after a close.
        RuleStore other;
        other.Open(m_db->name());
        m_store.Open(m_db->name());
        QVERIFY(other.InsertPassed(u"from other"_s, u"http://o/"_s));
        QVERIFY(!m_store.InsertPassed(u"from other"_s, u"http://again/"_s));
        QCOMPARE(Find(u"from other"_s).size(), 1);
    }

    // Two writers meeting the same new titles at once make one rule per title.
    void concurrentWritersNeverDuplicateARule() {
        std::vector<std::pair<QString, QString>> pages;
        for (int i = 0; i < 1000; ++i)
            pages.emplace_back(u"页面 %1"_s.arg(i), u"http://p/%1"_s.arg(i));
        const auto writer = [&] {
            RuleStore store;
            store.Open(m_db->name());
            for (size_t first = 0; first < pages.size(); first += 50)
                store.InsertPassed(std::vector(pages.begin() + first, pages.begin() + first + 50));
        };
        std::thread one(writer), two(writer);
        one.join();
        two.join();
        QCOMPARE(m_db->exec(u"SELECT count(*) || ' ' || count(DISTINCT 窗口名称) FROM 窗口名表"_s),
                 u"1000 1000"_s);
    }

    // Unprepared or refused when run, a statement fails with the engine's reason; the next works.
    void failuresAreReportedAndTheStoreKeepsWorking() {
        m_db->exec(u"DROP TABLE 窗口名表"_s);
        try {
            m_store.FindByName(u"t"_s);
            QFAIL("a lookup in a missing table succeeded");
        } catch (const StoreError& error) {
            QVERIFY2(error.message().contains(u"窗口名表"_s), qPrintable(error.message()));
        }
        QVERIFY_THROWS_EXCEPTION(StoreError, m_store.InsertPassed(u"t"_s, u"u"_s));
        QVERIFY_THROWS_EXCEPTION(StoreError, m_store.SetFlagByUrl(kFlagBlock, u"u"_s));
        QVERIFY_THROWS_EXCEPTION(StoreError, m_store.DeleteByUrl(u"u"_s));
        QVERIFY_THROWS_EXCEPTION(StoreError, m_store.ListByFlag(kFlagPass));
        m_db->exec(u"CREATE TABLE 窗口名表 (编号 %1, 窗口名称 TEXT CHECK (窗口名称 <> 'no'), "
                   "是否禁止 TEXT, 网址 TEXT)"_s.arg(m_db->keyColumn()));
        QVERIFY_THROWS_EXCEPTION(StoreError, m_store.InsertPassed(u"no"_s, u"u"_s));
        m_store.InsertPassed(u"t"_s, u"u"_s);
        QCOMPARE(m_db->rows(), QList<RuleRow>{Rule(u"t"_s, kFlagPass, u"u"_s)});
    }
};

class TestRuleStoreSqlite final : public RuleStoreCases {
    Q_OBJECT

    std::unique_ptr<RuleDb> MakeDb() override { return std::make_unique<TempRuleDb>(); }
    bool HoldsNul() const override { return true; }
    TempRuleDb& Db() { return static_cast<TempRuleDb&>(*m_db); }
    // Whether another process may write now: the sqlite3 shell does not wait for a lock.
    bool Writable() { return RunSqlite3(Db().path(), u"PRAGMA user_version = 7;"_s) == 0; }

private Q_SLOTS:
    // A failed open creates or changes nothing; URI syntax in a name still opens that file.
    void opensExactlyTheNamedFile() {
        const QDir dir(Db().dir());
        QFile text(dir.filePath(u"text"_s));
        QVERIFY(text.open(QIODevice::WriteOnly) && text.write("not a database\n") == 15);
        text.close();
        QVERIFY(dir.mkdir(u"dir"_s));
        const uint entries = QDir(dir.path()).count();
        for (const QString& name : {u"missing"_s, u"text"_s, u"dir"_s, u"text/x"_s}) {
            RuleStore store;
            QVERIFY_THROWS_EXCEPTION(StoreError, store.Open(dir.filePath(name)));
            QVERIFY(!store.IsOpen());
        }
        QCOMPARE(QDir(dir.path()).count(), entries);
        m_db->insert(u"marker"_s, kFlagBlock, u"http://m/"_s);
        for (const QString& name : {u"a b?mode=rwc#f%20"_s, u"规则 数据库%41"_s, u"?"_s, u"%"_s}) {
            QVERIFY(QFile::copy(Db().path(), dir.filePath(name)));
            m_store.Open(dir.filePath(name));
            QCOMPARE(Find(u"marker"_s).size(), 1);
            QCOMPARE(QDir(dir.path()).count(), entries + 1);
            QVERIFY(QFile::remove(dir.filePath(name)));
        }
    }

    void openFailsForAnUnreadableFile() {
        QVERIFY(QFile::setPermissions(Db().path(), QFileDevice::Permissions()));
        if (::access(QFile::encodeName(Db().path()).constData(), R_OK) == 0)
            QSKIP("file permissions do not stop this user (root) from reading");
        QVERIFY_THROWS_EXCEPTION(StoreError, m_store.Open(Db().path()));
    }

    void handMadeTablesWork_data() {
        QTest::addColumn<QString>("columns");
        QTest::newRow("untyped") << u"(id INTEGER PRIMARY KEY, 窗口名称, 是否禁止, 网址)"_s;
        QTest::newRow("text key") << u"(k TEXT, 窗口名称 TEXT, 是否禁止 TEXT, 网址 TEXT, 注)"_s;
        QTest::newRow("no rowid") << u"(k, 窗口名称 PRIMARY KEY, 是否禁止, 网址) WITHOUT ROWID"_s;
    }
    void handMadeTablesWork() {
        QFETCH(QString, columns);
        const QString path = Db().dir() + u"/hand.mdb"_s;
        QCOMPARE(RunSqlite3(path, u"CREATE TABLE 窗口名表 "_s + columns +
                                      u"; INSERT INTO 窗口名表 (窗口名称,是否禁止,网址) VALUES "
                                      "('num', 42, 1.5), ('blob', X'E7A681E6ADA2', NULL);"_s),
                 0);
        m_store.Open(path);
        m_store.InsertPassed(u"新页"_s, u"http://new/"_s);
        m_store.SetFlagByUrl(kFlagBlock, u"http://new/"_s);
        QCOMPARE(Find(u"num"_s), QList<RuleRow>{Rule(u"num"_s, u"42"_s, u"1.5"_s)});
        QCOMPARE(Find(u"blob"_s), QList<RuleRow>({{{}, u"blob"_s, kFlagBlock, {}}}));
        QCOMPARE(List(kFlagBlock), QList<RuleRow>{Rule(u"新页"_s, kFlagBlock, u"http://new/"_s)});
        QCOMPARE(m_store.FindByNames({u"num"_s, u"新页"_s}).size(), 2);
    }

    void anotherProcessHoldingTheLockIsWaitedFor_data() {
        QTest::addColumn<QString>("hold");
        QTest::newRow("writer") << u"BEGIN EXCLUSIVE; INSERT INTO 窗口名表 DEFAULT VALUES;"_s;
        QTest::newRow("reader") << u"BEGIN; SELECT count(*) FROM 窗口名表;"_s;
    }
    void anotherProcessHoldingTheLockIsWaitedFor() {
        QFETCH(QString, hold);
        QProcess sqlite;
        sqlite.start(u"sqlite3"_s, {u"-batch"_s, u"-bail"_s, Db().path()});
        sqlite.write((hold + u"\n.shell echo locked; sleep 0.5\nCOMMIT;\n"_s).toUtf8());
        sqlite.closeWriteChannel();
        while (!sqlite.readAllStandardOutput().contains("locked"))
            QVERIFY2(sqlite.waitForReadyRead(10000), "sqlite3 did not take its lock");
        m_store.InsertPassed(u"mine"_s, u"http://mine/"_s);
        m_store.SetFlagByUrl(kFlagBlock, u"http://mine/"_s);
        QCOMPARE(List(kFlagBlock), QList<RuleRow>{Rule(u"mine"_s, kFlagBlock, u"http://mine/"_s)});
        QVERIFY(sqlite.waitForFinished(10000) && sqlite.exitCode() == 0);
        QCOMPARE(m_db->exec(u"PRAGMA integrity_check"_s), u"ok"_s);
    }

    // No statement holds the file once it has returned, also after a failure.
    void noStatementLeavesTheFileLocked() {
        m_db->insert(u"a"_s, kFlagBlock, u"http://a/"_s);
        QCOMPARE(List(kFlagBlock).size(), 1);
        QVERIFY(Writable());
        QCOMPARE(Find(u"a"_s).size(), 1);
        QCOMPARE(m_store.FindByNames({u"a"_s, u"b"_s}).size(), 1);
        QVERIFY(Writable());
        m_db->exec(u"CREATE TRIGGER 满 BEFORE INSERT ON 窗口名表 WHEN NEW.窗口名称 = 'z' BEGIN "
                   u"SELECT RAISE(FAIL, 'full'); END"_s);
        QVERIFY_THROWS_EXCEPTION(StoreError,
                                 m_store.InsertPassed({{u"y"_s, u""_s}, {u"z"_s, u""_s}}));
        QVERIFY(Writable());
        QCOMPARE(m_db->rows().size(), 1); // all of the batch or nothing
    }
};

class TestRuleStorePostgres final : public RuleStoreCases {
    Q_OBJECT

    std::optional<PgServer> m_server;

    std::unique_ptr<RuleDb> MakeDb() override { return std::make_unique<PgRuleDb>(*m_server); }
    bool HoldsNul() const override { return false; }
    // Every connection of the stations, as when the network drops them.
    void CutStations() {
        m_server->Admin(u"SELECT count(pg_terminate_backend(pid)) FROM pg_stat_activity WHERE "
                        "usename = 'station'"_s,
                        u"postgres"_s);
    }

private Q_SLOTS:
    void initTestCase() { m_server.emplace(); }
    void cleanupTestCase() {
        m_store.Close();
        m_db.reset();
        m_server.reset();
    }

    void openFailuresSayWhyWithoutAPassword_data() {
        QTest::addColumn<QString>("uri");
        QTest::addColumn<QString>("reason");
        const QString rules = m_server->NewRuleDatabase();
        QTest::newRow("no table") << m_server->Uri(u"postgres"_s) << u"窗口名表"_s;
        QTest::newRow("no database") << m_server->Uri(u"nowhere"_s) << u"nowhere"_s;
        QTest::newRow("no server") << u"postgresql://station@127.0.0.1:1/x"_s << u"refused"_s;
        QTest::newRow("refused role") << m_server->Uri(rules, u"refused"_s) << u"refused"_s;
        QTest::newRow("wrong password")
            << m_server->Uri(rules).replace(u"station@"_s, u"station:uri-secret@"_s)
            << u"password authentication failed"_s;
    }
    void openFailuresSayWhyWithoutAPassword() {
        QFETCH(QString, uri);
        QFETCH(QString, reason);
        const QByteArray right = qgetenv("PGPASSWORD");
        if (QLatin1String(QTest::currentDataTag()) == "wrong password"_L1)
            qputenv("PGPASSWORD", "env-secret");
        RuleStore store;
        try {
            store.Open(uri);
            QFAIL("the store opened");
        } catch (const StoreError& error) {
            QVERIFY2(error.message().contains(reason), qPrintable(error.message()));
            QVERIFY(!error.message().contains(u"secret"_s));
        }
        qputenv("PGPASSWORD", right);
        QVERIFY(!store.IsOpen());
        QVERIFY(!store.Path().contains(u"secret"_s));
    }

    // A NUL cannot be stored on a server: alone it fails, in a cycle's batch it is passed over.
    void aTitleWithANulIsNeverStored() {
        QVERIFY_THROWS_EXCEPTION(StoreError, m_store.InsertPassed(u"a\0b"_s, u"u"_s));
        QCOMPARE(m_store.InsertPassed({{u"ok"_s, u""_s}, {u"a\0b"_s, u""_s}, {u"c"_s, u"\0"_s}}),
                 1);
        QCOMPARE(m_store.FindByNames({u"ok"_s, u"a\0b"_s}).size(), 1);
        QCOMPARE(m_db->rows(), QList<RuleRow>{Rule(u"ok"_s, kFlagPass, u""_s)});
    }

    // Lost in the middle of a cycle, the connection is made again at the next check; with the
    // server away the check fails, and succeeds again once it is back.
    void aLostConnectionIsMadeAgain() {
        m_db->insert(u"a"_s, kFlagBlock, u"http://a/"_s);
        QCOMPARE(m_store.FindByNames({u"a"_s}).size(), 1);
        QCOMPARE(m_store.ReopenIfReplaced(), RuleStore::FileState::Same);
        CutStations();
        QVERIFY_THROWS_EXCEPTION(StoreError, m_store.InsertPassed({{u"b"_s, u""_s}}));
        QCOMPARE(m_store.ReopenIfReplaced(), RuleStore::FileState::Replaced);
        QVERIFY(m_store.InsertPassed({{u"b"_s, u""_s}}) == 1);
        m_server->Stop();
        QVERIFY_THROWS_EXCEPTION(StoreError, m_store.FindByNames({u"a"_s}));
        QVERIFY_THROWS_EXCEPTION(StoreError, m_store.ReopenIfReplaced());
        QVERIFY(!m_store.IsOpen());
        m_server->Start();
        QCOMPARE(m_store.ReopenIfReplaced(), RuleStore::FileState::Replaced);
        QCOMPARE(m_store.FindByNames({u"a"_s, u"b"_s}).size(), 2);
    }

    // A server that never answers costs one connect time-out, not one at every later call.
    void aSilentServerIsNotWaitedForAgainAndAgain() {
        // Listening but never answering: the kernel completes each connection on its own.
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        QVERIFY(::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
                ::listen(fd, 16) == 0 &&
                ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0);
        RuleStore store;
        const QString silent =
            u"postgresql://station@127.0.0.1:%1/x"_s.arg(ntohs(address.sin_port));
        QVERIFY_THROWS_EXCEPTION(StoreError, store.Open(silent));
        for (int call = 0; call < 3; ++call) {
            try {
                store.ReopenIfReplaced();
                QFAIL("a silent server was reached");
            } catch (const StoreError& error) {
                QVERIFY2(error.message().contains(u"timeout"_s), qPrintable(error.message()));
            }
        }
        int attempts = 0;
        for (int client; (client = ::accept(fd, nullptr, nullptr)) >= 0; ++attempts)
            ::close(client);
        ::close(fd);
        QCOMPARE(attempts, 2); // the open and the first reconnect
    }

    // A leading column that cannot be sorted leaves the engine's order to decide.
    void aTableWithoutAUsableKeyWorks() {
        m_db->exec(u"DROP TABLE 窗口名表"_s);
        m_db->exec(u"CREATE TABLE 窗口名表 (k JSON, 窗口名称 TEXT, 是否禁止 TEXT, 网址 TEXT)"_s);
        m_db->insert(u"old"_s, kFlagBlock, u"http://old/"_s);
        m_store.InsertPassed(u"新页"_s, u"http://new/"_s);
        QCOMPARE(m_store.SetFlagForWindow(kFlagBlock, u"新页"_s, u""_s), 1);
        QCOMPARE(List(kFlagBlock).size(), 2);
        QCOMPARE(m_store.FindByNames({u"old"_s, u"新页"_s}).size(), 2);
        QCOMPARE(Find(u"old"_s), QList<RuleRow>{Rule(u"old"_s, kFlagBlock, u"http://old/"_s)});
    }
};

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    TestRuleStoreSqlite sqlite;
    TestRuleStorePostgres postgres;
    return QTest::qExec(&sqlite, argc, argv) | QTest::qExec(&postgres, argc, argv);
}

#include "test_rulestore.moc"
