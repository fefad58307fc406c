#include "tests/support/pgserver.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

struct Outcome {
    int code = -1;
    QString out, err;
};

// Runs `program`, winwarden-db unless named, in `dir` to its end.
Outcome Run(const QString& dir, const QStringList& args, const QString& program = QString()) {
    QProcess process;
    process.setWorkingDirectory(dir);
    process.start(program.isEmpty() ? qEnvironmentVariable("WINWARDEN_DB_TOOL") : program, args);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

// `t COLUMNS` makes 窗口名表 in winwarden.mdb; the snapshot lists every entry and checksum.
const QString kTable = u"t() { sqlite3 winwarden.mdb \"CREATE TABLE 窗口名表 ($1)\"; }\n"_s;
const QString kSnapshot = u"\nfind . -printf '%p %s %l\\n' -type f -exec md5sum {} + | sort"_s;

} // namespace

class TestWinwardenDb final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Rules out to CSV and into another database byte for byte, never a second rule per name.
    void exportAndImportKeepEveryRule() {
        QTemporaryDir dir;
        QCOMPARE(Run(dir.path(), {u"create"_s}).code, 0);
        QVERIFY(Run(dir.path(), {u"check"_s}).out.startsWith(u"ok"_s));
        const QString rows =
            u"INSERT INTO 窗口名表 (窗口名称,是否禁止,网址) VALUES "
            "('O''Brien, \"新闻\"' || char(13,10) || '第二行', '禁止', 'http://a/?q=1,2'), "
            "('哨兵 😀', '通过', ''), (NULL, '通过', NULL), ('哨兵 😀', '禁止', 'dup')"_s;
        QCOMPARE(Run(dir.path(), {u"winwarden.mdb"_s, rows}, u"sqlite3"_s).code, 0);
        QCOMPARE(Run(dir.path(), {u"export"_s, u"out.csv"_s}).code, 0);
        QCOMPARE(Run(dir.path(), {u"create"_s, u"other.mdb"_s}).code, 0);
        QCOMPARE(Run(dir.path(), {u"import"_s, u"out.csv"_s, u"other.mdb"_s}).out,
                 u"已导入到 other.mdb：新增 3 条，修改 1 条，跳过 0 条\n"_s);
        QCOMPARE(Run(dir.path(), {u"export"_s, u"back.csv"_s, u"other.mdb"_s}).code, 0);
        QFile out(dir.filePath(u"out.csv"_s)), back(dir.filePath(u"back.csv"_s));
        QVERIFY(out.open(QIODevice::ReadOnly) && back.open(QIODevice::ReadOnly));
        const QByteArray exported = out.readAll();
        // The duplicate name came in as a change of the first rule, not as a second rule.
        QCOMPARE(back.readAll(), QByteArray(exported)
                                     .replace("\"通过\",\"\"\r\n", "\"禁止\",\"\"\r\n")
                                     .replace("\"哨兵 😀\",\"禁止\",\"dup\"\r\n", ""));
        QCOMPARE(Run(dir.path(), {u"import"_s, u"back.csv"_s, u"other.mdb"_s}).out,
                 u"已导入到 other.mdb：新增 1 条，修改 0 条，跳过 2 条\n"_s);
        const Outcome notCsv = Run(dir.path(), {u"import"_s, u"winwarden.mdb"_s});
        QVERIFY2(notCsv.code == 1 && notCsv.err.contains(u"第 "_s), qPrintable(notCsv.err));

        // Match rules add a fourth column, 种类; an older file without their table gains it.
        const QString matches = u"INSERT INTO 匹配规则 (种类,内容,是否禁止) VALUES ('网站', "
                                "'game.example', '禁止'), ('标题包含', 'a,\"b\"', '通过')"_s;
        QCOMPARE(Run(dir.path(), {u"winwarden.mdb"_s, matches}, u"sqlite3"_s).code, 0);
        QCOMPARE(Run(dir.path(), {u"export"_s, u"all.csv"_s}).out,
                 u"已把 6 条规则导出到 all.csv\n"_s);
        QFile all(dir.filePath(u"all.csv"_s));
        QVERIFY(all.open(QIODevice::ReadOnly));
        const QByteArray text = all.readAll();
        all.close();
        QVERIFY(text.startsWith("窗口名称,是否禁止,网址,种类\r\n"));
        QVERIFY(text.endsWith("\"game.example\",\"禁止\",,\"网站\"\r\n"
                              "\"a,\"\"b\"\"\",\"通过\",,\"标题包含\"\r\n"));
        const QString dropped = u"DROP TABLE 匹配规则; DROP TABLE 匹配规则版本;"_s;
        QCOMPARE(Run(dir.path(), {u"create"_s, u"old.mdb"_s}).code, 0);
        QCOMPARE(Run(dir.path(), {u"old.mdb"_s, dropped}, u"sqlite3"_s).code, 0);
        QCOMPARE(Run(dir.path(), {u"import"_s, u"all.csv"_s, u"old.mdb"_s}).out,
                 u"已导入到 old.mdb：新增 5 条，修改 1 条，跳过 0 条\n"_s);
        const QString dump = u"SELECT 种类, 内容, 是否禁止 FROM 匹配规则 ORDER BY 编号"_s;
        QCOMPARE(Run(dir.path(), {u"old.mdb"_s, dump}, u"sqlite3"_s).out,
                 Run(dir.path(), {u"winwarden.mdb"_s, dump}, u"sqlite3"_s).out);
        QCOMPARE(
            Run(dir.path(), {u"old.mdb"_s, u"SELECT 版本 FROM 匹配规则版本"_s}, u"sqlite3"_s).out,
            u"2\n"_s);
    }

    // `before` makes winwarden.mdb; a refusal is one line on standard error and changes nothing.
    void refusalsSayWhyAndTouchNothing_data() {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("args");
        QTest::addColumn<int>("code");
        QTest::newRow("create: file") << u"echo precious >winwarden.mdb"_s << u"create"_s << 1;
        QTest::newRow("check: 3 columns") << u"t '窗口名称, 是否禁止, 网址'"_s << u"check"_s << 1;
        QTest::newRow("two files") << QString() << u"create|a.mdb|b.mdb"_s << 2;
    }
    void refusalsSayWhyAndTouchNothing() {
        QFETCH(QString, before);
        QFETCH(QString, args);
        QFETCH(int, code);
        QTemporaryDir dir;
        const Outcome made = Run(dir.path(), {u"-ec"_s, kTable + before + kSnapshot}, u"sh"_s);
        const Outcome outcome = Run(dir.path(), args.isEmpty() ? QStringList() : args.split(u'|'));
        QCOMPARE(outcome.code, code);
        QVERIFY2(outcome.err.count(u'\n') == 1 && outcome.out.isEmpty(), qPrintable(outcome.err));
        QCOMPARE(Run(dir.path(), {u"-ec"_s, kSnapshot}, u"sh"_s).out, made.out);
    }

    // Copy carries every rule byte for byte from a file to a server and back; no password shown.
    void copiesBetweenAFileAndAServer() {
        winwarden::test::PgServer server;
        server.Admin(u"CREATE DATABASE rules OWNER station"_s, u"postgres"_s);
        const QString uri = server.Uri(u"rules"_s);
        QTemporaryDir dir;
        QCOMPARE(Run(dir.path(), {u"create"_s, uri}).code, 0);
        const Outcome checked =
            Run(dir.path(), {u"check"_s, QString(uri).replace(u"@"_s, u":topsecret@"_s)});
        QVERIFY(checked.out.startsWith(u"ok"_s));
        QVERIFY(!(checked.out + checked.err).contains(u"topsecret"_s));

        const QString rows =
            u"INSERT INTO 窗口名表 (窗口名称,是否禁止,网址) VALUES ('a''b', '通过', "
            "NULL), (NULL, '禁止', ''), ('x\"\\\\%_{}', NULL, 'NULL'), ('gone', "
            "'', ''), ('😀 ,\t', '禁止访问', 'http://e/?a=1&b=2');"
            "DELETE FROM 窗口名表 WHERE 窗口名称 = 'gone';"
            "INSERT INTO 匹配规则 (种类,内容,是否禁止) VALUES ('网站', 'a.example', '禁止'), "
            "(NULL, 'x', NULL);"_s;
        QCOMPARE(Run(dir.path(), {u"create"_s, u"from.mdb"_s}).code, 0);
        QCOMPARE(Run(dir.path(), {u"from.mdb"_s, rows}, u"sqlite3"_s).code, 0);
        QCOMPARE(Run(dir.path(), {u"copy"_s, u"from.mdb"_s, uri}).code, 0);
        QCOMPARE(Run(dir.path(), {u"copy"_s, uri, u"back.mdb"_s}).code, 0);
        const QString dump = u"SELECT ifnull(hex(窗口名称), '-'), ifnull(hex(是否禁止), '-'), "
                             "ifnull(hex(网址), '-') FROM 窗口名表 ORDER BY rowid"_s;
        const QString before = Run(dir.path(), {u"from.mdb"_s, dump}, u"sqlite3"_s).out;
        QCOMPARE(before.count(u'\n'), 4);
        QCOMPARE(Run(dir.path(), {u"back.mdb"_s, dump}, u"sqlite3"_s).out, before);
        const QString matches = u"SELECT 编号, ifnull(种类, '-'), 内容, ifnull(是否禁止, '-') "
                                "FROM 匹配规则 ORDER BY 编号"_s;
        QCOMPARE(Run(dir.path(), {u"back.mdb"_s, matches}, u"sqlite3"_s).out,
                 u"1|网站|a.example|禁止\n2|-|x|-\n"_s);

        QCOMPARE(Run(dir.path(), {u"copy"_s, u"from.mdb"_s, uri}).code, 1); // never over rules
    }
};

QTEST_GUILESS_MAIN(TestWinwardenDb)
#include "test_winwardendb.moc"
