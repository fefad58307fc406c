// The companion extension in real browsers, no debugging port anywhere: Firefox's loaded by
// hand, then each installed for everyone by policy in a private mount namespace. Chromium's
// policy run and Firefox's run by hand block sites ahead; Firefox's policy run fails closed.
#include "platform/bridgeprotocol.h"
#include "sources/bridge/bridgesource.h"
#include "tests/support/bridgebrowser.h"
#include "tests/support/nativehost.h"
#include "tests/support/privatesystem.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>
#include <QTimer>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;

namespace {

const QString kFirefox = u"/usr/bin/firefox-esr"_s;

// The extension's files as the build lays them out for installing: __FILE__ is relative to the
// build folder, not to where the test runs.
QString ExtensionFolder() {
    return QCoreApplication::applicationDirPath() + u"/../share/winwarden/extension"_s;
}

int InstallForEveryone(const QStringList& options) {
    return BrowserTool(QStringList{u"install"_s, u"--system"_s, u"--host"_s,
                                   QFileInfo(HostProgram()).canonicalFilePath()} +
                       options);
}

QProcessEnvironment FirefoxEnvironment(const BrowserProcess& firefox) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"HOME"_s, firefox.Path(u"home"_s));
    environment.insert(u"MOZ_HEADLESS"_s, u"1"_s);
    environment.remove(u"XDG_CONFIG_HOME"_s);
    return environment;
}

// Firefox in a private window on the opener page, with `prefs` besides pop-ups allowed; with
// `pages`, its proxy, and the opener opens its driver.
bool StartFirefox(BrowserProcess& firefox, QByteArray prefs = {},
                  const PageServer* pages = nullptr) {
    if (pages) {
        prefs += "user_pref(\"network.proxy.type\", 1);\n"
                 "user_pref(\"network.proxy.http\", \"127.0.0.1\");\n"
                 "user_pref(\"network.proxy.http_port\", " +
                 pages->Proxy().section(u':', 1).toLatin1() +
                 ");\n"
                 "user_pref(\"dom.security.https_first\", false);\n"
                 "user_pref(\"dom.security.https_first_pbm\", false);\n";
    }
    return WritePages(firefox, pages ? PageServer::Driver() : QString()) &&
           WriteFile(firefox.Path(u"profile/user.js"_s),
                     prefs + "user_pref(\"dom.disable_open_during_load\", false);\n"
                             "user_pref(\"browser.shell.checkDefaultBrowser\", false);\n"
                             "user_pref(\"datareporting.policy.dataSubmissionEnabled\", "
                             "false);\n") &&
           firefox.Start(kFirefox,
                         {u"--headless"_s, u"--no-remote"_s, u"--profile"_s,
                          firefox.Path(u"profile"_s), u"--private-window"_s,
                          firefox.Url(u"pages/opener.html"_s)},
                         FirefoxEnvironment(firefox));
}

// The extension says the administrator installed it, the opener's tab is (or is not) private,
// the browser is not reported as running without the extension, and the pages are recorded
// and blocked. The first messages go to a stand-in that then leaves for the bridge.
void CheckPolicyRun(const BrowserProcess& browser, bool incognito) {
    QJsonObject hello, tab;
    {
        FakeWinwarden stand;
        QVERIFY(stand.Listen(BridgeSocketPath()));
        const auto greeted = [&] {
            for (const QJsonObject& message : stand.Messages()) {
                if (!message[u"install"].toString().isEmpty())
                    hello = message;
                for (const QJsonValue& entry : message[u"tabs"].toArray())
                    if (entry[u"url"] == browser.Url(u"pages/opener.html"_s))
                        tab = entry.toObject();
            }
            return !hello.isEmpty() && !tab.isEmpty();
        };
        QVERIFY2(QTest::qWaitFor(greeted, 30000), "no hello, or no tab with the page");
    }
    QCOMPARE(hello[u"install"].toString(), u"admin"_s);
    QCOMPARE(tab[u"incognito"], QJsonValue(incognito));
    {
        using namespace std::chrono_literals;
        const auto source = MakeBridgeSource({.grace = 0ms, .interval = 0ms, .settle = 0ms});
        QVERIFY(QTest::qWaitFor([&] { return source->TakePass().browsersRead == 1; }, 10000));
        QCOMPARE(source->TakePass().notices, std::vector<QString>{});
    }
    RecordAndBlock(browser);
}

