// One snapshot pass over a collection the test controls.
#include "survey/browsersnapshot.h"
#include "survey/shellwindows.h"

#include <QTest>
#include <optional>

using namespace Qt::StringLiterals;

namespace winwarden {

namespace {

using Kind = ShellWindows::Item::Kind;

ShellWindows::Item Page(const QString& title, const QString& url) {
    return {Kind::HtmlDocument, title, url};
}
ShellWindows::Item Other(Kind kind) {
    return {kind, u"not read"_s, u"not read"_s};
}

class FakeShellWindows final : public ShellWindows {
public:
    bool creatable = true;
    std::vector<Item> items;
    std::optional<int> reportedCount; // default: as many as `items`; any beyond are pages
    const BrowserSnapshot* watched = nullptr;
    std::vector<int> asked;
    std::vector<int> countsSeen;

    bool Create() override { return creatable; }
    int Count() override { return reportedCount.value_or(static_cast<int>(items.size())); }
    Item ItemAt(int position) override {
        asked.push_back(position);
        if (watched != nullptr) {
            countsSeen.push_back(watched->count);
        }
        const auto index = static_cast<size_t>(position);
        return index < items.size() ? items[index]
                                    : Page(u"t%1"_s.arg(position), u"u%1"_s.arg(position));
    }
};

} // namespace

class SnapshotPassTest final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Positions without an HTML document keep what an earlier pass stored there.
    void passesOverAChangingCollection() {
        BrowserSnapshot snapshot;
        FakeShellWindows windows;
        windows.watched = &snapshot;
        snapshot.count = 9;
        windows.items = {Other(Kind::NotBrowser), Page(u"A"_s, u"http://a/"_s),
                         Page({}, u"http://untitled/"_s), Other(Kind::NoHtmlDocument),
                         Other(Kind::Missing)};
        TakeBrowserSnapshot(windows, snapshot);
        QCOMPARE(snapshot.count, 5);
        QCOMPARE(windows.countsSeen, std::vector<int>(5, 0));
        const QStringList titles{snapshot.titles[0], snapshot.titles[1], snapshot.titles[2],
                                 snapshot.titles[3], snapshot.titles[4]};
        QCOMPARE(titles, QStringList({{}, u"A"_s, {}, {}, {}}));
        QCOMPARE(snapshot.urls[1], u"http://a/"_s);
        QCOMPARE(snapshot.urls[2], u"http://untitled/"_s);
        QVERIFY(snapshot.urls[3].isEmpty());

        // Shrinks: position 1 now holds another page, position 0 still no document.
        windows.items = {Other(Kind::NoHtmlDocument), Page(u"B"_s, u"http://b/"_s)};
        TakeBrowserSnapshot(windows, snapshot);
        QCOMPARE(snapshot.count, 2);
        QCOMPARE(snapshot.titles[1], u"B"_s);
        QCOMPARE(snapshot.urls[1], u"http://b/"_s);
        QCOMPARE(snapshot.urls[2], u"http://untitled/"_s); // beyond the count, untouched

        // A page leaves position 1 for a folder: its texts stay there.
        windows.items = {Page(u"C"_s, u"http://c/"_s), Other(Kind::NotBrowser)};
        TakeBrowserSnapshot(windows, snapshot);
        QCOMPARE(snapshot.count, 2);
        QCOMPARE(snapshot.titles[0], u"C"_s);
        QCOMPARE(snapshot.titles[1], u"B"_s);
        QCOMPARE(snapshot.urls[1], u"http://b/"_s);
    }

    void aCollectionThatCannotBeReadOrIsEmptyTouchesNothing_data() {
        QTest::addColumn<bool>("creatable");
        QTest::addColumn<int>("count");
        QTest::newRow("cannot be created") << false << 3;
        QTest::newRow("no windows") << true << 0;
        QTest::newRow("negative count") << true << -5;
    }

    void aCollectionThatCannotBeReadOrIsEmptyTouchesNothing() {
        QFETCH(bool, creatable);
        QFETCH(int, count);
        BrowserSnapshot snapshot;
        snapshot.titles[0] = u"kept"_s;
        snapshot.urls[0] = u"http://kept/"_s;
        snapshot.count = 4;
        FakeShellWindows windows;
        windows.creatable = creatable;
        windows.reportedCount = count;
        TakeBrowserSnapshot(windows, snapshot);
        QCOMPARE(snapshot.count, 0);
        QVERIFY(windows.asked.empty());
        QCOMPARE(snapshot.titles[0], u"kept"_s);
        QCOMPARE(snapshot.urls[0], u"http://kept/"_s);
    }

    // Beyond the capacity nothing is read or written; the sanitizer build checks the bounds.
    void moreWindowsThanTheCapacityAreCapped() {
        BrowserSnapshot snapshot;
        FakeShellWindows windows;
        windows.reportedCount = 5000;
        TakeBrowserSnapshot(windows, snapshot);
        QCOMPARE(snapshot.count, BrowserSnapshot::kCapacity);
        QCOMPARE(windows.asked.size(), static_cast<size_t>(BrowserSnapshot::kCapacity));
        QCOMPARE(windows.asked.back(), BrowserSnapshot::kCapacity - 1);
        QCOMPARE(snapshot.titles.back(), u"t999"_s);
        QCOMPARE(snapshot.urls.back(), u"u999"_s);
    }
};

} // namespace winwarden

QTEST_GUILESS_MAIN(winwarden::SnapshotPassTest)
#include "test_snapshotpass.moc"
