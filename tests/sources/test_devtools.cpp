// Which browsers are watched, what their target lists say (in the forms Chromium 156 reports),
// and closing a tab (a real Chromium's list: e2e.test_e2e_guard).
#include "sources/devtools/devtoolsendpoints.h"
#include "sources/devtools/devtoolssource.h"
#include "sources/devtools/targetlist.h"
#include "survey/browsersnapshot.h"
#include "survey/shellwindows.h"
#include "tests/support/fakeendpoint.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace winwarden {

namespace {

const QByteArray kList = R"([{"type":"page","title":"A &amp;amp; B","url":"a"},{"type":"x"}])";

// "title|url" of each HTML document of the pass, "-" for any other window.
QStringList Entries(const BrowserPass& pass) {
    QStringList entries;
    for (const BrowserWindow& window : pass.windows)
        entries.append(window.kind == BrowserWindow::Kind::HtmlDocument
                           ? window.title + u'|' + window.url
                           : u"-"_s);
    return entries;
}

} // namespace

class DevToolsTest final : public QObject {
    Q_OBJECT

    const FakeEndpoint m_first{FakeEndpoint::Answer(200, kList)};
    const FakeEndpoint m_second{FakeEndpoint::Answer(200, R"([{"type":"page","title":"2nd"}])")};
    const FakeEndpoint m_garbage{FakeEndpoint::Answer(200, "<html>no list</html>\x01\xff")};
    const FakeEndpoint m_late{FakeEndpoint::Answer(200, kList), 2500};
    const FakeEndpoint m_redirect{FakeEndpoint::Answer(
        302, {}, "Location: http://" + m_first.Endpoint().toLatin1() + "/json/list\r\n")};

private Q_SLOTS:
    // {title as listed, URL, title read}: own entities are unescaped once; a title that is
    // only the URL as the browser shows it is no title. Only a JSON list is a list, but odd
    // JSON a browser may send is read: a byte-order mark, a lone surrogate, a raw control
    // character, a number beyond 64 bits.
    void targetListsAreReadAsTheBrowserMeansThem() {
        const QString p = u"http://h.test/p"_s;
        for (const auto& [raw, url, title] : QList<std::array<QString, 3>>{
                 {u"&#39;&amp;&lt;&gt;&quot;"_s, p, u"'&<>\""_s},
                 {u"&amp;amp;&amp;#39;"_s, p, u"&amp;&#39;"_s},
                 {u"&#40;&AMP;&amp &lt &"_s, p, u"&#40;&AMP;&amp &lt &"_s},
                 {p, p, {}},
                 {u"h.test:87/e"_s, u"http://u:p@h.test:87/e"_s, {}},
                 {u"h/测 ?q= x"_s, u"http://h/%E6%B5%8B%20?q=%20x"_s, {}},
                 {u"h.test"_s, u"https://h.test/"_s, u"h.test"_s}}) {
            const QJsonObject target{{u"type"_s, u"page"_s}, {u"title"_s, raw}, {u"url"_s, url}};
            const auto read = DecodeTargetList(QJsonDocument(QJsonArray{target}).toJson());
            QVERIFY2(read && read->size() == 1 &&
                         read->front() == (DevToolsTarget{{}, u"page"_s, title, url}),
                     qPrintable(raw));
        }
        for (const QByteArray& answer : {"{\"id\":\"A\"}"_ba, "[{\"id\":\"A\",\"ty"_ba,
                                         QByteArray(100000, '[') + QByteArray(100000, ']')})
            QVERIFY2(!DecodeTargetList(answer), answer.left(20).constData());
        for (const QByteArray& odd :
             {"\xef\xbb\xbf[{\"id\":\"A\"}]"_ba, "[{\"id\":\"A\",\"title\":\"\\ud800\x01\"}]"_ba,
              "[123456789012345678901234, {\"type\":[], \"id\":\"A\"}]"_ba}) {
            const auto read = DecodeTargetList(odd);
            QVERIFY2(read && read->back().id == u"A"_s, odd.constData());
        }
    }