// Told by its policy to fail closed, with no guard ever: 10 s on, web pages show the extension's
// page and never reach the server, though the user's own winwarden answers. A guard (root's
// socket in its place) answering opens them again.
void CheckFailsClosed(PageServer& pages) {
    const QString shut = u"浏览哨兵未运行，暂时不能打开网页"_s;
    {
        const auto own = MakeBridgeSource();
        const auto shown = [&] {
            const std::vector<BrowserWindow> windows = own->TakePass().windows;
            return std::any_of(windows.begin(), windows.end(),
                               [&](const BrowserWindow& window) { return window.title == shut; });
        };
        bool refused = false;
        QString host;
        for (int n = 0; !refused && n < 40; ++n) {
            host = u"shut%1.test"_s.arg(n);
            pages.Open(u"http://"_s + host + u'/');
            refused = QTest::qWaitFor(shown, 1000);
        }
        QVERIFY2(refused, "web pages still open without a guard");
        QVERIFY(!pages.Saw(host));
    }
    FakeWinwarden guard;
    QVERIFY(QDir().mkpath(QLatin1StringView(kGuardRuntimeDir)));
    QVERIFY(guard.Listen(QLatin1StringView(kSystemBridgeSocket)));
    QTimer beat;
    QObject::connect(&beat, &QTimer::timeout,
                     [&] { guard.Send(EncodeBridgeMessage(BridgeAlive{})); });
    beat.start(500);
    const auto loaded = [&] {
        for (const QJsonObject& message : guard.Messages())
            for (const QJsonValue& tab : message[u"tabs"].toArray())
                if (tab[u"title"].toString().startsWith(u"页 open"_s))
                    return true;
        return false;
    };
    for (int n = 0; !loaded() && n < 20; ++n) {
        pages.Open(u"http://open%1.test/"_s.arg(n));
        (void)QTest::qWaitFor(loaded, 1000);
    }
    QVERIFY2(loaded(), "web pages stayed refused with a guard answering");
}

} // namespace

class TestE2ePolicy final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The host manifest as a user installs it; the add-on unpacked, unsigned, in private windows.
    void firefoxWithTheAddOnInItsProfile() {
        if (!QFileInfo(kFirefox).isExecutable())
            QSKIP("firefox-esr is not installed (tools/install-deps.sh installs it)");
        RuntimeFolder runtime;
        PageServer pages;
        BrowserProcess firefox;
        QVERIFY(QDir().mkpath(firefox.Path(u"home/.mozilla"_s)));
        QCOMPARE(
            BrowserTool({u"install"_s, u"--host"_s, HostProgram()}, FirefoxEnvironment(firefox)),
            0);
        QVERIFY(WriteFile(firefox.Path(u"profile/extensions/winwarden@winwarden.net"_s),
                          ExtensionFolder().toUtf8()));
        const QJsonObject allowed{
            {u"winwarden@winwarden.net"_s,
             QJsonObject{{u"permissions"_s, QJsonArray{u"internal:privateBrowsingAllowed"_s}},
                         {u"origins"_s, QJsonArray{}}}}};
        QVERIFY(WriteFile(firefox.Path(u"profile/extension-preferences.json"_s),
                          QJsonDocument(allowed).toJson()));
        QVERIFY(StartFirefox(firefox,
                             "user_pref(\"xpinstall.signatures.required\", false);\n"
                             "user_pref(\"extensions.autoDisableScopes\", 0);\n"
                             "user_pref(\"extensions.enabledScopes\", 15);\n",
                             &pages));
        RecordAndBlock(firefox);
        BlockSitesAhead(pages);
    }

    // Without background networking no forced extension is fetched; incognito opens a normal
    // window; the 网站 rules refuse their sites before a page loads.
    void chromiumGetsTheExtensionByPolicyAndNoIncognito() {
        RuntimeFolder runtime;
        QCOMPARE(InstallForEveryone({u"--no-incognito"_s}), 0);
        PageServer pages;
        BrowserProcess chromium;
        QVERIFY(WritePages(chromium, PageServer::Driver()));
        QStringList flags = HeadlessChromiumFlags(chromium);
        flags.removeAll(u"--disable-background-networking"_s);
        QVERIFY(chromium.Start(u"/usr/bin/chromium"_s,
                               flags << u"--incognito"_s
                                     << u"--proxy-server=http://"_s + pages.Proxy()
                                     << u"--disable-features=HttpsUpgrades"_s
                                     << chromium.Url(u"pages/opener.html"_s)));
        CheckPolicyRun(chromium, false);
        BlockSitesAhead(pages);
    }

    void firefoxGetsTheAddOnByPolicyForPrivateWindows() {
        if (!QFileInfo(kFirefox).isExecutable())
            QSKIP("firefox-esr is not installed (tools/install-deps.sh installs it)");
        RuntimeFolder runtime;
        QCOMPARE(InstallForEveryone({u"--fail-closed"_s}), 0);
        PageServer pages;
        BrowserProcess firefox;
        QVERIFY(StartFirefox(firefox, {}, &pages));
        CheckPolicyRun(firefox, true);
        CheckFailsClosed(pages);
    }
};

int main(int argc, char** argv) {
    return RunWithPrivateSystemFolders(argc, argv, [&] {
        QCoreApplication app(argc, argv);
        TestE2ePolicy test;
        return QTest::qExec(&test, argc, argv);
    });
}

#include "test_e2e_policy.moc"
