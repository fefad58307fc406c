// The companion add-on in a real Firefox ESR with no debugging port, installed for everyone by
// policy in a private mount namespace. (Chromium's policy install: e2e.test_e2e_guard.)
#include "engine/monitorengine.h"
#include "platform/bridgeprotocol.h"
#include "signing/guardkey.h"
#include "sources/bridge/bridgesource.h"
#include "tests/support/bridgebrowser.h"
#include "tests/support/nativehost.h"
#include "tests/support/privatesystem.h"
#include "tests/support/testdb.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <csignal>
#include <sys/stat.h>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

const QString kFirefox = u"/usr/bin/firefox-esr"_s;

// The window titled `title` in the source's pass, if any.
std::optional<BrowserWindow> Find(BrowserSource& source, const QString& title) {
    for (const BrowserWindow& window : source.TakePass().windows)
        if (window.title == title)
            return window;
    return std::nullopt;
}

} // namespace

class TestE2ePolicy final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void firefoxGetsTheAddOnByPolicyForPrivateWindows() {
        if (!QFileInfo(kFirefox).isExecutable())
            QSKIP("firefox-esr is not installed (tools/install-deps.sh installs it)");
        RuntimeFolder runtime;
        QCOMPARE(BrowserTool({u"install"_s, u"--system"_s, u"--fail-closed"_s, u"--host"_s,
                              QFileInfo(HostProgram()).canonicalFilePath()}),
                 0);
        PageServer pages;
        BrowserProcess firefox;
        // A private window on the opener page, pop-ups allowed, through the pages' proxy, with
        // no page of its own to show first (it would be recorded); the opener opens the driver.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"HOME"_s, firefox.Path(u"home"_s));
        environment.insert(u"MOZ_HEADLESS"_s, u"1"_s);
        environment.remove(u"XDG_CONFIG_HOME"_s);
        QVERIFY(WritePages(firefox, PageServer::Driver()) &&
                WriteFile(firefox.Path(u"profile/user.js"_s),
                          "user_pref(\"network.proxy.type\", 1);\n"
                          "user_pref(\"network.proxy.http\", \"127.0.0.1\");\n"
                          "user_pref(\"network.proxy.http_port\", " +
                              pages.Proxy().section(u':', 1).toLatin1() +
                              ");\n"
                              "user_pref(\"dom.security.https_first\", false);\n"
                              "user_pref(\"dom.security.https_first_pbm\", false);\n"
                              "user_pref(\"dom.disable_open_during_load\", false);\n"
                              "user_pref(\"browser.shell.checkDefaultBrowser\", false);\n"
                              "user_pref(\"datareporting.policy.dataSubmissionEnabled\", "
                              "false);\n") &&
                firefox.Start(kFirefox,
                              {u"--headless"_s, u"--no-remote"_s, u"--profile"_s,
                               firefox.Path(u"profile"_s), u"--private-window"_s,
                               firefox.Url(u"pages/opener.html"_s)},
                              environment));

        // The opener's tab is private, reported first to a stand-in that then leaves for the
        // bridge, and the browser is not reported as running without the add-on.
        QJsonObject tab;
        {
            FakeWinwarden stand;
            QVERIFY(stand.Listen(BridgeSocketPath()));
            const auto reported = [&] {
                for (const QJsonObject& message : stand.Messages())
                    for (const QJsonValue& entry : message[u"tabs"].toArray())
                        if (entry[u"url"] == firefox.Url(u"pages/opener.html"_s))
                            tab = entry.toObject();
                return !tab.isEmpty();
            };
            QVERIFY2(QTest::qWaitFor(reported, 30000), "no tab with the page");
        }
        QCOMPARE(tab[u"incognito"], QJsonValue(true));
        {
            const auto source = MakeBridgeSource({.grace = 0ms, .interval = 0ms, .settle = 0ms});
            QVERIFY(QTest::qWaitFor([&] { return source->TakePass().browsersRead == 1; }, 10000));
            QCOMPARE(source->TakePass().notices, std::vector<QString>{});
        }
        // Both pages are recorded as 通过 with their URLs; blocked by another program, one closes.
        {
            TempRuleDb db;
            auto source = MakeBridgeSource();
            BrowserSource& bridge = *source;
            MonitorEngine engine(std::move(source));
            engine.OpenStore(db.path());
            engine.Start();
            const auto recorded = [&](const QString& title, const QString& page) {
                return db.rows().contains(RuleRow{title, u"通过"_s, firefox.Url(page)});
            };
            QVERIFY2(QTest::qWaitFor(
                         [&] {
                             return recorded(kBlockedTitle, u"pages/blocked.html"_s) &&
                                    recorded(kOpenerTitle, u"pages/opener.html"_s);
                         },
                         60000),
                     "the pages were never recorded");
            QCOMPARE(RunSqlite3(db.path(), u"UPDATE 窗口名表 SET 是否禁止='禁止' WHERE "
                                           u"窗口名称='坏页 O''Brien & Co';"_s),
                     0);
            QVERIFY2(QTest::qWaitFor([&] { return !Find(bridge, kBlockedTitle); }, 10000),
                     "the blocked page stayed open");
            QVERIFY(Find(bridge, kOpenerTitle));
            QCOMPARE(db.rows().size(), 2);
        }

