// Snapshot passes over a collection the test controls, fake browsers and a real Chromium.
#include "survey/browsersnapshot.h"
#include "survey/shellwindows.h"
#include "tests/support/chromium.h"
#include "tests/support/fakeendpoint.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace winwarden {

namespace {

using Kind = ShellWindows::Item::Kind;

const QByteArray kList = R"([{"type":"page","title":"A &amp;amp; B","url":"a"},{"type":"x"}])";

class FakeShellWindows final : public ShellWindows {
public:
    bool creatable = true;
    std::optional<int> count; // default: as many as `items`; any beyond are pages
    std::vector<Item> items;
    int asked = 0;

    bool Create() override { return creatable; }
    int Count() override { return count.value_or(static_cast<int>(items.size())); }
    Item ItemAt(int position) override {
        ++asked;
        const auto index = static_cast<size_t>(position);
        return index < items.size()
                   ? items[index]
                   : Item{Kind::HtmlDocument, u"t%1"_s.arg(position), u"u%1"_s.arg(position)};
    }
};

// "title|url" of the first `count` positions.
QStringList Entries(const BrowserSnapshot& snapshot, int count) {
    QStringList entries;
    for (size_t index = 0; index < static_cast<size_t>(count); ++index) {
        entries.append(snapshot.titles[index] + u'|' + snapshot.urls[index]);
    }
    return entries;
}

} // namespace

class BrowserSnapshotTest final : public QObject {
    Q_OBJECT

    BrowserSnapshot m_snapshot;
    const FakeEndpoint m_first{FakeEndpoint::Answer(200, kList)};
    const FakeEndpoint m_second{FakeEndpoint::Answer(200, R"([{"type":"page","title":"2nd"}])")};
    const FakeEndpoint m_garbage{FakeEndpoint::Answer(200, "<html>no list</html>\x01\xff")};
    const FakeEndpoint m_late{FakeEndpoint::Answer(200, kList), 2500};
    const FakeEndpoint m_huge{
        FakeEndpoint::Answer(200, QByteArray(kList).insert(1, QByteArray(50 << 20, ' ')))};
    const FakeEndpoint m_redirect{FakeEndpoint::Answer(
        302, {}, "Location: http://" + m_first.Endpoint().toLatin1() + "/json/list\r\n")};
    const FakeEndpoint m_missing{FakeEndpoint::Answer(404, kList)};

    static ShellWindows::Item Page(const QString& t) { return {Kind::HtmlDocument, t, t + u'?'}; }
    static ShellWindows::Item Other(Kind kind) { return {kind, u"x"_s, u"x"_s}; }
    static void MarkOld(BrowserSnapshot& s) { s.titles.fill(u"old"_s), s.urls.fill(u"old"_s); }

private Q_SLOTS:
    void init() {
        MarkOld(m_snapshot);
        m_snapshot.count = 9;
    }

    void passesOverAChangingCollection() {
        FakeShellWindows windows;
        const QString old = u"old|old"_s;
        windows.items = {Other(Kind::Missing), Page(u"A"_s), Page({}), Other(Kind::NoHtmlDocument),
                         Other(Kind::NotBrowser)};
        TakeBrowserSnapshot(windows, m_snapshot);
        QCOMPARE(m_snapshot.count, 5);
        QCOMPARE(Entries(m_snapshot, 6), QStringList({old, u"A|A?"_s, u"|?"_s, old, old, old}));

        windows.items.resize(2); // shrinks
        TakeBrowserSnapshot(windows, m_snapshot);
        QCOMPARE(m_snapshot.count, 2);
        QCOMPARE(Entries(m_snapshot, 3), QStringList({old, u"A|A?"_s, u"|?"_s}));
    }

    void unreadableEmptyAndOversizedCollections_data() {
        QTest::addColumn<bool>("creatable");
        QTest::addColumn<int>("reported");
        QTest::addColumn<int>("count");
        QTest::newRow("cannot be created") << false << 3 << 0;
        QTest::newRow("no windows") << true << 0 << 0;
        QTest::newRow("negative count") << true << -5 << 0;
        QTest::newRow("more than the capacity") << true << 5000 << BrowserSnapshot::kCapacity;
    }

