// The store against SQLite and PostgreSQL; winwarden-db, the tool over it, as a process.
#include "store/databasename.h"
#include "store/flag.h"
#include "store/matchstore.h"
#include "store/rulestore.h"
#include "store/storeerror.h"
#include "tests/support/bridgebrowser.h"
#include "tests/support/pgserver.h"
#include "tests/support/testdb.h"

#include <QTest>
#include <algorithm>
#include <thread>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;

namespace {

// winwarden-db, the sqlite3 shell and sh, each run to its end in a temporary folder of their own.
struct DbTool {
    QTemporaryDir dir;

    // Runs `program`, winwarden-db unless named.
    RunOutcome operator()(const QStringList& args, const QString& program = QString()) const {
        return RunProgram(program.isEmpty() ? qEnvironmentVariable("WINWARDEN_DB_TOOL") : program,
                          args, dir.path());
    }
    // What sqlite3 prints for `sql` on `file`, or why it failed.
    QString Sql(const QString& file, const QString& sql) const {
        const RunOutcome done = (*this)({file, sql}, u"sqlite3"_s);
        return done.code == 0 ? done.out : u"sqlite3 failed: "_s + done.err;
    }
    QByteArray Read(const QString& name) const { return ReadFile(dir.filePath(name)); }
};

// `t COLUMNS` makes 窗口名表 in winwarden.mdb; the snapshot lists every entry and checksum.
const QString kTable = u"t() { sqlite3 winwarden.mdb \"CREATE TABLE 窗口名表 ($1)\"; }\n"_s;
const QString kSnapshot = u"\nfind . -printf '%p %s %l\\n' -type f -exec md5sum {} + | sort"_s;

} // namespace

// The cases every engine passes, each on a fresh rule database with the store open on it.
class RuleStoreCases : public QObject {
    Q_OBJECT

protected:
    std::unique_ptr<RuleDb> m_db;
    RuleStore m_store;

    virtual std::unique_ptr<RuleDb> MakeDb() = 0;
    // PostgreSQL text cannot hold U+0000.
    virtual bool HoldsNul() const = 0;

    static RuleRow Row(const winwarden::Rule& r) { return {r.name, r.flag, r.url}; }
    QList<RuleRow> Find(const QString& title) {
        const auto found = m_store.FindByName(title);
        return found ? QList<RuleRow>{Row(*found)} : QList<RuleRow>{};
    }
    QList<RuleRow> List(const QString& flag) {
        QList<RuleRow> rows;
        std::ranges::transform(m_store.ListByFlag(flag), std::back_inserter(rows), Row);
        return rows;
    }

private Q_SLOTS:
    void init() {
        m_store.Close();
        m_db.reset();
        m_store.Open((m_db = MakeDb())->name());
    }

    void hardValuesAreStoredAndFoundExactly_data() {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("url");
        QTest::newRow("quotes") << u"O'Brien'); DROP TABLE 窗口名表; --"_s << u"' OR '1'='1"_s;
        QTest::newRow("LIKE wildcards") << u"%__"_s << u"_%_"_s;
        QTest::newRow("controls") << u" C:\\dir\\n\r\n\t\x01\x1b[2J"_s +
                                         (HoldsNul() ? u"\0"_s : u""_s)
                                  << u" \\\\server\\share "_s;
        QTest::newRow("long") << QString(10000, u'文') << QString(1 << 20, u'\'');
        QTest::newRow("null url") << u"page with null url"_s << QString();
    }
    void hardValuesAreStoredAndFoundExactly() {
        QFETCH(QString, title);
        QFETCH(QString, url);
        const RuleRow other{u"unrelated"_s, kFlagPass, u"http://other/"_s};
        m_db->insert(other.name, other.flag, other.url);
        m_store.InsertPassed(title, url);
        // An empty URL is stored as the empty text, never as NULL.
        RuleRow mine{title, kFlagPass, url.isNull() ? u""_s : url};
        QCOMPARE(m_db->rows(), QList<RuleRow>({other, mine}));
        QCOMPARE(Find(title), QList<RuleRow>{mine});
        m_store.SetFlagForWindow(title, title, url);
        mine.flag = title;
        QCOMPARE(List(title), QList<RuleRow>{mine});
        m_store.DeleteRule(title, url);
        QCOMPARE(m_db->rows(), QList<RuleRow>{other});
    }