        // Told by its policy to fail closed, through the guard it blocks sites ahead: 网站 rules
        // written by another program refuse a blocked host and its sub-domains with the
        // extension's page naming the host, before they reach the server; a longer 通过 rule
        // lets its site through. Anyone may ask the guard for an answer, and keep it.
        QVERIFY(QDir().mkpath(QLatin1StringView(kGuardRuntimeDir)));
        QString error;
        const auto guardKey = GuardKey::Load(QLatin1StringView(kGuardKeyFile), &error);
        QVERIFY2(guardKey, qPrintable(error));
        std::optional<BridgeProof> replayed;
        {
            TempRuleDb db;
            // The guard as the extension knows it: the system bridge, signing with the key that
            // the install made and named in the policies.
            BridgeWatch watch{.running = {}};
            watch.sign = [&](QByteArrayView message) {
                return guardKey->Sign(message);
            };
            auto source = MakeSystemBridgeSource(QLatin1StringView(kSystemBridgeSocket), watch);
            BrowserSource& bridge = *source;
            MonitorEngine engine(std::move(source));
            engine.OpenStore(db.path());
            engine.Start();
            BridgeClient client;
            QVERIFY(client.Connect(QLatin1StringView(kSystemBridgeSocket)));
            client.Send(EncodeBridgeMessage(BridgeChallenge{QString(44, u'A')}));
            QVERIFY(client.WaitForMessages(1));
            const BridgeMessage proof = DecodeBridgeMessage(client.Messages().front());
            QVERIFY(std::holds_alternative<BridgeProof>(proof));
            replayed = std::get<BridgeProof>(proof);
            const QString blocked = u"此网站已被浏览哨兵禁止："_s;
            const auto shown = [&](const QString& title, int timeoutMs = 10000) {
                return QTest::qWaitFor([&] { return Find(bridge, title).has_value(); }, timeoutMs);
            };
            QCOMPARE(RunSqlite3(db.path(),
                                u"INSERT INTO 匹配规则 (种类, 内容, 是否禁止) VALUES "
                                u"('网站', 'game.test', '禁止'), ('网站', 'school.test', '禁止'), "
                                u"('网站', 'probe.test', '禁止'), "
                                u"('网站', 'lessons.school.test', '通过');"_s),
                     0);
            bool inForce = false; // once a page of a host only this set blocks is refused
            for (int tries = 0; !inForce && tries < 20; ++tries) {
                pages.Open(u"http://probe.test/"_s);
                inForce = shown(blocked + u"probe.test"_s, 500);
            }
            QVERIFY2(inForce, "the site rules never came into force");
            for (const QString& url : {u"http://game.test/"_s, u"http://www.game.test/a"_s,
                                       u"http://school.test/"_s, u"http://lessons.school.test/"_s})
                pages.Open(url);
            for (const QString& host : {u"game.test"_s, u"www.game.test"_s, u"school.test"_s}) {
                QVERIFY2(shown(blocked + host), qPrintable(host));
                QVERIFY2(!pages.Saw(host), qPrintable(host));
            }
            QVERIFY2(shown(u"页 lessons.school.test"_s), "a page of an allowed site was refused");
        }

