// The bridge source with real winwarden-host processes as its browsers.
#include "platform/bridgeprotocol.h"
#include "sources/bridge/bridgesource.h"
#include "tests/support/nativehost.h"

#include <QFileInfo>
#include <QTest>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;

namespace {

QJsonObject Tabs(std::vector<BridgeTab> tabs) {
    return EncodeBridgeMessage(BridgeTabs{std::move(tabs)});
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

        // A browser that goes away takes its tabs with it.
        first.CloseInput();
        QVERIFY(QTest::qWaitFor([&] { return source->TakePass().browsersWatched == 1; }, 5000));
        QCOMPARE(Titles(source->TakePass()), QStringList{u"bridge:2 4 另一页"_s});
        QCOMPARE(notified, 3);
    }

    void browsersOutOfSightAreNoticedWhileItLasts() {
        using namespace std::chrono_literals;
        RuntimeFolder runtime;
        QStringList running{u"chromium"_s};
        const auto source = MakeBridgeSource({[&] { return running; }, 300ms, 0ms, 0ms});
        const auto notices = [&] {
            const BrowserPass pass = source->TakePass();
            return QStringList(pass.notices.begin(), pass.notices.end());
        };
        const QStringList missing{u"Chromium 正在运行，但没有连上浏览哨兵扩展"_s};
        const QStringList gone{u"Chromium 的扩展连接已断开"_s};
        QCOMPARE(notices(), QStringList());
        QVERIFY(QTest::qWaitFor([&] { return notices() == missing; }, 5000));

        const QJsonObject hello = EncodeBridgeMessage(BridgeHello{u"chromium"_s, u"1"_s, {}, {}});
        HostProcess host;
        QVERIFY(host.Start());
        host.Send(hello);
        QVERIFY(QTest::qWaitFor([&] { return notices().isEmpty(); }, 5000));
        // Its bridge goes while the browser stays: said at once, and only that.
        host.CloseInput();
        QVERIFY(QTest::qWaitFor([&] { return notices() == gone; }, 5000));
        QTest::qWait(400);
        QCOMPARE(notices(), gone);
        // Gone along with the browser: nothing to see.
        running.clear();
        QVERIFY(QTest::qWaitFor([&] { return notices().isEmpty(); }, 5000));
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
        QVERIFY(QTest::qWaitFor([&] { return source->TakePass().browsersWatched == 1; }, 5000));
        QCOMPARE(second->TakePass().browsersWatched, 0);

        // Where the folder is shared by mistake, a process of another user still gets no hearing:
        // it reaches the socket and is cut off at once.
        if (::getuid() != 0)
            return;
        for (const QString& open :
             {QFileInfo(path).path() + u"/.."_s, QFileInfo(path).path(), path})
            QCOMPARE(::chmod(QFile::encodeName(open).constData(), 0777), 0);
        const QByteArray frame = Frame(Tabs({{1, u"别人的页"_s, u"http://other/"_s, false}}));
        const QByteArray address = QFile::encodeName(path);
        const pid_t child = ::fork();
        if (child == 0) {
            sockaddr_un to{};
            to.sun_family = AF_UNIX;
            std::strncpy(to.sun_path, address.constData(), sizeof to.sun_path - 1);
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            if (::setgid(4242) != 0 || ::setuid(4242) != 0 ||
                ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0)
                ::_exit(2);
            (void)!::write(fd, frame.constData(), size_t(frame.size()));
            timeval wait{5, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
            char byte = 0;
            const ssize_t got = ::read(fd, &byte, 1); // the server hangs up, unread data and all
            ::_exit(got == 0 || (got < 0 && errno == ECONNRESET) ? 0 : 3);
        }
        int status = -1;
        QVERIFY(QTest::qWaitFor([&] { return ::waitpid(child, &status, WNOHANG) == child; }, 8000));
        QCOMPARE(WEXITSTATUS(status), 0);
    }
};

QTEST_GUILESS_MAIN(TestBridgeSource)
#include "test_bridgesource.moc"