    // The rules without an address share the empty one: a rule added, changed or deleted by
    // name touches that rule alone, while an address still reaches every rule that has it.
    void aRuleWithoutAnAddressIsChangedAlone() {
        const QString x = u"http://x/"_s;
        m_db->insert(u"a"_s, kFlagPass, u""_s);
        m_db->insert(u"b"_s, kFlagPass, std::nullopt);
        m_db->insert(u"c"_s, kFlagPass, u""_s);
        m_db->insert(u"d"_s, kFlagPass, x);
        m_db->insert(u"e"_s, kFlagPass, x);
        QVERIFY(m_store.InsertRule(u"new"_s, kFlagBlock, u""_s));
        QVERIFY(!m_store.InsertRule(u"a"_s, kFlagBlock, u""_s));
        QCOMPARE(m_store.SetFlagForWindow(kFlagBlock, u"b"_s, u""_s), 1);
        QCOMPARE(m_store.SetFlagByUrl(kFlagBlock, u""_s) + m_store.DeleteByUrl(QString()), 0);
        QCOMPARE(m_store.DeleteRule(u"c"_s, u""_s), 1);
        QCOMPARE(m_store.DeleteRule(QString(), u""_s), 0);
        QCOMPARE(m_store.SetFlagForWindow(kFlagBlock, u"d"_s, x), 2);
        QStringList rules;
        for (const RuleRow& row : m_db->rows())
            rules << *row.name + *row.flag;
        QCOMPARE(rules.join(u' '), u"a通过 b禁止 d禁止 e禁止 new禁止"_s);
    }

    // The older of two rules with one name comes first even where an index lists it last.
    void rulesSharingANameOrAUrl() {
        m_db->exec(u"DROP INDEX 窗口名称索引"_s);
        m_db->exec(u"DROP INDEX IF EXISTS 窗口名称唯一"_s);
        m_db->exec(u"CREATE INDEX 倒序 ON 窗口名表 (窗口名称 DESC, 编号 DESC)"_s);
        m_db->exec(u"CREATE INDEX 标记倒序 ON 窗口名表 (是否禁止 DESC, 编号 DESC)"_s);
        const QString same = u"http://same/"_s;
        const RuleRow older{u"twice"_s, kFlagPass, u"http://a/"_s};
        m_db->insert(older.name, older.flag, older.url);
        m_db->insert(u"between"_s, kFlagPass, same);
        m_db->insert(u"twice"_s, kFlagPass, same);
        QCOMPARE(Find(u"twice"_s), QList<RuleRow>{older});
        const auto many = m_store.FindByNames({u"twice"_s, u"between"_s, u"none"_s});
        QCOMPARE(many.size(), 2);
        QCOMPARE(Row(many[u"twice"_s]), older);
        QCOMPARE(Row(many[u"between"_s]), (RuleRow{u"between"_s, kFlagPass, same}));
        m_store.SetFlagByUrl(kFlagBlock, same);
        QCOMPARE(List(kFlagBlock), QList<RuleRow>({RuleRow{u"between"_s, kFlagBlock, same},
                                                   RuleRow{u"twice"_s, kFlagBlock, same}}));
        QCOMPARE(List(kFlagPass), QList<RuleRow>{older});
        m_store.DeleteByUrl(same);
        QCOMPARE(m_db->rows(), QList<RuleRow>{older});
    }

    // Asked again cycle after cycle, a lookup sees each change made in between, by another
    // program as by the store itself.
    void repeatedLookupsSeeEveryChange() {
        m_db->insert(u"a"_s, kFlagPass, u"http://a/"_s);
        const auto flagOf = [&](const QString& title) {
            const auto found = m_store.FindByNames({u"a"_s, u"new"_s});
            return found.contains(title) ? found[title].flag.value_or(u"NULL"_s) : u"none"_s;
        };
        QCOMPARE(flagOf(u"a"_s), kFlagPass);
        m_db->exec(u"UPDATE 窗口名表 SET 是否禁止='禁止' WHERE 窗口名称='a'"_s);
        QCOMPARE(flagOf(u"a"_s), kFlagBlock);
        m_store.SetFlagByUrl(kFlagPass, u"http://a/"_s);
        QCOMPARE(flagOf(u"a"_s), kFlagPass);
        QCOMPARE(m_store.InsertPassed({{u"new"_s, u"http://new/"_s}}), 1);
        QCOMPARE(flagOf(u"new"_s), kFlagPass);
        m_db->exec(u"DELETE FROM 窗口名表 WHERE 窗口名称='new'"_s);
        QCOMPARE(flagOf(u"new"_s), u"none"_s);
    }