        // With the guard gone, a host of the user's own (installed in ~/.mozilla, which Firefox
        // reads before the system's) says "alive" for the guard every second and answers every
        // challenge with a forgery: the guard's answer replayed, a signature of the wrong size,
        // one by another key, one of the right key for a time long past. None counts: web pages
        // show the extension's page and never reach the server.
        QTemporaryDir forgery;
        const auto otherKey = GuardKey::LoadOrCreate(forgery.filePath(u"other.pem"_s),
                                                     {::geteuid(), ::getegid()}, &error);
        QVERIFY(otherKey);
        FakeWinwarden forger;
        QVERIFY(forger.Listen(forgery.filePath(u"forger"_s)));
        const QString relay = forgery.filePath(u"host"_s);
        QVERIFY(WriteFile(relay, "#!/usr/bin/python3\n"
                                 "import os, socket, threading\n"
                                 "s = socket.socket(socket.AF_UNIX)\n"
                                 "s.connect('" +
                                     QFile::encodeName(forgery.filePath(u"forger"_s)) +
                                     "')\n"
                                     "def up():\n"
                                     "    while (b := os.read(0, 65536)): s.sendall(b)\n"
                                     "    os._exit(0)\n"
                                     "threading.Thread(target=up, daemon=True).start()\n"
                                     "while (b := s.recv(65536)): os.write(1, b)\n") &&
                QFile::setPermissions(relay, QFile::ReadOwner | QFile::ExeOwner) &&
                ::chmod(QFile::encodeName(forgery.path()).constData(), 0755) == 0);
        QCOMPARE(BrowserTool({u"install"_s, u"--host"_s, relay}, environment), 0);
        // The extension reconnects, to the user's own host now.
        const QString host = QFileInfo(HostProgram()).canonicalFilePath();
        for (const QString& entry : QDir(u"/proc"_s).entryList(QDir::Dirs))
            if (entry.toInt() > 0 &&
                QFileInfo(u"/proc/"_s + entry + u"/exe"_s).symLinkTarget() == host)
                ::kill(entry.toInt(), SIGTERM);
        QVERIFY2(QTest::qWaitFor([&] { return !forger.Messages().empty(); }, 20000),
                 "the extension never reached the user's own host");

        size_t answered = 0;
        const auto forge = [&] {
            forger.Send(QJsonObject{{u"type"_s, u"alive"_s}, {u"guard"_s, true}});
            for (; answered < forger.Messages().size(); ++answered) {
                const BridgeMessage message = DecodeBridgeMessage(forger.Messages()[answered]);
                const auto* challenge = std::get_if<BridgeChallenge>(&message);
                if (!challenge)
                    continue;
                const qint64 now = QDateTime::currentMSecsSinceEpoch();
                const auto forged = [&](const GuardKey& key, qint64 time, qsizetype size) {
                    const QByteArray signature = key.Sign(BridgeProofText(challenge->nonce, time));
                    return BridgeProof{challenge->nonce, time,
                                       QString::fromLatin1(signature.left(size).toBase64())};
                };
                const BridgeProof forgeries[] = {*replayed, forged(*guardKey, now, 63),
                                                 forged(*otherKey, now, 64),
                                                 forged(*guardKey, now - 60000, 64)};
                forger.Send(EncodeBridgeMessage(forgeries[answered % 4]));
            }
        };
        // Pages open one after another until a tab the extension reports shows its page for no
        // guard standing for one of them; a loaded browser may report it after the next opened.
        QSet<QString> opened;
        QString refused;
        size_t read = 0; // the reports looked through
        const auto anyRefused = [&] {
            for (; refused.isEmpty() && read < forger.Messages().size(); ++read)
                for (const QJsonValue& entry : forger.Messages()[read][u"tabs"].toArray())
                    if (entry[u"title"] == u"浏览哨兵未运行，暂时不能打开网页"_s &&
                        opened.contains(entry[u"url"].toString().section(u'#', 1)))
                        refused = entry[u"url"].toString().section(u'#', 1);
            return !refused.isEmpty();
        };
        for (int n = 0; !anyRefused() && n < 60; ++n) {
            const QString url = u"http://forged%1.test/"_s.arg(n);
            opened.insert(url);
            pages.Open(url);
            for (int tick = 0; tick < 4 && !QTest::qWaitFor(anyRefused, 250); ++tick)
                forge();
        }
        QVERIFY2(!refused.isEmpty(), "a forged answer kept web pages open without the guard");
        QVERIFY(!pages.Saw(QUrl(refused).host()));
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
