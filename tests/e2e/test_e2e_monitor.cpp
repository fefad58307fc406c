// The monitor against a real headless Chromium and a real rule database file.
#include "engine/monitorengine.h"
#include "monitor/winwardenview.h"
#include "res/commandids.h"
#include "res/texts.h"
#include "sources/devtools/devtoolssource.h"
#include "tests/support/chromium.h"
#include "tests/support/testdb.h"

#include <QTableWidget>
#include <QTest>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;

class TestE2eMonitor final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void blockedTabClosesAtTheNextTickAndTheOtherStays() {
        HeadlessChromium chromium;
        QVERIFY2(chromium.Start(), qPrintable(chromium.Error()));
        qputenv("WINWARDEN_DEVTOOLS", chromium.Endpoint().toUtf8());
        // One title with characters the endpoint escapes (as "&#39;" and "&amp;"), one plain.
        const QString blocked = u"坏页 O'Brien & Co"_s, kept = u"好页"_s;
        const QString blockedId = chromium.OpenTab(HtmlPageUrl(blocked)),
                      keptId = chromium.OpenTab(HtmlPageUrl(kept));
        QVERIFY(!blockedId.isEmpty() && !keptId.isEmpty());
        const QString blockedUrl = HtmlPageUrl(blocked), keptUrl = HtmlPageUrl(kept);

        TempRuleDb db;
        MonitorEngine engine(MakeDevToolsSource());
        engine.OpenStore(db.path());
        CWinwardenView view(engine);
        QVERIFY(view.OnCmdMsg(cmd::kStart));
        const auto stored = [&](const QString& title, const QString& flag, const QString& url) {
            return db.rows().contains(RuleRow{{}, title, flag, url});
        };
        const auto listed = [&](const QString& title, const QString& url,
                                const QString& flag = u"通过"_s) {
            const QTableWidget* list = view.ListControl();
            const auto found = list->findItems(title + text::kCaptionSuffix, Qt::MatchExactly);
            return found.size() == 1 && list->item(found[0]->row(), 1)->text() == flag &&
                   list->item(found[0]->row(), 2)->text() == url;
        };
        // The first tick comes from the monitor timer itself.
        QTRY_VERIFY_WITH_TIMEOUT(stored(blocked, u"通过"_s, blockedUrl) &&
                                     stored(kept, u"通过"_s, keptUrl),
                                 MonitorEngine::kMonitorPeriodMs * 3);
        QVERIFY(listed(blocked, blockedUrl) && listed(kept, keptUrl));

        // Another process marks one rule as blocked while the program runs.
        QCOMPARE(RunSqlite3(db.path(), u"UPDATE 窗口名表 SET 是否禁止='禁止' WHERE "
                                       u"窗口名称='坏页 O''Brien & Co';"_s),
                 0);
        view.OnTimer(CWinwardenView::kMonitorTimerId);
        QVERIFY(chromium.WaitUntilGone(blockedId, 3000) && chromium.Target(keptId));
        QVERIFY(listed(blocked, blockedUrl, u"禁止"_s) && stored(blocked, u"禁止"_s, blockedUrl));
        QCOMPARE(db.rows().size(), 2);
    }
};

QTEST_MAIN(TestE2eMonitor)
#include "test_e2e_monitor.moc"