    // Two writers meeting the same new titles at once make one rule per title; two adding the
    // same match rules, one rule per kind and text.
    void concurrentWritersNeverDuplicateARule() {
        std::vector<std::pair<QString, QString>> pages;
        for (int i = 0; i < 1000; ++i)
            pages.emplace_back(u"页面 %1"_s.arg(i), u"http://p/%1"_s.arg(i));
        const auto writer = [&] {
            RuleStore store;
            store.Open(m_db->name());
            MatchStore matches(store);
            for (size_t first = 0; first < pages.size(); first += 50) {
                store.InsertPassed(std::vector(pages.begin() + first, pages.begin() + first + 50));
                matches.Add(kKindSite, u"site%1.example"_s.arg(first), kFlagBlock);
            }
        };
        std::thread one(writer), two(writer);
        one.join();
        two.join();
        QCOMPARE(m_db->exec(u"SELECT count(*) || ' ' || count(DISTINCT 窗口名称) FROM 窗口名表"_s),
                 u"1000 1000"_s);
        QCOMPARE(m_db->exec(u"SELECT count(*) || ' ' || count(DISTINCT 内容) FROM 匹配规则"_s),
                 u"20 20"_s);
    }

    // The match rules are read again only when someone changed them, this store or another
    // program. A table made before rules had times gains the column with the first times, read
    // with the rule; a database without their table has none until the table is added.
    void matchRulesAreReadWhenTheyChange() {
        m_db->exec(u"ALTER TABLE 匹配规则 DROP COLUMN 时间"_s);
        MatchStore matches(m_store);
        const auto changed = [&]() -> QStringList {
            const auto rows = matches.ListIfChanged();
            if (!rows)
                return {u"unchanged"_s};
            QStringList texts;
            for (const MatchRuleRow& row : *rows)
                texts << row.kind.value_or(u"NULL"_s) + u' ' + row.text.value_or(u"NULL"_s) + u' ' +
                             row.flag.value_or(u"NULL"_s) + (row.times ? u' ' + *row.times : u""_s);
            return texts;
        };
        const QStringList unchanged{u"unchanged"_s};
        QCOMPARE(changed(), QStringList());
        QCOMPARE(changed(), unchanged);
        m_db->exec(
            u"INSERT INTO 匹配规则 (种类,内容,是否禁止) VALUES ('网站','game.example','禁止')"_s);
        m_store.InsertPassed(u"t"_s, u"u"_s);
        QCOMPARE(changed(), QStringList{u"网站 game.example 禁止"_s});
        m_db->insert(u"other"_s, kFlagPass, u"u"_s); // another table changed: the rules stand
        QCOMPARE(changed(), unchanged);
        QVERIFY(!matches.Add(kKindSite, u"game.example"_s, kFlagPass));
        QVERIFY(matches.Add(kKindTitleWord, u"赌场 'x' %"_s, kFlagBlock));
        QCOMPARE(changed(),
                 (QStringList{u"网站 game.example 禁止"_s, u"标题包含 赌场 'x' % 禁止"_s}));
        const qint64 word = matches.List().back().id;
        QCOMPARE(matches.SetFlag(word, kFlagPass), 1);
        QCOMPARE(changed().last(), u"标题包含 赌场 'x' % 通过"_s);
        m_db->exec(u"UPDATE 匹配规则 SET 是否禁止='通过' WHERE 种类='网站'"_s);
        QCOMPARE(changed().first(), u"网站 game.example 通过"_s);
        QCOMPARE(changed(), unchanged);
        QCOMPARE(matches.Delete(word), 1);
        QCOMPARE(changed(), QStringList{u"网站 game.example 通过"_s});
        const qint64 site = matches.List().front().id;
        QCOMPARE(matches.SetTimes(site, u" 周一至周五 21:00-07:00 "_s), 1);
        QCOMPARE(changed(), QStringList{u"网站 game.example 通过 周一至周五 21:00-07:00"_s});
        QCOMPARE(matches.Find(kKindSite, u"game.example"_s)->times,
                 std::optional(u"周一至周五 21:00-07:00"_s));
        QCOMPARE(matches.SetTimes(site, u""_s), 1);
        QCOMPARE(changed(), QStringList{u"网站 game.example 通过"_s});
        QCOMPARE(m_db->exec(u"SELECT count(*) FROM 匹配规则 WHERE 时间 IS NULL"_s), u"1"_s);

        // An older database: no table, no rules, nothing to read; the table can be added.
        m_db->exec(u"DROP TABLE 匹配规则"_s);
        m_db->exec(u"DROP TABLE 匹配规则版本"_s);
        QVERIFY(!matches.HasTable());
        QCOMPARE(changed(), QStringList());
        matches.AddTable();
        matches.AddTable(); // a second time leaves it as it is
        QVERIFY(matches.Add(kKindSite, u"game.example"_s, kFlagBlock));
        QCOMPARE(changed(), QStringList{u"网站 game.example 禁止"_s});
    }
};

