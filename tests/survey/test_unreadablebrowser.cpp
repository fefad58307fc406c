// Browsers that cannot be read: every case must end in a failed pass, promptly.
#include "survey/browsersnapshot.h"
#include "survey/shellwindows.h"
#include "tests/support/fakeendpoint.h"

#include <QElapsedTimer>
#include <QTest>

using namespace Qt::StringLiterals;

namespace winwarden {

namespace {

const QByteArray kTwoTargets =
    "[{\"id\":\"A1\",\"type\":\"page\",\"title\":\"Tom &amp;amp; "
    "Jerry\",\"url\":\"http://a.test/\"},"
    "{\"id\":\"B2\",\"type\":\"service_worker\",\"title\":\"sw\",\"url\":\"http://a.test/sw.js\"}]";

// Generous: a hang shows as minutes, a working time-out as about one second.
constexpr qint64 kHangGuardMs = 5000;

} // namespace

class UnreadableBrowserTest final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void aBrowserThatCannotBeReadFailsThePass_data() {
        QTest::addColumn<int>("kind");
        QTest::newRow("nothing listening") << 0;
        QTest::newRow("accepts and never answers") << 1;
        QTest::newRow("answers garbage") << 2;
        QTest::newRow("answers 50 MiB") << 3;
        QTest::newRow("redirects") << 4;
        QTest::newRow("answers 404") << 5;
        QTest::newRow("not a loopback host") << 6;
    }

    void aBrowserThatCannotBeReadFailsThePass() {
        QFETCH(int, kind);
        // Where the redirect points: a browser that would answer.
        FakeEndpoint elsewhere(FakeEndpoint::Answer(200, kTwoTargets));
        std::unique_ptr<FakeEndpoint> server;
        const std::vector<FakeEndpoint::Handler> handlers{
            {},
            FakeEndpoint::NeverAnswer(),
            FakeEndpoint::Answer(200, "<html>no list here</html>\x01\xff"),
            FakeEndpoint::PaddedList(50LL * 1024 * 1024),
            FakeEndpoint::Redirect(u"http://"_s + elsewhere.Endpoint() + u"/json/list"_s),
            FakeEndpoint::Answer(404, kTwoTargets),
        };
        QString endpoint = kind == 0 ? FakeEndpoint::ClosedEndpoint() : u"10.0.0.1:9222"_s;
        if (kind >= 1 && kind <= 5) {
            server = std::make_unique<FakeEndpoint>(handlers[static_cast<size_t>(kind)]);
            endpoint = server->Endpoint();
        }
        qputenv("WINWARDEN_DEVTOOLS", endpoint.toUtf8());

        BrowserSnapshot snapshot;
        snapshot.titles[0] = u"earlier"_s;
        snapshot.count = 3;
        const std::unique_ptr<ShellWindows> windows = MakeDevToolsShellWindows();
        QElapsedTimer elapsed;
        elapsed.start();
        TakeBrowserSnapshot(*windows, snapshot);
        QVERIFY(elapsed.elapsed() < kHangGuardMs);
        QCOMPARE(snapshot.count, 0);
        QCOMPARE(snapshot.titles[0], u"earlier"_s);
        QVERIFY(!windows->Create());
    }

    // One browser that answers is enough; the collection runs endpoint after endpoint.
    void answeringBrowsersAreReadInOrderAndTheOthersSkipped() {
        FakeEndpoint first(FakeEndpoint::Answer(200, kTwoTargets));
        FakeEndpoint broken(FakeEndpoint::Answer(200, "{\"not\":\"a list\"}"));
        FakeEndpoint second(FakeEndpoint::Answer(
            200,
            "[{\"id\":\"C3\",\"type\":\"page\",\"title\":\"second\",\"url\":\"http://b.test/\"}]"));
        qputenv("WINWARDEN_DEVTOOLS", (first.Endpoint() + u","_s + FakeEndpoint::ClosedEndpoint() +
                                       u","_s + broken.Endpoint() + u","_s + second.Endpoint())
                                          .toUtf8());
        const std::unique_ptr<ShellWindows> windows = MakeDevToolsShellWindows();
        QVERIFY(windows->Create());
        QCOMPARE(windows->Count(), 3);
        const ShellWindows::Item page = windows->ItemAt(0);
        QCOMPARE(page.kind, ShellWindows::Item::Kind::HtmlDocument);
        QCOMPARE(page.title, u"Tom &amp; Jerry"_s);
        QCOMPARE(page.url, u"http://a.test/"_s);
        QCOMPARE(windows->ItemAt(1).kind, ShellWindows::Item::Kind::NoHtmlDocument);
        QCOMPARE(windows->ItemAt(2).title, u"second"_s);
        QCOMPARE(windows->ItemAt(3).kind, ShellWindows::Item::Kind::Missing);
        // Loopback traffic never goes through a proxy, whatever the environment says.
        qputenv("http_proxy", "http://127.0.0.1:1");
        QVERIFY(windows->Create());
        qunsetenv("http_proxy");
        QCOMPARE(first.Requests().size(), 2u);
        QCOMPARE(first.Requests().front(), "GET /json/list HTTP/1.1");
    }
};

} // namespace winwarden

QTEST_GUILESS_MAIN(winwarden::UnreadableBrowserTest)
#include "test_unreadablebrowser.moc"
