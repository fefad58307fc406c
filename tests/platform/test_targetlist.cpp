// Decoding a browser's target list. The escaped and stand-in titles are the forms Chromium
// 156 really reports.
#include "platform/targetlist.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace Qt::StringLiterals;

namespace winwarden {

class TargetListTest final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void titlesAreUnescapedOnce_data() {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<QString>("title");
        QTest::newRow("all five") << u"O&#39;Brien &amp; &lt;Sons&gt; &quot;quoted&quot;"_s
                                  << u"O'Brien & <Sons> \"quoted\""_s;
        QTest::newRow("an entity in the page's own title")
            << u"Tom &amp;amp; Jerry &amp;#39;s"_s << u"Tom &amp; Jerry &#39;s"_s;
        QTest::newRow("not escaped by the browser")
            << u"&nbsp; &#40; &AMP; &amp &lt &"_s << u"&nbsp; &#40; &AMP; &amp &lt &"_s;
        QTest::newRow("adjacent") << u"&&lt;;&gt;&amp;&"_s << u"&<;>&&"_s;
        QTest::newRow("not latin") << u"测试页 100%"_s << u"测试页 100%"_s;
    }

    void titlesAreUnescapedOnce() {
        QFETCH(QString, raw);
        QFETCH(QString, title);
        QCOMPARE(UnescapeTargetTitle(raw), title);
    }

    void anUntitledPageHasAnEmptyTitle_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("raw");
        QTest::addColumn<QString>("title");
        QTest::newRow("http path")
            << u"http://127.0.0.1:8765/empty.html"_s << u"127.0.0.1:8765/empty.html"_s << QString();
        QTest::newRow("bare host")
            << u"http://127.0.0.1:8765/"_s << u"127.0.0.1:8765"_s << QString();

        QTest::newRow("user info") << u"http://u:p@127.0.0.1:8765/empty.html"_s
                                   << u"127.0.0.1:8765/empty.html"_s << QString();
        QTest::newRow("escapes") << u"http://127.0.0.1:8765/%E6%B5%8B%20a.html?q=%20x/y"_s
                                 << u"127.0.0.1:8765/测 a.html?q= x/y"_s << QString();
        QTest::newRow("data") << u"data:text/html;charset=utf-8,%3Ctitle%3E%3C%2Ftitle%3E"_s
                              << u"data:text/html;charset=utf-8,&lt;title&gt;&lt;%2Ftitle&gt;"_s
                              << QString();
        QTest::newRow("blank") << u"about:blank"_s << u"about:blank"_s << QString();
        QTest::newRow("https") << u"https://example.com/"_s << u"https://example.com"_s
                               << QString();
        QTest::newRow("file") << u"file:///tmp/page.html"_s << u"page.html"_s << QString();
        QTest::newRow("titled") << u"http://127.0.0.1/"_s << u"Home"_s << u"Home"_s;

        QTest::newRow("https keeps its scheme")
            << u"https://h.test/"_s << u"h.test"_s << u"h.test"_s;
    }

    void anUntitledPageHasAnEmptyTitle() {
        QFETCH(QString, url);
        QFETCH(QString, raw);
        QFETCH(QString, title);
        const QJsonObject target{
            {u"id"_s, u"T"_s}, {u"type"_s, u"page"_s}, {u"title"_s, raw}, {u"url"_s, url}};
        const auto targets = DecodeTargetList(QJsonDocument(QJsonArray{target}).toJson());
        QVERIFY(targets && targets->size() == 1);
        QCOMPARE(targets->front(), (DevToolsTarget{u"T"_s, u"page"_s, title, url}));
    }

    void onlyAJsonListIsATargetList_data() {
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("html") << QByteArray("<html><body>hello</body></html>");
        QTest::newRow("object") << QByteArray("{\"id\":\"A\",\"type\":\"page\"}");
        QTest::newRow("truncated") << QByteArray("[{\"id\":\"A\",\"type\":\"pa");
        QTest::newRow("binary") << QByteArray("\xff\xfe\x00[]", 5);
        QTest::newRow("too deep") << (QByteArray(100000, '[') + QByteArray(100000, ']'));
    }

    void onlyAJsonListIsATargetList() {
        QFETCH(QByteArray, answer);
        QVERIFY(!DecodeTargetList(answer));
    }

    void oddEntriesAreSkippedOrReadAsEmpty() {
        const auto targets = DecodeTargetList(
            "[1, \"page\", null, [], {\"id\": 5, \"type\": [\"page\"], \"title\": {}},"
            "{\"type\": \"page\", \"title\": \"x &amp;lt; y\"}]");
        QVERIFY(targets);
        QCOMPARE(targets->size(), 2u);
        QCOMPARE(targets->at(0), DevToolsTarget());
        QCOMPARE(targets->at(1), (DevToolsTarget{{}, u"page"_s, u"x &lt; y"_s, {}}));
        QCOMPARE(DecodeTargetList("[]")->size(), 0u);
    }
};

} // namespace winwarden

QTEST_GUILESS_MAIN(winwarden::TargetListTest)
#include "test_targetlist.moc"