class TestRuleStoreSqlite final : public RuleStoreCases {
    Q_OBJECT

    std::unique_ptr<RuleDb> MakeDb() override { return std::make_unique<TempRuleDb>(); }
    bool HoldsNul() const override { return true; }
};

class TestRuleStorePostgres final : public RuleStoreCases {
    Q_OBJECT

    std::optional<PgServer> m_server;

    std::unique_ptr<RuleDb> MakeDb() override { return std::make_unique<PgRuleDb>(*m_server); }
    bool HoldsNul() const override { return false; }

private Q_SLOTS:
    void initTestCase() { m_server.emplace(); }
    void cleanupTestCase() {
        m_store.Close();
        m_db.reset();
        m_server.reset();
    }

    // A store that cannot open says why, and never shows a password: the URI's, nor the one
    // in the environment.
    void openFailuresSayWhyWithoutAPassword() {
        const QString rules = m_server->NewRuleDatabase();
        const QByteArray right = qgetenv("PGPASSWORD");
        for (const auto& [uri, password, reason] : QList<std::array<QByteArray, 3>>{
                 {m_server->Uri(u"postgres"_s).toUtf8(), right, "窗口名表"},
                 {"postgresql://station:uri-secret@h:99999/x", right, "99999"},
                 {m_server->Uri(rules).replace(u"station@"_s, u"station:uri-secret@"_s).toUtf8(),
                  "env-secret", "password authentication failed"}}) {
            qputenv("PGPASSWORD", password);
            RuleStore store;
            try {
                store.Open(QString::fromUtf8(uri));
                QFAIL("the store opened");
            } catch (const StoreError& error) {
                QVERIFY2(error.message().contains(QString::fromUtf8(reason)) &&
                             !error.message().contains(u"secret"_s),
                         qPrintable(error.message()));
            }
            QVERIFY(!store.IsOpen() && !store.Path().contains(u"secret"_s));
            qputenv("WINWARDEN_DATABASE", uri);
            QVERIFY(!DatabaseNameFromEnvironment().contains(u"secret"_s));
        }
        qputenv("PGPASSWORD", right);
        qunsetenv("WINWARDEN_DATABASE");
    }

    // A NUL cannot be stored on a server: alone it fails, in a cycle's batch it is passed over.
    void aTitleWithANulIsNeverStored() {
        QVERIFY_THROWS_EXCEPTION(StoreError, m_store.InsertPassed(u"a\0b"_s, u"u"_s));
        QCOMPARE(m_store.InsertPassed({{u"ok"_s, u""_s}, {u"a\0b"_s, u""_s}, {u"c"_s, u"\0"_s}}),
                 1);
        QCOMPARE(m_store.FindByNames({u"ok"_s, u"a\0b"_s}).size(), 1);
        QCOMPARE(m_db->rows(), (QList<RuleRow>{{u"ok"_s, kFlagPass, u""_s}}));
    }

