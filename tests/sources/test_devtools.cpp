// Which browsers are watched, what their target lists say, and finding and closing a tab. The
// escaped and stand-in titles are the forms Chromium 156 really reports.
#include "platform/devtoolsendpoints.h"
#include "platform/targetlist.h"
#include "platform/toplevelwindows.h"
#include "res/texts.h"
#include "tests/support/chromium.h"
#include "tests/support/fakeendpoint.h"

#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace winwarden {

class DevToolsTest final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void titlesAreUnescapedOnceAndUrlStandInsAreEmpty_data() {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("title");
        const QString p = u"http://h.test/p"_s;
        const QString none;
        QTest::newRow("all five") << u"&#39;&amp;&lt;&gt;&quot;"_s << p << u"'&<>\""_s;
        QTest::newRow("own entities") << u"&amp;amp;&amp;#39;"_s << p << u"&amp;&#39;"_s;
        QTest::newRow("not escaped") << u"&#40;&AMP;&amp &lt &"_s << p << u"&#40;&AMP;&amp &lt &"_s;
        QTest::newRow("adjacent") << u"&&lt;;&gt;&amp;&"_s << p << u"&<;>&&"_s;
        QTest::newRow("http path") << u"h.test:87/e"_s << u"http://h.test:87/e"_s << none;
        QTest::newRow("bare host") << u"h.test:87"_s << u"http://h.test:87/"_s << none;
        QTest::newRow("user info") << u"h.test/e"_s << u"http://u:p@h.test/e"_s << none;
        QTest::newRow("escapes") << u"h/测 ?q= x"_s << u"http://h/%E6%B5%8B%20?q=%20x"_s << none;
        QTest::newRow("data") << u"data:,&lt;b&gt;%2F"_s << u"data:,%3Cb%3E%2F"_s << none;
        QTest::newRow("blank") << u"about:blank"_s << u"about:blank"_s << none;
        QTest::newRow("https") << u"https://h.test"_s << u"https://h.test/"_s << none;
        QTest::newRow("file") << u"page.html"_s << u"file:///tmp/page.html"_s << none;
        QTest::newRow("like the host") << u"h.test"_s << u"https://h.test/"_s << u"h.test"_s;
    }

    void titlesAreUnescapedOnceAndUrlStandInsAreEmpty() {
        QFETCH(QString, raw);
        QFETCH(QString, url);
        QFETCH(QString, title);
        const QJsonObject target{{u"type"_s, u"page"_s}, {u"title"_s, raw}, {u"url"_s, url}};
        const auto targets = DecodeTargetList(QJsonDocument(QJsonArray{target}).toJson());
        QVERIFY(targets && targets->size() == 1);
        QCOMPARE(targets->front(), (DevToolsTarget{{}, u"page"_s, title, url}));
    }

    void onlyAJsonListIsATargetList() {
        for (const QByteArray& answer :
             {""_ba, "<html>hello</html>"_ba, "{\"id\":\"A\"}"_ba, "[{\"id\":\"A\",\"ty"_ba,
              QByteArray("\xff\xfe\x00[]", 5), QByteArray(100000, '[') + QByteArray(100000, ']')}) {
            QVERIFY2(!DecodeTargetList(answer), answer.left(20).constData());
        }
        const auto targets = DecodeTargetList(
            R"([1, "page", null, [], {"id": 5, "type": ["page"], "title": {}}, {"type": "page"}])");
        QVERIFY(targets);
        QCOMPARE(*targets, (std::vector<DevToolsTarget>{{}, {{}, u"page"_s, {}, {}}}));
    }

    void onlyLoopbackHostsAndPortsAreWatched() {
        const QStringList standard{u"127.0.0.1:9222"_s};
        for (const QString& value : {QString(), u" "_s, u"127.0.0.1:9222,, 127.0.0.1:9222 ,"_s}) {
            QCOMPARE(ParseDevToolsEndpoints(value).endpoints, standard);
        }
        const QString loopback =
            u"127.0.0.1:9222,localhost:9333,[::1]:9444,127.8.9.10:1,LocalHost:65535"_s;
        QCOMPARE(ParseDevToolsEndpoints(loopback).endpoints, loopback.split(u','));
        const QString refused =
            u"10.0.0.1:9222,example.com:9222,127.1:9222,[::ffff:127.0.0.1]:9222,::1:9222,0.0.0.0:9222,128.0.0.1:9222,127.0.0.1:0,127.0.0.1:65536,127.0.0.1:http,127.0.0.1:,localhost:9222:1"_s;
        const DevToolsEndpoints parsed = ParseDevToolsEndpoints(refused + u",127.0.0.1:9223"_s);
        QCOMPARE(parsed.endpoints, QStringList{u"127.0.0.1:9223"_s});
        QStringList entries;
        for (const RefusedEndpoint& entry : parsed.refused) {
            entries.append(entry.reason.isEmpty() ? QString() : entry.entry);
        }
        QCOMPARE(entries, refused.split(u','));
    }

    // Port files are read afresh on every listing; a refused entry is reported only once.
    void activePortFilesAndRefusals() {
        const auto write = [](const QString& path, const QByteArray& content) {
            QFile file(path);
            return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
        };
        QTemporaryDir dir;
        const QString good = dir.filePath(u"DevToolsActivePort"_s);
        const QString bad = dir.filePath(u"NotAPort"_s);
        QVERIFY(write(good, "41234\n/devtools/browser/x\n") && write(bad, "x\n41234\n"));
        qputenv("WINWARDEN_DEVTOOLS",
                u"10.9.9.9:1,127.0.0.1:9,%1,%2,/no/port"_s.arg(bad, good).toUtf8());
        QFile log(dir.filePath(u"log"_s));
        QVERIFY(log.open(QIODevice::ReadWrite));
        const int saved = ::dup(STDERR_FILENO);
        ::dup2(log.handle(), STDERR_FILENO);
        const QStringList first = WatchedDevToolsEndpoints();
        QVERIFY(write(good, "41235\n"));
        const QStringList second = WatchedDevToolsEndpoints();
        ::dup2(saved, STDERR_FILENO);
        ::close(saved);
        QCOMPARE(first, QStringList({u"127.0.0.1:9"_s, u"127.0.0.1:41234"_s}));
        QCOMPARE(second, QStringList({u"127.0.0.1:9"_s, u"127.0.0.1:41235"_s}));
        QVERIFY(log.seek(0));
        QCOMPARE(log.readAll().count("WINWARDEN_DEVTOOLS entry"), 3); // one for each refused
    }

    void aTabIsFoundByItsExactCaptionAndClosed() {
        HeadlessChromium chromium;
        QVERIFY2(chromium.Start(), qPrintable(chromium.Error()));
        qputenv("WINWARDEN_DEVTOOLS", chromium.Endpoint().toUtf8());
        const QString& suffix = text::kCaptionSuffix;
        const QString title = u"O'B & <S> \"q\""_s;
        const QString blocked = chromium.OpenTab(HtmlPageUrl(title));
        const QString other = chromium.OpenTab(HtmlPageUrl(u"A & B"_s));
        QVERIFY(chromium.WaitForTitle(blocked, u"O&#39;B &amp; &lt;S&gt; &quot;q&quot;"_s));
        QVERIFY(chromium.WaitForTitle(other, u"A &amp; B"_s));
        const std::unique_ptr<TopLevelWindows> windows = MakeDevToolsTopLevelWindows();
        // The about:blank tab has no title: the bare suffix must not find it.
        for (const QString& caption :
             {u"A & B"_s, u"a & b"_s + suffix, u"A &amp; B"_s + suffix, suffix}) {
            QVERIFY2(!windows->FindByCaption(caption), qPrintable(caption));
        }
        const auto found = windows->FindByCaption(title + suffix);
        QVERIFY(found && *found == (WindowHandle{chromium.Endpoint(), blocked}));
        windows->RequestClose(*found);
        QVERIFY(chromium.WaitUntilGone(blocked, 3000));
        QVERIFY(!windows->FindByCaption(title + suffix));
        windows->RequestClose(*found); // gone already: harmless, and no other tab goes
        QCOMPARE(windows->FindByCaption(u"A & B"_s + suffix)->id, other);
    }

    // The id comes from the browser's answer; it must stay one segment of the close request.
    void aStrangeTargetIdCannotReachAnotherRequest() {
        const FakeEndpoint fake(FakeEndpoint::Answer(200, {}));
        MakeDevToolsTopLevelWindows()->RequestClose({fake.Endpoint(), u"x/../y?z"_s});
        QCOMPARE(fake.Requests(),
                 std::vector<QByteArray>{"GET /json/close/x%2F..%2Fy%3Fz HTTP/1.1"});
    }
};

} // namespace winwarden

QTEST_GUILESS_MAIN(winwarden::DevToolsTest)
#include "test_devtools.moc"
