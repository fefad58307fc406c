// The companion extension in real browsers, with no debugging port anywhere: Chromium with
// the extension loaded unpacked and the host manifest in its own profile, and Firefox ESR
// with the add-on in a temporary profile, in a private window. The monitor in this process
// records their pages through the bridge and closes the one that another program blocks.
#include "engine/monitorengine.h"
#include "sources/bridge/bridgesource.h"
#include "tests/support/nativehost.h"
#include "tests/support/testdb.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTest>
#include <csignal>
#include <unistd.h>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;

namespace {

const QString kOpenerTitle = u"起始页"_s;
const QString kBlockedTitle = u"坏页 O'Brien & Co"_s;

QString ExtensionFolder() {
    return QFileInfo(QStringLiteral(__FILE__)).absoluteDir().filePath(u"../../extension"_s);
}

bool WriteFile(const QString& path, const QByteArray& contents) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

// A browser for one test, in a process group of its own that the destructor ends.
class Browser final {
public:
    ~Browser() {
        if (m_process.state() != QProcess::NotRunning) {
            const auto group = static_cast<pid_t>(m_process.processId());
            ::kill(-group, SIGTERM);
            if (!m_process.waitForFinished(5000)) {
                ::kill(-group, SIGKILL);
                m_process.waitForFinished(5000);
            }
        }
    }
    QString Path(const QString& name) const { return m_dir.filePath(name); }
    QString Url(const QString& name) const { return u"file://"_s + Path(name); }

    // Two pages: the first opens the second in a new tab.
    bool WritePages() {
        return WriteFile(Path(u"pages/opener.html"_s),
                         "<!DOCTYPE html><meta charset=\"utf-8\"><title>" + kOpenerTitle.toUtf8() +
                             "</title><script>window.open(\"blocked.html\")</script>") &&
               WriteFile(Path(u"pages/blocked.html"_s),
                         "<!DOCTYPE html><meta charset=\"utf-8\"><title>" +
                             kBlockedTitle.toHtmlEscaped().toUtf8() + "</title>");
    }

    bool Start(const QString& program, const QStringList& arguments,
               const QProcessEnvironment& environment) {
        m_process.setProcessEnvironment(environment);
        m_process.setStandardOutputFile(Path(u"browser.log"_s));
        m_process.setStandardErrorFile(Path(u"browser.log"_s), QIODevice::Append);
        m_process.setChildProcessModifier([] { ::setsid(); });
        m_process.start(program, arguments);
        return m_process.waitForStarted(10000);
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
};

std::optional<BrowserWindow> Find(BrowserSource& source, const QString& title) {
    for (const BrowserWindow& window : source.TakePass().windows) {
        if (window.title == title) {
            return window;
        }
    }
    return std::nullopt;
}

// The pages are recorded as 通过 with their URLs; once another program blocks one, the monitor
// closes its tab and the other stays.
void RecordAndBlock(const Browser& browser) {
    TempRuleDb db;
    auto source = MakeBridgeSource();
    BrowserSource& bridge = *source;
    MonitorEngine engine(std::move(source));
    engine.OpenStore(db.path());
    engine.Start();
    const auto recorded = [&](const QString& title, const QString& page) {
        return db.rows().contains(RuleRow{{}, title, u"通过"_s, browser.Url(page)});
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

} // namespace

class TestE2eBridge final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void chromiumPagesAreRecordedAndBlocked() {
        RuntimeFolder runtime;
        Browser chromium;
        QVERIFY(chromium.WritePages());
        const QJsonObject manifest{{u"name"_s, u"net.winwarden.host"_s},
                                   {u"description"_s, u"winwarden"_s},
                                   {u"type"_s, u"stdio"_s},
                                   {u"path"_s, QFileInfo(HostProgram()).canonicalFilePath()},
                                   {u"allowed_origins"_s, QJsonArray{AllowedOrigin()}}};
        QVERIFY(WriteFile(chromium.Path(u"profile/NativeMessagingHosts/net.winwarden.host.json"_s),
                          QJsonDocument(manifest).toJson()));
        QVERIFY(chromium.Start(
            u"/usr/bin/chromium"_s,
            {u"--headless=new"_s, u"--no-sandbox"_s, u"--disable-gpu"_s, u"--no-first-run"_s,
             u"--disable-background-networking"_s, u"--disable-component-update"_s,
             u"--disable-sync"_s, u"--disable-popup-blocking"_s,
             u"--user-data-dir="_s + chromium.Path(u"profile"_s),
             u"--load-extension="_s + ExtensionFolder(), chromium.Url(u"pages/opener.html"_s)},
            QProcessEnvironment::systemEnvironment()));
        RecordAndBlock(chromium);
    }

    void firefoxPrivateWindowPagesAreRecordedAndBlocked() {
        if (!QFileInfo(u"/usr/bin/firefox-esr"_s).isExecutable()) {
            QSKIP("firefox-esr is not installed (tools/install-deps.sh installs it)");
        }
        RuntimeFolder runtime;
        Browser firefox;
        QVERIFY(firefox.WritePages());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"HOME"_s, firefox.Path(u"home"_s));
        environment.insert(u"MOZ_HEADLESS"_s, u"1"_s);
        environment.remove(u"XDG_CONFIG_HOME"_s);
        QVERIFY(QDir().mkpath(firefox.Path(u"home/.mozilla"_s)));
        // The host manifest as a user installs it.
        QProcess tool;
        tool.setProcessEnvironment(environment);
        tool.start(QCoreApplication::applicationDirPath() + u"/../tools/winwarden-browser"_s,
                   {u"install"_s, u"--host"_s, HostProgram()});
        QVERIFY(tool.waitForFinished(10000) && tool.exitCode() == 0);
        // The add-on unpacked (a file naming its folder), unsigned add-ons allowed as ESR
        // permits, installed without asking, and let into private windows.
        QVERIFY(WriteFile(firefox.Path(u"profile/extensions/winwarden@winwarden.net"_s),
                          ExtensionFolder().toUtf8()));
        QVERIFY(WriteFile(firefox.Path(u"profile/user.js"_s),
                          "user_pref(\"xpinstall.signatures.required\", false);\n"
                          "user_pref(\"extensions.autoDisableScopes\", 0);\n"
                          "user_pref(\"extensions.enabledScopes\", 15);\n"
                          "user_pref(\"dom.disable_open_during_load\", false);\n"
                          "user_pref(\"browser.shell.checkDefaultBrowser\", false);\n"
                          "user_pref(\"app.update.enabled\", false);\n"
                          "user_pref(\"datareporting.policy.dataSubmissionEnabled\", false);\n"));
        QVERIFY(WriteFile(
            firefox.Path(u"profile/extension-preferences.json"_s),
            QJsonDocument(
                QJsonObject{{u"winwarden@winwarden.net"_s,
                             QJsonObject{{u"permissions"_s,
                                          QJsonArray{u"internal:privateBrowsingAllowed"_s}},
                                         {u"origins"_s, QJsonArray{}}}}})
                .toJson()));
        QVERIFY(firefox.Start(u"/usr/bin/firefox-esr"_s,
                              {u"--headless"_s, u"--no-remote"_s, u"--profile"_s,
                               firefox.Path(u"profile"_s), u"--private-window"_s,
                               firefox.Url(u"pages/opener.html"_s)},
                              environment));
        RecordAndBlock(firefox);
    }
};

QTEST_GUILESS_MAIN(TestE2eBridge)
#include "test_e2e_bridge.moc"
