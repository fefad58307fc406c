// winwarden-db history and report over a month of three users' visits in a real rule file.
#include "store/rulestore.h"
#include "store/visitday.h"
#include "store/visitstore.h"
#include "tests/support/bridgebrowser.h"
#include "tests/support/pgserver.h"
#include "tests/support/testdb.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;

namespace {

RunOutcome RunTool(const QStringList& args) {
    return RunProgram(qEnvironmentVariable("WINWARDEN_DB_TOOL"), args);
}

// RFC 4180 records: quoted fields with doubled quotes, CRLF after each.
QList<QStringList> ReadCsv(const QString& text) {
    static const QRegularExpression field(u"(?:^|,)(?:\"((?:[^\"]|\"\")*)\"|([^,\"]*))"_s);
    QList<QStringList> records;
    for (const QString& line : text.split(u"\r\n"_s, Qt::SkipEmptyParts)) {
        QStringList record;
        for (const QRegularExpressionMatch& m : field.globalMatch(line))
            record << (m.hasCaptured(1) ? m.captured(1).replace(u"\"\""_s, u"\""_s)
                                        : m.captured(2));
        records << record;
    }
    return records;
}

qint64 Ms(const QString& stamp) {
    return QDateTime::fromString(stamp, u"yyyy-MM-dd HH:mm:ss.zzz"_s).toMSecsSinceEpoch();
}

} // namespace