    // A title another station is recording, not yet committed: the store waits for it and
    // makes no second rule (the unique index settles the race that NOT EXISTS cannot see).
    void aTitleBeingRecordedElsewhereIsRecordedOnce() {
        m_db->exec(u"BEGIN"_s);
        m_db->insert(u"页"_s, kFlagPass, u"http://a/"_s);
        std::thread station([name = m_db->name()] {
            RuleStore store;
            store.Open(name);
            store.InsertPassed({{u"页"_s, u"http://b/"_s}});
        });
        (void)QTest::qWaitFor([&] { // until the station waits for this transaction, if it ever does
            return m_server->Admin(u"SELECT count(*) FROM pg_stat_activity WHERE "
                                   "wait_event_type = 'Lock'"_s,
                                   u"postgres"_s) == u"1"_s;
        });
        m_db->exec(u"COMMIT"_s);
        station.join();
        QCOMPARE(m_db->rows(), (QList<RuleRow>{{u"页"_s, kFlagPass, u"http://a/"_s}}));
    }

    // A connection the server cut is made again at the next check.
    void aLostConnectionIsMadeAgain() {
        m_db->insert(u"a"_s, kFlagBlock, u"http://a/"_s);
        QCOMPARE(m_store.FindByNames({u"a"_s}).size(), 1);
        QCOMPARE(m_store.ReopenIfReplaced(), RuleStore::FileState::Same);
        m_server->Admin(u"SELECT count(pg_terminate_backend(pid)) FROM pg_stat_activity WHERE "
                        "usename = 'station'"_s,
                        u"postgres"_s);
        QVERIFY_THROWS_EXCEPTION(StoreError, m_store.InsertPassed({{u"b"_s, u""_s}}));
        QCOMPARE(m_store.ReopenIfReplaced(), RuleStore::FileState::Replaced);
        QVERIFY(m_store.InsertPassed({{u"b"_s, u""_s}}) == 1);
        QCOMPARE(m_store.FindByNames({u"a"_s, u"b"_s}).size(), 2);
    }

    // Copy carries every rule byte for byte from a file to a server and back.
    void copiesBetweenAFileAndAServer() {
        m_server->Admin(u"CREATE DATABASE copied OWNER station"_s, u"postgres"_s);
        const QString uri = m_server->Uri(u"copied"_s);
        DbTool db;
        QCOMPARE(db({u"create"_s, uri}).code, 0);
        QCOMPARE(db({u"create"_s, u"from.mdb"_s}).code, 0);
        QCOMPARE(
            db.Sql(u"from.mdb"_s,
                   u"INSERT INTO 窗口名表 (窗口名称,是否禁止,网址) VALUES ('a''b', '通过', "
                   "NULL), (NULL, '禁止', ''), ('x\"\\\\%_{}', NULL, 'NULL'), ('gone', "
                   "'', ''), ('😀 ,\t', '禁止访问', 'http://e/?a=1&b=2');"
                   "DELETE FROM 窗口名表 WHERE 窗口名称 = 'gone';"
                   "INSERT INTO 匹配规则 (种类,内容,是否禁止,时间) VALUES ('网站', 'a.example', "
                   "'禁止', '周六日 10:00-12:00'), (NULL, 'x', NULL, NULL);"_s),
            QString());
        QCOMPARE(db({u"copy"_s, u"from.mdb"_s, uri}).code, 0);
        QCOMPARE(db({u"copy"_s, uri, u"back.mdb"_s}).code, 0);
        const QString dump = u"SELECT ifnull(hex(窗口名称), '-'), ifnull(hex(是否禁止), '-'), "
                             "ifnull(hex(网址), '-') FROM 窗口名表 ORDER BY rowid"_s;
        const QString before = db.Sql(u"from.mdb"_s, dump);
        QCOMPARE(before.count(u'\n'), 4);
        QCOMPARE(db.Sql(u"back.mdb"_s, dump), before);
        QCOMPARE(db.Sql(u"back.mdb"_s, u"SELECT 编号, ifnull(种类, '-'), 内容, ifnull(是否禁止, "
                                       "'-'), ifnull(时间, '-') FROM 匹配规则 ORDER BY 编号"_s),
                 u"1|网站|a.example|禁止|周六日 10:00-12:00\n2|-|x|-|-\n"_s);

        QCOMPARE(db({u"copy"_s, u"from.mdb"_s, uri}).code, 1); // never over rules
    }
};