    void unreadableEmptyAndOversizedCollections() {
        QFETCH(bool, creatable);
        QFETCH(int, reported);
        QFETCH(int, count);
        FakeShellWindows windows;
        windows.creatable = creatable;
        windows.count = reported;
        TakeBrowserSnapshot(windows, m_snapshot);
        QCOMPARE(m_snapshot.count, count);
        QCOMPARE(windows.asked, count); // none beyond the capacity
        QCOMPARE(m_snapshot.titles.front(), count ? u"t0"_s : u"old"_s);
        QCOMPARE(m_snapshot.urls.back(), count ? u"u999"_s : u"old"_s);
    }

    // Every answer but the expected one would give windows if the collection took it.
    void browsersAreReadInOrderAndThoseThatCannotBeReadAreSkipped_data() {
        QTest::addColumn<QString>("endpoints");
        QTest::addColumn<QStringList>("entries");
        QTest::newRow("nothing listening") << FakeEndpoint::ClosedEndpoint() << QStringList();
        QTest::newRow("answers after the time-out") << m_late.Endpoint() << QStringList();
        QTest::newRow("garbage") << m_garbage.Endpoint() << QStringList();
        QTest::newRow("50 MiB") << m_huge.Endpoint() << QStringList();
        QTest::newRow("redirect") << m_redirect.Endpoint() << QStringList();
        QTest::newRow("404") << m_missing.Endpoint() << QStringList();
        QTest::newRow("not a loopback host") << u"10.0.0.1:9222"_s << QStringList();
        const QString all = u"%1,%2,%3,%4"_s.arg(m_first.Endpoint(), FakeEndpoint::ClosedEndpoint(),
                                                 m_garbage.Endpoint(), m_second.Endpoint());
        QTest::newRow("several") << all << QStringList{u"A &amp; B|a"_s, u"old|old"_s, u"2nd|"_s};
    }

    void browsersAreReadInOrderAndThoseThatCannotBeReadAreSkipped() {
        QFETCH(QString, endpoints);
        QFETCH(QStringList, entries);
        qputenv("WINWARDEN_DEVTOOLS", endpoints.toUtf8());
        qputenv("http_proxy", "http://127.0.0.1:1"); // loopback never goes through a proxy
        TakeBrowserSnapshot(*MakeDevToolsShellWindows(), m_snapshot);
        qunsetenv("http_proxy");
        QCOMPARE(Entries(m_snapshot, m_snapshot.count), entries);
    }

    void aRealBrowsersPagesGiveTheirExactTitlesAndUrlsAndOtherTargetsNoEntry() {
        HeadlessChromium chromium;
        QVERIFY2(chromium.Start(), qPrintable(chromium.Error()));
        qputenv("WINWARDEN_DEVTOOLS", chromium.Endpoint().toUtf8());
        QStringList pages;
        for (const QString& title : {u"O'Brien & <Sons> \"quoted\""_s, u"测试页 100%"_s, QString(),
                                     u"Tom &amp; Jerry &#39;s"_s}) {
            QVERIFY(!chromium.OpenTab(HtmlPageUrl(title)).isEmpty());
            pages.append(title + u'|' + HtmlPageUrl(title));
        }
        QStringList entries;
        BrowserSnapshot& snapshot = TheBrowserSnapshot();
        const bool loaded = QTest::qWaitFor([&] { // while the pages load
            MarkOld(snapshot);
            TakeBrowserSnapshot();
            entries = Entries(snapshot, snapshot.count);
            return std::ranges::all_of(pages,
                                       [&](const QString& p) { return entries.contains(p); });
        });
        QVERIFY2(loaded, qPrintable(entries.join(u'\n')));
        const QJsonArray targets = chromium.Targets().value_or(QJsonArray());
        const auto others = std::count_if(targets.begin(), targets.end(), [](const QJsonValue& t) {
            return t[u"type"].toString() != u"page"_s;
        });
        QVERIFY2(others > 0, "the browser lists no target other than its pages");
        QCOMPARE(entries.size(), targets.size());
        QCOMPARE(entries.count(u"old|old"_s), others);
    }
};

} // namespace winwarden

QTEST_GUILESS_MAIN(winwarden::BrowserSnapshotTest)
#include "test_browsersnapshot.moc"
