#include "tests/support/bridgebrowser.h"

#include "engine/monitorengine.h"
#include "sources/bridge/bridgesource.h"
#include "tests/support/testdb.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

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

bool WritePages(const BrowserProcess& browser) {
    return WriteFile(browser.Path(u"pages/opener.html"_s),
                     "<!DOCTYPE html><meta charset=\"utf-8\"><title>" + kOpenerTitle.toUtf8() +
                         "</title><script>window.open(\"blocked.html\")</script>") &&
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

} // namespace winwarden::test
