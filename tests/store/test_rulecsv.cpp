// Rules to CSV and back: every field byte for byte, NULL apart from the empty text, and text
// that is no such table refused with the place it goes wrong.
#include "store/rulecsv.h"

#include <QTest>

using namespace winwarden;
using namespace Qt::StringLiterals;

class TestRuleCsv final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void roundTripKeepsEveryField() {
        const std::vector<Rule> rules{
            {u"O'Brien, \"新闻\"\r\n第二行"_s, u"禁止"_s, u"http://a.test/?q=1,2"_s},
            {u"哨兵 😀👍🏽"_s, u"通过"_s, u""_s},
            {u""_s, std::nullopt, std::nullopt},
            {std::nullopt, u"\""_s, u"\n"_s},
        };
        const QByteArray csv = WriteRulesCsv(rules);
        QVERIFY(csv.startsWith("窗口名称,是否禁止,网址\r\n"));
        QString error;
        const auto back = ReadRulesCsv(csv, &error);
        QVERIFY2(back.has_value(), qPrintable(error));
        QVERIFY(*back == rules);
        // A spreadsheet's byte-order mark and bare LF line ends are read too.
        QCOMPARE(ReadRulesCsv("\xEF\xBB\xBF窗口名称,是否禁止,网址\na,禁止,\n", &error)->size(), 1u);
    }

    void malformedTextIsRefused_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("where");
        QTest::newRow("header") << QByteArray("name,flag,url\r\n") << u"第 1 行"_s;
        QTest::newRow("open quote")
            << QByteArray("窗口名称,是否禁止,网址\r\n\"a,b,c\r\n") << u"第 2 行"_s;
        QTest::newRow("fields") << QByteArray("窗口名称,是否禁止,网址\r\na,b\r\n")
                                << u"第 1 条规则"_s;
        QTest::newRow("stray quote")
            << QByteArray("窗口名称,是否禁止,网址\r\na\"b,c,d\r\n") << u"第 2 行"_s;
        QTest::newRow("not utf-8")
            << QByteArray("窗口名称,是否禁止,网址\r\n\xff,b,c\r\n") << u"第 1 条规则"_s;
    }
    void malformedTextIsRefused() {
        QFETCH(QByteArray, text);
        QFETCH(QString, where);
        QString error;
        QVERIFY(!ReadRulesCsv(text, &error));
        QVERIFY2(error.startsWith(where), qPrintable(error));
    }
};

QTEST_APPLESS_MAIN(TestRuleCsv)
#include "test_rulecsv.moc"
