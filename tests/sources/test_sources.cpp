// The browser sources: the bridge with real winwarden-host processes as its browsers, and the
// DevTools endpoints (in the forms Chromium 156 reports; a real Chromium's list:
// e2e.test_e2e_guard).
#include "platform/bridgeprotocol.h"
#include "sources/bridge/bridgesource.h"
#include "sources/devtools/devtoolsendpoints.h"
#include "sources/devtools/devtoolssource.h"
#include "sources/devtools/targetlist.h"
#include "survey/browsersnapshot.h"
#include "survey/shellwindows.h"
#include "tests/support/fakeendpoint.h"
#include "tests/support/nativehost.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <sys/stat.h>
#include <thread>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;

namespace {

const QByteArray kList = R"([{"type":"page","title":"A &amp;amp; B","url":"a"},{"type":"x"}])";

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
    BridgeSites sites{rules.block, rules.allow, false, rules.blockAll};
    for (auto reason = rules.reasons.begin(); reason != rules.reasons.end(); ++reason)
        sites.reasons.insert(reason.key(), reason.value());
    return EncodeBridgeMessage(sites);
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
        // In front: only the active tab of the focused window.
        second.Send(Tabs({{6, u"后台"_s, u"http://h.test/d"_s, false, true, false},
                          {7, u"未选"_s, u"http://h.test/e"_s, false, false, true},
                          {4, u"另一页"_s, u"http://h.test/c"_s, false, true, true}}));
        QVERIFY(QTest::qWaitFor([&] { return notified == 2; }, 5000));
        pass = source->TakePass();
        QCOMPARE(Titles(pass).last(), u"bridge:2 4 另一页"_s);
        QStringList front;
        for (const BrowserWindow& window : pass.windows)
            front << (window.inFront ? QString::number(*window.inFront) : u"-"_s);
        QCOMPARE(front.join(u' '), u"- - - - 0 0 1"_s);
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
        // A change, given from the passes' thread, goes to every browser at once, as do the
        // own rules of and a notice for the one user this bridge serves.
        SiteRules changed{{u"game.test"_s, u"other.test"_s}, {}};
        changed.users[-1] = {{}, true, {{u""_s, u"夜里不能上网"_s}}};
        std::thread([&] {
            source->SetSiteRules(changed);
            source->Notify(-1, u"还有 5 分钟"_s);
        }).join();
        QVERIFY(first.WaitForMessages(3) && second.WaitForMessages(4));
        const auto notice = EncodeBridgeMessage(BridgeNotice{u"还有 5 分钟"_s});
        changed.blockAll = true;
        changed.reasons = changed.users[-1].reasons;
        QCOMPARE(first.Messages(), (std::vector{Sites(rules), Sites(changed), notice}));
        QCOMPARE(second.Messages().back(), notice);
    }

    // On the guard's bridge each user's browsers get the rules that hold for that user: the
    // common ones and the user's own (a used-up allowance), again only when theirs change; a
    // notice goes to its user's browsers alone.
    void eachUserHearsTheirOwnRulesAndNotices() {
        if (::geteuid() != 0)
            QSKIP("clients of other users need root");
        QTemporaryDir folder;
        QVERIFY(::chmod(QFile::encodeName(folder.path()).constData(), 0711) == 0);
        const QString path = folder.filePath(u"bridge"_s);
        BridgeWatch watch;
        watch.running = {};
        const auto source = MakeSystemBridgeSource(path, watch);
        const QString used = u"今天的 60 分钟已用完，明天 00:00 再开放"_s;
        // video.test passes but for the child who used up its allowance.
        SiteRules rules{{u"game.test"_s}, {u"school.test"_s, u"video.test"_s}};
        rules.users[4242] = {{u"video.test"_s}, false, {{u"video.test"_s, used}}};
        rules.users[4243] = {{}, true, {{u""_s, u"夜里不能上网"_s}}};
        source->SetSiteRules(rules);

        BridgeClient root, child, night;
        QVERIFY(root.Connect(path) && child.Connect(path, 4242) && night.Connect(path, 4243));
        QVERIFY(root.WaitForMessages(1) && child.WaitForMessages(1) && night.WaitForMessages(1));
        QCOMPARE(root.Messages().back(), Sites(rules));
        QCOMPARE(child.Messages().back(), Sites({{u"game.test"_s, u"video.test"_s},
                                                 {u"school.test"_s},
                                                 false,
                                                 {{u"video.test"_s, used}}}));
        QCOMPARE(night.Messages().back(), Sites({{u"game.test"_s},
                                                 {u"school.test"_s, u"video.test"_s},
                                                 true,
                                                 {{u""_s, u"夜里不能上网"_s}}}));

        rules.users[4242].block.append(u"more.test"_s);
        source->SetSiteRules(rules);
        source->Notify(4243, u"还有 5 分钟：youtube.com 今天的时间快用完了"_s);
        QVERIFY(child.WaitForMessages(2) && night.WaitForMessages(2));
        QTest::qWait(300);
        QCOMPARE(root.Messages().size(), size_t(1));
        QCOMPARE(child.Messages().size(), size_t(2));
        QCOMPARE(child.Messages().back()[u"block"_s].toArray().last(), u"more.test"_s);
        QCOMPARE(night.Messages(),
                 (std::vector{night.Messages().front(),
                              EncodeBridgeMessage(BridgeNotice{
                                  u"还有 5 分钟：youtube.com 今天的时间快用完了"_s})}));
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

    // What the guard's enforcement learns from the bridge: a host counts once it said hello,
    // until it goes; what the guard did comes among the notices and is said once.
    void theGuardsBridgeTellsWhichHostsAreConnected() {
        QTemporaryDir folder;
        const QString path = folder.filePath(u"bridge"_s);
        QStringList said;
        BridgeWatch watch{{}, {}, {}, {}, [&](const QString& line) {
                              said.append(line);
                          }};
        watch.link = std::make_shared<BridgeLink>();
        const auto source = MakeSystemBridgeSource(path, watch);
        {
            BridgeClient host;
            QVERIFY(host.Connect(path));
            QTest::qWait(200);
            QVERIFY(watch.link->Hosts().empty()); // not before it says hello
            host.Send(EncodeBridgeMessage(BridgeHello{u"chromium"_s, u"1"_s, {}, {}}));
            QVERIFY(QTest::qWaitFor([&] { return !watch.link->Hosts().empty(); }, 5000));
            QCOMPARE(watch.link->Hosts(), std::vector<pid_t>{::getpid()});
        }
        QVERIFY(QTest::qWaitFor([&] { return watch.link->Hosts().empty(); }, 5000));
        const QString ended = u"用户 4242：Chromium 没有连上浏览哨兵扩展，已被关闭"_s;
        watch.link->Report(u"ended 7 70"_s, ended);
        const std::vector<QString> notices = source->TakePass().notices;
        QVERIFY(std::find(notices.begin(), notices.end(), ended) != notices.end());
        QCOMPARE(said.filter(u"已被关闭"_s), QStringList{ended});
    }
};

class TestDevToolsSource final : public QObject {
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
            QStringList read; // "title|url" of each HTML document, "-" for any other window
            for (const BrowserWindow& window : pass.windows)
                read << (window.kind == BrowserWindow::Kind::HtmlDocument
                             ? window.title + u'|' + window.url
                             : u"-"_s);
            QCOMPARE(read, entries);
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

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    TestBridgeSource bridge;
    TestDevToolsSource devtools;
    return QTest::qExec(&bridge, argc, argv) | QTest::qExec(&devtools, argc, argv);
}

#include "test_sources.moc"
