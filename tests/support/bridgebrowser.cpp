#include "tests/support/bridgebrowser.h"

#include "engine/monitorengine.h"
#include "sources/bridge/bridgesource.h"
#include "tests/support/testdb.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>
#include <csignal>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace winwarden::test {

const QString kOpenerTitle = u"起始页"_s;
const QString kBlockedTitle = u"坏页 O'Brien & Co"_s;

namespace {

std::optional<BrowserWindow> Find(BrowserSource& source, const QString& title) {
    for (const BrowserWindow& window : source.TakePass().windows)
        if (window.title == title)
            return window;
    return std::nullopt;
}

} // namespace

bool WriteFile(const QString& path, const QByteArray& contents) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

BridgeBrowser::~BridgeBrowser() {
    if (m_process.state() != QProcess::NotRunning) {
        const auto group = static_cast<pid_t>(m_process.processId());
        ::kill(-group, SIGTERM);
        if (!m_process.waitForFinished(5000)) {
            ::kill(-group, SIGKILL);
            m_process.waitForFinished(5000);
        }
    }
}

bool BridgeBrowser::WritePages() {
    return WriteFile(Path(u"pages/opener.html"_s),
                     "<!DOCTYPE html><meta charset=\"utf-8\"><title>" + kOpenerTitle.toUtf8() +
                         "</title><script>window.open(\"blocked.html\")</script>") &&
           WriteFile(Path(u"pages/blocked.html"_s),
                     "<!DOCTYPE html><meta charset=\"utf-8\"><title>" +
                         kBlockedTitle.toHtmlEscaped().toUtf8() + "</title>");
}

bool BridgeBrowser::Start(const QString& program, const QStringList& arguments,
                          const QProcessEnvironment& environment) {
    m_process.setProcessEnvironment(environment);
    m_process.setStandardOutputFile(Path(u"browser.log"_s));
    m_process.setStandardErrorFile(Path(u"browser.log"_s), QIODevice::Append);
    m_process.setChildProcessModifier([] { ::setsid(); });
    m_process.start(program, arguments);
    return m_process.waitForStarted(10000);
}

QStringList HeadlessChromiumFlags(const BridgeBrowser& browser) {
    return u"--headless=new --no-sandbox --disable-gpu --no-first-run --disable-sync "
           "--disable-background-networking --disable-component-update --disable-popup-blocking"_s
               .split(u' ')
           << u"--user-data-dir="_s + browser.Path(u"profile"_s);
}

void RecordAndBlock(const BridgeBrowser& browser) {
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

} // namespace winwarden::test