class TestVisitReport final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A month of three users: the CSV holds every visit of the user asked for, fields quoted
    // as the rule export quotes them; a day's report is well-formed (an XML parser reads it
    // without error), self-contained, and its per-site totals equal what the CSV's visits
    // give for that day, a visit across midnight counting its share; a day without visits is
    // an empty report, not an error.
    void theReportAgreesWithTheHistory() {
        TempRuleDb db;
        const QDate first(2026, 2, 1);
        std::vector<VisitRow> rows;
        const QStringList users{u"alice"_s, u"bob"_s, u"carol"_s};
        for (int d = 0; d < 30; ++d) {
            for (int u = 0; u < 3; ++u)
                for (int v = 0; v < 6; ++v) {
                    VisitRow row;
                    row.uid = 1000 + u;
                    row.user = users[u];
                    row.station = u"pc"_s;
                    row.host = u"site%1.test"_s.arg(v % 3);
                    row.title = u"页 \"%1\", <b>&amp;</b>"_s.arg(v);
                    row.url = u"https://"_s + row.host + u"/?a=1,2"_s;
                    row.start = QDateTime(first.addDays(d), QTime(8 + 2 * v + u, 7 * v, 0, v))
                                    .toMSecsSinceEpoch();
                    row.end = row.start + (v + 1) * 600'000 + 123;
                    if (v % 2 == 0)
                        row.frontMs = (v + 1) * 300'000 + 7;
                    row.result = v == 5 ? u"禁止"_s : u"通过"_s;
                    row.rule = v == 5 ? u"网站 site2.test"_s : QString();
                    rows.push_back(row);
                }
            VisitRow night = rows.back();
            night.start = QDateTime(first.addDays(d), QTime(23, 50)).toMSecsSinceEpoch();
            night.end = night.start + 30 * 60'000;
            night.frontMs = 1'200'000;
            night.result = u"通过"_s;
            night.rule.clear();
            rows.push_back(night);
        }
        {
            RuleStore store;
            store.Open(db.path());
            std::vector<VisitRow*> batch;
            for (VisitRow& row : rows)
                batch.push_back(&row);
            VisitStore(store).Write(batch);
        }

        QTemporaryDir dir;
        const QString csv = dir.filePath(u"h.csv"_s), html = dir.filePath(u"r.html"_s);
        QCOMPARE(RunTool({u"history"_s, u"--user"_s, u"carol"_s, u"--since"_s, u"2026-02-10"_s,
                          u"--until"_s, u"2026-02-11"_s, csv, db.path()})
                     .code,
                 0);
        const QList<QStringList> records = ReadCsv(QString::fromUtf8(ReadFile(csv)));
        QCOMPARE(records.value(0).join(u','),
                 u"用户,用户编号,站点,开始,结束,在前（秒）,窗口名称,主机,网址,结果,规则"_s);
        // Two days of six, and the nights that touch them: that of the 9th runs into the 10th.
        QCOMPARE(records.size(), 1 + 2 * 7 + 1);
        std::vector<VisitRow> fromCsv;
        for (const QStringList& record : records.mid(1)) {
            QCOMPARE(record.size(), 11);
            QCOMPARE(record[0], u"carol"_s);
            VisitRow row;
            row.host = record[7];
            row.start = Ms(record[3]);
            row.end = Ms(record[4]);
            if (!record[5].isEmpty())
                row.frontMs = qint64(record[5].toDouble() * 1000 + 0.5);
            row.result = record[9];
            QVERIFY(record[6].startsWith(u"页 \""_s) && record[6].endsWith(u", <b>&amp;</b>"_s));
            fromCsv.push_back(row);
        }

        const QDate day(2026, 2, 10);
        const RunOutcome said = RunTool(
            {u"report"_s, u"--day"_s, u"2026-02-10"_s, u"--user"_s, u"carol"_s, html, db.path()});
        QVERIFY2(said.code == 0 && said.out.contains(u"8 次访问"_s), qPrintable(said.err));
        const QByteArray page = ReadFile(html);
        QXmlStreamReader reader(page);
        QMap<QString, qint64> reported;
        int svgs = 0, blockedRows = 0;
        bool inBlocked = false;
        while (!reader.atEnd()) {
            reader.readNext();
            if (reader.isStartElement() && reader.name() == "svg"_L1)
                ++svgs;
            if (reader.isStartElement() && reader.attributes().hasAttribute(u"data-ms"_s))
                reported[reader.attributes().value(u"data-host"_s).toString()] =
                    reader.attributes().value(u"data-ms"_s).toLongLong();
            if (reader.isStartElement() && reader.name() == "script"_L1)
                QFAIL("a report runs no script");
            if (reader.isCharacters() && reader.text() == u"被禁止的尝试"_s)
                inBlocked = true;
            if (reader.isCharacters() && reader.text() == u"网站 site2.test"_s && inBlocked)
                ++blockedRows;
        }
        QVERIFY2(!reader.hasError(), qPrintable(reader.errorString()));
        QCOMPARE(svgs, 2);
        QCOMPARE(blockedRows, 1);
        for (const char* fetch : {"src=", "href=", "<link", "url("})
            QVERIFY2(!page.contains(fetch), fetch); // nothing is fetched
        QMap<QString, qint64> expected;
        for (const auto& [host, ms] : SummarizeDay(fromCsv, day).perSite)
            expected[host] = ms;
        QCOMPARE(reported, expected);
        const auto [begin, end] = DayBounds(day);
        qint64 night = 0; // the night of the 9th gave the 10th its last 20 minutes
        for (const VisitRow& row : fromCsv)
            if (row.start < begin)
                night += SpentWithin(row, begin, end);
        QCOMPARE(night, qint64(800'000)); // 20 of its 30 minutes: two thirds of 20 in front

        QCOMPARE(RunTool({u"report"_s, u"--day"_s, u"2027-01-01"_s, html, db.path()}).code, 0);
        QVERIFY(ReadFile(html).contains("这一天没有访问记录"));
        QCOMPARE(RunTool({u"report"_s, html, db.path()}).code, 2); // a report names its day
    }

    // On a server: the table comes with the database; open visits are updated in place, many
    // to a statement; a title with U+0000 (which a server's text cannot hold) or 10,000
    // characters long is stored; a day's query finds a visit begun days before; retention
    // deletes what ended before the bound alone; the report reads the same.
    void theRecordOnAServer() {
        PgServer server;
        PgRuleDb db(server);
        RuleStore store;
        store.Open(db.name());
        VisitStore visits(store);
        QVERIFY(visits.HasTable());
        const QDate day(2026, 5, 4);
        const qint64 noon = QDateTime(day, QTime(12, 0)).toMSecsSinceEpoch();
        std::vector<VisitRow> rows(120);
        std::vector<VisitRow*> batch;
        for (int i = 0; i < int(rows.size()); ++i) {
            VisitRow& row = rows[size_t(i)];
            row.uid = 1000 + i % 2;
            row.user = i % 2 ? u"bob"_s : u"alice"_s;
            row.title = i == 0 ? u"a\0b"_s : i == 1 ? QString(10'000, u'长') : u"页 %1"_s.arg(i);
            row.host = u"h%1.test"_s.arg(i % 4);
            row.start = noon + i * 1000;
            row.end = row.start;
            row.result = u"通过"_s;
            batch.push_back(&row);
        }
        rows[2].start = noon - 3 * VisitStore::kDayMs; // a tab left open for days
        rows[2].end = rows[2].start;
        visits.Write(batch);
        for (VisitRow& row : rows) {
            QVERIFY(row.id > 0);
            row.end += 60'000;
            row.frontMs = 30'000;
        }
        rows[2].end = noon + 60'000;
        visits.Write(batch); // every one an update now
        const auto [begin, end] = DayBounds(day);
        const std::vector<VisitRow> read = visits.List({1000, {}, begin, end});
        QCOMPARE(read.size(), size_t(60));
        QCOMPARE(read[0].id, rows[2].id);
        QCOMPARE(read[0].end - read[0].start, 3 * VisitStore::kDayMs + 60'000);
        QCOMPARE(read[1].title, u"ab"_s);
        for (const VisitRow& row : read)
            QCOMPARE(row.frontMs, std::optional<qint64>(30'000));
        QCOMPARE(visits.List({{}, u"bob"_s}).front().title, QString(10'000, u'长'));
        QCOMPARE(visits.DeleteEndedBefore(noon + 60'001), 2);
        QCOMPARE(visits.List({}).size(), size_t(118));
    }
};

QTEST_GUILESS_MAIN(TestVisitReport)
#include "test_visitreport.moc"
