#include "tests/support/bridgebrowser.h"

#include "engine/monitorengine.h"
#include "sources/bridge/bridgesource.h"
#include "tests/support/testdb.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>
#include <QUrl>

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

bool WritePages(const BrowserProcess& browser, const QString& driver) {
    const QByteArray opens =
        driver.isEmpty() ? QByteArray() : "window.open(\"" + driver.toUtf8() + "\");";
    return WriteFile(browser.Path(u"pages/opener.html"_s),
                     "<!DOCTYPE html><meta charset=\"utf-8\"><title>" + kOpenerTitle.toUtf8() +
                         "</title><script>window.open(\"blocked.html\");" + opens + "</script>") &&
           WriteFile(browser.Path(u"pages/blocked.html"_s),
                     "<!DOCTYPE html><meta charset=\"utf-8\"><title>" +
                         kBlockedTitle.toHtmlEscaped().toUtf8() + "</title>");
}

void RecordAndBlock(const BrowserProcess& browser) {
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

PageServer::PageServer()
    : m_endpoint([this](const QByteArray& requestLine) { return Answer(requestLine); }) {}

void PageServer::Open(const QString& url) {
    const std::lock_guard lock(m_mutex);
    m_toOpen.push_back(url);
}

namespace {

// "GET http://h.test/p HTTP/1.1" and "CONNECT h.test:443 HTTP/1.1" both name h.test.
QString HostOf(const QByteArray& requestLine) {
    const QString target = QString::fromLatin1(requestLine.split(' ').value(1));
    return target.contains(u"://"_s) ? QUrl(target).host() : target.section(u':', 0, 0);
}

} // namespace

bool PageServer::Saw(const QString& host) const {
    const std::vector<QByteArray> requests = m_endpoint.Requests();
    return std::any_of(requests.begin(), requests.end(),
                       [&](const QByteArray& line) { return HostOf(line) == host; });
}

QByteArray PageServer::Answer(const QByteArray& requestLine) {
    QByteArray body;
    const QString host = HostOf(requestLine);
    if (requestLine.startsWith("GET " + Driver().toLatin1() + "next ")) {
        const std::lock_guard lock(m_mutex);
        if (!m_toOpen.empty()) {
            body = m_toOpen.front().toUtf8();
            m_toOpen.pop_front();
        }
    } else if (host == QUrl(Driver()).host()) {
        body = "<!DOCTYPE html><script>setInterval(async () => { const next = await (await "
               "fetch(\"/next\")).text(); if (next) window.open(next); }, 100);</script>";
    } else {
        body = "<!DOCTYPE html><meta charset=\"utf-8\"><title>页 " + host.toUtf8() + "</title>";
    }
    return FakeEndpoint::Answer(200, body,
                                "Content-Type: text/html; charset=utf-8\r\nConnection: close\r\n");
}

void BlockSitesAhead(PageServer& pages, std::unique_ptr<BrowserSource> source) {
    TempRuleDb db;
    BrowserSource& bridge = *source;
    MonitorEngine engine(std::move(source));
    engine.OpenStore(db.path());
    engine.Start();
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

} // namespace winwarden::test