class TestWinwardenDb final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Rules out to CSV and into another database byte for byte, never a second rule per name.
    void exportAndImportKeepEveryRule() {
        DbTool db;
        QCOMPARE(db({u"create"_s}).code, 0);
        QVERIFY(db({u"check"_s}).out.startsWith(u"ok"_s));
        QCOMPARE(
            db.Sql(u"winwarden.mdb"_s,
                   u"INSERT INTO 窗口名表 (窗口名称,是否禁止,网址) VALUES ('O''Brien, "
                   "\"新闻\"' || char(13,10) || '第二行', '禁止', 'http://a/?q=1,2'), "
                   "('哨兵 😀', '通过', ''), (NULL, '通过', NULL), ('哨兵 😀', '禁止', 'dup')"_s),
            QString());
        QCOMPARE(db({u"export"_s, u"out.csv"_s}).code, 0);
        QCOMPARE(db({u"create"_s, u"other.mdb"_s}).code, 0);
        QCOMPARE(db({u"import"_s, u"out.csv"_s, u"other.mdb"_s}).out,
                 u"已导入到 other.mdb：新增 3 条，修改 1 条，跳过 0 条\n"_s);
        QCOMPARE(db({u"export"_s, u"back.csv"_s, u"other.mdb"_s}).code, 0);
        // The duplicate name came in as a change of the first rule, not as a second rule.
        QCOMPARE(db.Read(u"back.csv"_s), db.Read(u"out.csv"_s)
                                             .replace("\"通过\",\"\"\r\n", "\"禁止\",\"\"\r\n")
                                             .replace("\"哨兵 😀\",\"禁止\",\"dup\"\r\n", ""));
        QCOMPARE(db({u"import"_s, u"back.csv"_s, u"other.mdb"_s}).out,
                 u"已导入到 other.mdb：新增 1 条，修改 0 条，跳过 2 条\n"_s);
        const RunOutcome notCsv = db({u"import"_s, u"winwarden.mdb"_s});
        QVERIFY2(notCsv.code == 1 && notCsv.err.contains(u"第 "_s), qPrintable(notCsv.err));

        // Match rules add a fourth column, 种类; an older file without their table gains it.
        QCOMPARE(db.Sql(u"winwarden.mdb"_s, u"INSERT INTO 匹配规则 (种类,内容,是否禁止) VALUES "
                                            "('网站', 'game.example', '禁止'), ('标题包含', "
                                            "'a,\"b\"', '通过')"_s),
                 QString());
        QCOMPARE(db({u"export"_s, u"all.csv"_s}).out, u"已把 6 条规则导出到 all.csv\n"_s);
        const QByteArray all = db.Read(u"all.csv"_s);
        QVERIFY(all.startsWith("窗口名称,是否禁止,网址,种类\r\n"));
        QVERIFY(all.endsWith("\"game.example\",\"禁止\",,\"网站\"\r\n"
                             "\"a,\"\"b\"\"\",\"通过\",,\"标题包含\"\r\n"));
        QCOMPARE(db({u"create"_s, u"old.mdb"_s}).code, 0);
        QCOMPARE(db.Sql(u"old.mdb"_s, u"DROP TABLE 匹配规则; DROP TABLE 匹配规则版本;"_s),
                 QString());
        QCOMPARE(db({u"import"_s, u"all.csv"_s, u"old.mdb"_s}).out,
                 u"已导入到 old.mdb：新增 5 条，修改 1 条，跳过 0 条\n"_s);
        const QString dump = u"SELECT 种类, 内容, 是否禁止 FROM 匹配规则 ORDER BY 编号"_s;
        QCOMPARE(db.Sql(u"old.mdb"_s, dump), db.Sql(u"winwarden.mdb"_s, dump));
        QCOMPARE(db.Sql(u"old.mdb"_s, u"SELECT 版本 FROM 匹配规则版本"_s), u"2\n"_s);
    }

    // A rule's times go out as a fifth column, only when some rule has times, and come back in
    // their one written form, also into a file made before rules had times; a file with one
    // bad schedule is refused whole.
    void timesTravelWithTheRules() {
        DbTool db;
        QCOMPARE(db({u"create"_s}).code, 0);
        QCOMPARE(db.Sql(u"winwarden.mdb"_s,
                        u"INSERT INTO 匹配规则 (种类,内容,是否禁止,时间) VALUES ('网站', "
                        "'youtube.com', '禁止', '周一至周五 21:00-07:00'), ('标题包含', 'game', "
                        "'禁止', NULL)"_s),
                 QString());
        QCOMPARE(db({u"export"_s, u"timed.csv"_s}).code, 0);
        QCOMPARE(db.Read(u"timed.csv"_s),
                 QByteArray("窗口名称,是否禁止,网址,种类,时间\r\n"
                            "\"youtube.com\",\"禁止\",,\"网站\",\"周一至周五 "
                            "21:00-07:00\"\r\n\"game\",\"禁止\",,\"标题包含\",\r\n"));

        QCOMPARE(db({u"create"_s, u"old.mdb"_s}).code, 0);
        QCOMPARE(db.Sql(u"old.mdb"_s, u"ALTER TABLE 匹配规则 DROP COLUMN 时间"_s), QString());
        QCOMPARE(db({u"import"_s, u"timed.csv"_s, u"old.mdb"_s}).out,
                 u"已导入到 old.mdb：新增 2 条，修改 0 条，跳过 0 条\n"_s);
        const QString dump = u"SELECT 内容, ifnull(时间, '-') FROM 匹配规则 ORDER BY 编号"_s;
        const QString imported = u"youtube.com|周一至周五 21:00-07:00\ngame|-\n"_s;
        QCOMPARE(db.Sql(u"old.mdb"_s, dump), imported);

        // One bad schedule among good lines: the whole file is refused.
        QVERIFY(
            WriteFile(db.dir.filePath(u"in.csv"_s),
                      "窗口名称,是否禁止,网址,种类,时间\nnew.example,禁止,,网站,周一 08:00-09:00\n"
                      "game,禁止,,标题包含,周一 25:00-07:00\n"));
        const RunOutcome refused = db({u"import"_s, u"in.csv"_s, u"old.mdb"_s});
        QVERIFY2(refused.code == 1 && refused.err.contains(u"第 2 条规则：时间段"_s),
                 qPrintable(refused.err));
        QCOMPARE(db.Sql(u"old.mdb"_s, dump), imported);
    }

    // `before` makes winwarden.mdb; a refusal is one line on standard error and changes nothing.
    void refusalsSayWhyAndTouchNothing_data() {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("args");
        QTest::addColumn<int>("code");
        QTest::newRow("create: file") << u"echo precious >winwarden.mdb"_s << u"create"_s << 1;
        QTest::newRow("check: 3 columns") << u"t '窗口名称, 是否禁止, 网址'"_s << u"check"_s << 1;
        QTest::newRow("check: 匹配规则")
            << u"t '编号, 窗口名称, 是否禁止, 网址'; sqlite3 winwarden.mdb 'CREATE TABLE 匹配规则 (x)'"_s
            << u"check"_s << 1;
        QTest::newRow("two files") << QString() << u"create|a.mdb|b.mdb"_s << 2;
    }
    void refusalsSayWhyAndTouchNothing() {
        QFETCH(QString, before);
        QFETCH(QString, args);
        QFETCH(int, code);
        DbTool db;
        const RunOutcome made = db({u"-ec"_s, kTable + before + kSnapshot}, u"sh"_s);
        const RunOutcome outcome = db(args.split(u'|'));
        QCOMPARE(outcome.code, code);
        QVERIFY2(outcome.err.count(u'\n') == 1 && outcome.out.isEmpty(), qPrintable(outcome.err));
        QCOMPARE(db({u"-ec"_s, kSnapshot}, u"sh"_s).out, made.out);
    }
};

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    TestRuleStoreSqlite sqlite;
    TestRuleStorePostgres postgres;
    TestWinwardenDb tool;
    return QTest::qExec(&sqlite, argc, argv) | QTest::qExec(&postgres, argc, argv) |
           QTest::qExec(&tool, argc, argv);
}

#include "test_rulestore.moc"