    // Only loopback hosts are watched. Port files are read afresh on every listing. A FIFO is
    // refused at once: opening it to read would block until someone writes to it.
    void activePortFilesAndRefusals() {
        const auto write = [](const QString& path, const QByteArray& content) {
            QFile file(path);
            return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
        };
        QTemporaryDir dir;
        const QString good = dir.filePath(u"DevToolsActivePort"_s);
        const QString bad = dir.filePath(u"NotAPort"_s),
                      fifo = dir.filePath(u"fifo/DevToolsActivePort"_s);
        QVERIFY(write(good, "41234\n/devtools/browser/x\n") && write(bad, "x\n41234\n"));
        QVERIFY(QDir(dir.path()).mkdir(u"fifo"_s) &&
                ::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        qputenv(
            "WINWARDEN_DEVTOOLS",
            u"10.9.9.9:1,example.com:1,[::ffff:127.0.0.1]:1,0.0.0.0:1,"
            "127.0.0.1:0,127.0.0.1:9,[::1]:8,,127.0.0.1:9,%1,%2,/no/port,%3"_s.arg(bad, good, fifo)
                .toUtf8());
        QCOMPARE(WatchedDevToolsEndpoints(),
                 QStringList({u"127.0.0.1:9"_s, u"[::1]:8"_s, u"127.0.0.1:41234"_s}));
        write(good, "41235\n");
        QCOMPARE(WatchedDevToolsEndpoints(),
                 QStringList({u"127.0.0.1:9"_s, u"[::1]:8"_s, u"127.0.0.1:41235"_s}));
    }

    // The id comes from the browser's answer; it must stay one segment of the close request.
    void aStrangeTargetIdCannotReachAnotherRequest() {
        const FakeEndpoint fake(FakeEndpoint::Answer(200, {}));
        const std::unique_ptr<BrowserSource> source = MakeDevToolsSource();
        for (const QString& id : {u"x/../y?z"_s, u"."_s, u".."_s})
            source->RequestClose({-1, fake.Endpoint(), id});
        QCOMPARE(fake.Requests(), (std::vector<QByteArray>{
                                      "GET /json/close/x%2F%2E%2E%2Fy%3Fz HTTP/1.1",
                                      "GET /json/close/%2E HTTP/1.1",
                                      "GET /json/close/%2E%2E HTTP/1.1",
                                  }));
    }

    // Every answer but the expected one would give windows if the source took it; each named
    // endpoint counts as a browser watched, whether it answers or not.
    void browsersAreReadInOrderAndThoseThatCannotBeReadAreSkipped() {
        const QString all = u"%1,%2,%3,%4"_s.arg(m_first.Endpoint(), FakeEndpoint::ClosedEndpoint(),
                                                 m_garbage.Endpoint(), m_second.Endpoint());
        qputenv("http_proxy", "http://127.0.0.1:1"); // loopback never goes through a proxy
        for (const auto& [endpoints, entries] : QList<std::pair<QString, QStringList>>{
                 {FakeEndpoint::ClosedEndpoint(), {}}, // nothing listening
                 {m_late.Endpoint(), {}},              // answers after the time-out
                 {m_garbage.Endpoint(), {}},
                 {m_redirect.Endpoint(), {}},
                 {all, {u"A &amp; B|a"_s, u"-"_s, u"2nd|"_s}}}) {
            qputenv("WINWARDEN_DEVTOOLS", endpoints.toUtf8());
            const BrowserPass pass = MakeDevToolsSource()->TakePass();
            QCOMPARE(Entries(pass), entries);
            QCOMPARE(pass.Read(), !entries.isEmpty());
            QCOMPARE(pass.browsersWatched, endpoints.count(u',') + 1);
        }
        qunsetenv("http_proxy");
    }

    // A page controls the addresses of its frames: a list of several megabytes is still read
    // (each absurd text cut on its own: fuzz_targetlist; no count of other windows hides a page
    // either: engine.test_monitorengine).
    void hugeAndLongListsStillShowTheirPages() {
        const QString fragment(1200 * 1024, u'f');
        const QByteArray page = R"({"id":"P","type":"page","title":"Last","url":"http://p/"})";
        QByteArray frames = "[";
        for (const QString& id : {u"F0"_s, u"F1"_s})
            frames += uR"({"id":"%1","type":"iframe","url":"%2","devtoolsFrontendUrl":"%2"},)"_s
                          .arg(id, u"http://localhost:1/"_s + id + u'#' + fragment)
                          .toLatin1();
        const FakeEndpoint huge(FakeEndpoint::Answer(200, frames + page + ']'));
        qputenv("WINWARDEN_DEVTOOLS", huge.Endpoint().toUtf8());
        const BrowserPass pass = MakeDevToolsSource()->TakePass();
        BrowserSnapshot snapshot;
        TakeBrowserSnapshot(ShellWindows(pass), snapshot);
        QCOMPARE(snapshot.count, 3);
        QCOMPARE(snapshot.titles[2], u"Last"_s);
    }
};

} // namespace winwarden

QTEST_GUILESS_MAIN(winwarden::DevToolsTest)
#include "test_devtools.moc"
