// The monitor against a real headless Chromium and a real rule database file.
#include "monitor/winwardenview.h"
#include "res/commandids.h"
#include "res/texts.h"
#include "tests/support/chromium.h"
#include "tests/support/testdb.h"

#include <QProcess>
#include <QTableWidget>
#include <QTest>
#include <memory>
#include <optional>

using namespace winwarden;
using namespace winwarden::test;

namespace {

bool Listed(const QTableWidget* list, const QString& caption, const QString& url) {
    for (int r = 0; r < list->rowCount(); ++r) {
        const auto text = [&](int c) {
            return list->item(r, c) ? list->item(r, c)->text() : QString();
        };
        if (text(0) == caption)
            return text(1) == QStringLiteral("通过") && text(2) == url;
    }
    return false;
}

} // namespace

class TestE2eMonitor final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void blockedTabClosesAtTheNextTickAndTheOtherStays() {
        HeadlessChromium chromium;
        QVERIFY2(chromium.Start(), qPrintable(chromium.Error()));
        qputenv("WINWARDEN_DEVTOOLS", chromium.Endpoint().toUtf8());

        // One title with a character the endpoint escapes, one in plain Chinese.
        const QString blocked = QStringLiteral("坏页 O'Brien & Co");
        const QString kept = QStringLiteral("好页");
        const QString blockedId = chromium.OpenTab(HtmlPageUrl(blocked));
        const QString keptId = chromium.OpenTab(HtmlPageUrl(kept));
        QVERIFY(!blockedId.isEmpty() && !keptId.isEmpty());
        QVERIFY(chromium.WaitForTitle(blockedId, QStringLiteral("坏页 O&#39;Brien &amp; Co")));
        QVERIFY(chromium.WaitForTitle(keptId, kept));
        const QString blockedUrl = chromium.Target(blockedId)->value(u"url").toString();
        const QString keptUrl = chromium.Target(keptId)->value(u"url").toString();

        TempRuleDb db;
        MonitorServices services;
        services.databasePath = db.path();
        CWinwardenView view(nullptr, services);
        view.resize(800, 500);
        QVERIFY(view.OnCmdMsg(cmd::kStart));

        // The first tick comes from the monitor timer itself.
        const auto stored = [&](const QString& title, const QString& url) {
            return db.rows().contains(RuleRow{{}, title, QStringLiteral("通过"), url});
        };
        QTRY_VERIFY_WITH_TIMEOUT(stored(blocked, blockedUrl) && stored(kept, keptUrl),
                                 CWinwardenView::kMonitorPeriodMs * 3);
        QVERIFY(Listed(view.ListControl(), blocked + text::kCaptionSuffix, blockedUrl));
        QVERIFY(Listed(view.ListControl(), kept + text::kCaptionSuffix, keptUrl));

        // Another process marks one rule as blocked while the program runs.
        QProcess sqlite;
        sqlite.start(QStringLiteral("sqlite3"),
                     {db.path(), QStringLiteral("UPDATE 窗口名表 SET 是否禁止='禁止' WHERE "
                                                "窗口名称='坏页 O''Brien & Co';")});
        QVERIFY(sqlite.waitForFinished(10000));
        QCOMPARE(sqlite.exitCode(), 0);

        view.OnTimer(CWinwardenView::kMonitorTimerId);
        QVERIFY(chromium.WaitUntilGone(blockedId, 2000));
        QVERIFY(chromium.Target(keptId).has_value());
        // Still listed as seen, and the rules are as the user left them.
        QVERIFY(Listed(view.ListControl(), blocked + text::kCaptionSuffix, blockedUrl));
        QVERIFY(db.rows().contains(RuleRow{{}, blocked, QStringLiteral("禁止"), blockedUrl}));
        QVERIFY(stored(kept, keptUrl));

        // Every page is known by now: a further tick stores nothing and closes nothing more.
        const QList<RuleRow> before = db.rows();
        view.OnTimer(CWinwardenView::kMonitorTimerId);
        QCOMPARE(db.rows(), before);
        QVERIFY(chromium.Target(keptId).has_value());
    }
};

QTEST_MAIN(TestE2eMonitor)
#include "test_e2e_monitor.moc"
