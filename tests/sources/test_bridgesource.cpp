// The bridge source with real winwarden-host processes as its browsers.
#include "platform/bridgeprotocol.h"
#include "sources/bridge/bridgesource.h"
#include "tests/support/nativehost.h"

#include <QFileInfo>
#include <QTest>
#include <atomic>
#include <sys/stat.h>
#include <thread>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;

namespace {

QJsonObject Tabs(std::vector<BridgeTab> tabs) {
    return EncodeBridgeMessage(BridgeTabs{std::move(tabs)});
}

QJsonObject ManyTabs(int count) {
    std::vector<BridgeTab> tabs;
    for (int i = 0; i < count; ++i)
        tabs.push_back({i, u"标题 %1"_s.arg(i), u"http://h.test/"_s, false});
    return Tabs(std::move(tabs));
}

QJsonObject Sites(const SiteRules& rules) {
    return EncodeBridgeMessage(BridgeSites{rules.block, rules.allow, false});
}

QStringList Titles(const BrowserPass& pass) {
    QStringList titles;
    for (const BrowserWindow& window : pass.windows)
        titles.append(window.handle.browser + u' ' + window.handle.id + u' ' + window.title);
    return titles;
}

} // namespace

class TestBridgeSource final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The 网站 rules reach each browser once they are known: on every change, and on connecting.
    void eachHostIsABrowserWhoseTabsAreWindows() {
        RuntimeFolder runtime;
        const auto source = MakeBridgeSource();
        std::atomic<int> notified = 0;
        source->SetChangeNotifier([&] { ++notified; });
        QCOMPARE(source->TakePass().browsersWatched, 0);

        HostProcess first;
        QVERIFY(first.Start());
        // Untitled: no title, the address as shown, Firefox's new tab.
        first.Send(Tabs({{4, u"好页"_s, u"http://h.test/a"_s, false},
                         {5, u""_s, u"about:blank"_s, true},
                         {8, u"h.test/?q=测%20x"_s, u"http://h.test/?q=%E6%B5%8B%20x"_s, false},
                         {9, u"New Tab"_s, u"about:newtab"_s, false}}));
        QVERIFY(QTest::qWaitFor([&] { return notified == 1; }, 5000));
        BrowserPass pass = source->TakePass();
        QCOMPARE(pass.browsersRead, 1);
        QCOMPARE(Titles(pass), (QStringList{u"bridge:1 4 好页"_s, u"bridge:1 5 "_s,
                                            u"bridge:1 8 "_s, u"bridge:1 9 "_s}));
        QVERIFY(first.Messages().empty());
        const SiteRules rules{{u"game.test"_s}, {u"school.test"_s}};
        source->SetSiteRules(rules);
        QVERIFY(first.WaitForMessages(1));

        HostProcess second;
        QVERIFY(second.Start());
        second.Send(Tabs({{4, u"另一页"_s, u"http://h.test/c"_s, false}}));
        QVERIFY(QTest::qWaitFor([&] { return notified == 2; }, 5000));
        QCOMPARE(Titles(source->TakePass()).last(), u"bridge:2 4 另一页"_s);
        QVERIFY(second.WaitForMessages(1));

        // From another thread, as the monitor asks: only tabs that browser reported.
        std::thread([&] {
            WindowHandle handle{0, u"bridge:2"_s, u"4"_s};
            source->RequestClose(handle);
            handle.id = u"5"_s; // the first browser's tab, not this one's
            source->RequestClose(handle);
            source->RequestClose({0, u"bridge:9"_s, u"4"_s});
        }).join();
        QVERIFY(second.WaitForMessages(2));
        QTest::qWait(300);
        QCOMPARE(second.Messages(),
                 (std::vector{Sites(rules), EncodeBridgeMessage(BridgeClose{{4}})}));
        QCOMPARE(first.Messages(), std::vector{Sites(rules)});
        // A change, given from the passes' thread, goes to every browser at once.
        const SiteRules changed{{u"game.test"_s, u"other.test"_s}, {}};
        std::thread([&] { source->SetSiteRules(changed); }).join();
        QVERIFY(first.WaitForMessages(2) && second.WaitForMessages(3));
        QCOMPARE(first.Messages().back(), Sites(changed));
        QCOMPARE(second.Messages().back(), Sites(changed));
    }

    void theSocketIsTheUsersOnlyAndAStaleOneIsTakenOver() {
        RuntimeFolder runtime;
        const QString path = BridgeSocketPath();
        QFile stale(path);
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.close();
        const auto source = MakeBridgeSource();
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
        QVERIFY(S_ISSOCK(info.st_mode));
        QCOMPARE(info.st_mode & 077, 0u);
        // A second winwarden leaves the first one's socket alone.
        const auto second = MakeBridgeSource();
        HostProcess host;
        QVERIFY(host.Start());
        // Its list, not just a connection: the second one's look at the socket is one too, and a
        // host still to come would make the folder private again under the check below.
        host.Send(Tabs({}));
        QVERIFY(QTest::qWaitFor([&] { return source->TakePass().browsersRead == 1; }, 5000));
        QCOMPARE(second->TakePass().browsersWatched, 0);

        // Where the folder is shared by mistake, a process of another user still gets no hearing:
        // it reaches the socket and is cut off at once.
        if (::getuid() != 0)
            return;
        for (const QString& open :
             {QFileInfo(path).path() + u"/.."_s, QFileInfo(path).path(), path})
            QCOMPARE(::chmod(QFile::encodeName(open).constData(), 0777), 0);
        BridgeClient other;
        QVERIFY(other.Connect(path, 4242));
        other.Send(Tabs({{1, u"别人的页"_s, u"http://other/"_s, false}}));
        QVERIFY(other.WaitForCutOff());
        QCOMPARE(source->TakePass().windows.size(), size_t(0));
    }

    // The system guard's bridge: anyone may connect, each user's tabs stay theirs (a close
    // goes only to the connection that reported the tab), notices name the user (a browser
    // without its extension, or that lost it), and clients that no host would be are cut off
    // and said once.
    void theGuardsBridgeKeepsUsersApartAndCutsOffImpostors() {
        using namespace std::chrono_literals;
        if (::geteuid() != 0)
            QSKIP("clients of other users need root");
        QTemporaryDir folder;
        QVERIFY(::chmod(QFile::encodeName(folder.path()).constData(), 0711) == 0);
        const QString path = folder.filePath(u"bridge"_s);
        QStringList said;
        const auto source = MakeSystemBridgeSource(
            path, {[] {
                       return std::vector<RunningBrowser>{{4243, u"firefox"_s}};
                   },
                   0ms, 0ms, 0ms,
                   [&](const QString& line) {
                       said.append(line);
                   }});
        struct stat info {};
        QVERIFY(::stat(QFile::encodeName(path).constData(), &info) == 0 && (info.st_mode & 02));

        BridgeClient root, child;
        QVERIFY(root.Connect(path) && child.Connect(path, 4242));
        root.Send(Tabs({{4, u"甲页"_s, u"http://h.test/a"_s, false}}));
        child.Send(Tabs({{4, u"乙页"_s, u"http://h.test/b"_s, false},
                         {5, u"丙页"_s, u"http://h.test/c"_s, false}}));
        BrowserPass pass;
        QVERIFY(
            QTest::qWaitFor([&] { return (pass = source->TakePass()).windows.size() == 3; }, 5000));
        QStringList seen;
        for (const BrowserWindow& window : pass.windows)
            seen.append(u"%1 %2 %3"_s.arg(window.uid).arg(window.handle.id, window.title));
        QCOMPARE(seen, (QStringList{u"0 4 甲页"_s, u"4242 4 乙页"_s, u"4242 5 丙页"_s}));
        const WindowHandle childsFour = pass.windows[1].handle;
        source->RequestClose(childsFour);
        source->RequestClose({0, pass.windows[0].handle.browser, u"5"_s}); // the child's tab id
        QVERIFY(child.WaitForMessages(1));
        QTest::qWait(300);
        QCOMPARE(child.Messages(), std::vector{EncodeBridgeMessage(BridgeClose{{4}})});
        QVERIFY(root.Messages().empty());
        // Every connection hears that a cycle ran.
        QVERIFY(QTest::qWaitFor(
            [&] {
                source->TakePass();
                return !root.Alives().empty() && !child.Alives().empty();
            },
            5000));
        QCOMPARE(child.Alives().front(), EncodeBridgeMessage(BridgeAlive{}));
        const QString withoutExtension = u"用户 4243：Firefox 正在运行，但没有连上浏览哨兵扩展"_s;
        QCOMPARE(pass.notices, std::vector{withoutExtension});

        // As many new titles a minute as allowed, then one more: cut off. It comes back and
        // does it again: one occurrence, said once.
        const QString flood =
            u"用户 4243：浏览器桥上的一个连接在一分钟内报告了超过 3000 个新标题，已断开"_s;
        for (int round = 0; round < 2; ++round) {
            BridgeClient flooder;
            QVERIFY(flooder.Connect(path, 4243));
            flooder.Send(ManyTabs(round == 0 ? 3000 : 3001));
            if (round == 0) {
                QVERIFY(QTest::qWaitFor([&] { return source->TakePass().windows.size() == 3003; },
                                        5000));
                flooder.Send(ManyTabs(3001));
            }
            QVERIFY(flooder.WaitForCutOff());
        }
        BridgeClient garbler;
        QVERIFY(garbler.Connect(path, 4242));
        garbler.SendRaw(Frame(EncodeBridgeMessage(BridgeClose{{4}})));
        QVERIFY(garbler.WaitForCutOff());
        const QString garbled =
            u"用户 4242：浏览器桥上的一个连接发来了浏览器不会发的数据，已断开"_s;
        QVERIFY(QTest::qWaitFor([&] { return source->TakePass().notices.size() == 3; }, 5000));
        QCOMPARE(source->TakePass().notices, (std::vector{withoutExtension, flood, garbled}));
        QCOMPARE(said.size(), 3);
        QVERIFY2(said[2].startsWith(garbled), qPrintable(said[2]));

        // The second child's Firefox connects its extension, then loses it while it runs.
        const auto noticed = [&](const QString& notice) {
            const std::vector<QString> notices = source->TakePass().notices;
            return std::find(notices.begin(), notices.end(), notice) != notices.end();
        };
        {
            BridgeClient fox;
            QVERIFY(fox.Connect(path, 4243));
            fox.Send(EncodeBridgeMessage(BridgeHello{u"firefox"_s, u"1"_s, {}, {}}));
            QVERIFY(QTest::qWaitFor([&] { return !noticed(withoutExtension); }, 5000));
        }
        QVERIFY(QTest::qWaitFor([&] { return noticed(u"用户 4243：Firefox 的扩展连接已断开"_s); },
                                5000));
    }
};

QTEST_GUILESS_MAIN(TestBridgeSource)
#include "test_bridgesource.moc"
