// The monitor cycle without any widget: a real rule database, a fake browser source.
#include "engine/monitorengine.h"
#include "res/texts.h"
#include "store/flag.h"
#include "store/storeerror.h"
#include "tests/support/manualclock.h"
#include "tests/support/viewrig.h"

#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QTimeZone>
#include <cstdio>

using namespace winwarden;
using namespace winwarden::test;
using namespace Qt::StringLiterals;

class TestMonitorEngine final : public QObject {
    Q_OBJECT
    std::unique_ptr<EngineRig> m;
    QStringList m_seen; // "title|flag as shown|url" of every window the cycles reported

    // The windows asked to close so far, by handle.
    QStringList Closed() {
        QStringList ids;
        for (const WindowHandle& window : m->source->CloseRequests())
            ids << window.id;
        return ids;
    }
    void IgnoreWarnings() { QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u".+"_s)); }

private Q_SLOTS:
    void init() {
        m = std::make_unique<EngineRig>();
        m_seen.clear();
        connect(&m->engine, &MonitorEngine::windowSeen, this, [this](const SeenWindow& w) {
            m_seen << w.title + u'|' + w.ShownFlag() + u'|' + w.url;
        });
    }

    // Stored in the cycle that first sees it, once per title (case counts), with the first URL;
    // every titled window is reported in order, an untitled one neither stored nor reported,
    // nor a page of the browser's own (a new tab, one with no address yet); a file is a page.
    void firstSightStoresOneRulePerTitle() {
        const QString title = u"O'Brien 100% \"新闻\""_s, url = u"http://example.test/?q='x'%20"_s;
        const QString file = u"file:///tmp/a.html"_s;
        m->source->SetPages({title, url, QString(), u"http://untitled/"_s, u"New Tab"_s,
                             u"chrome://new-tab-page-third-party/"_s, u"New Tab"_s, QString(),
                             title.toUpper(), url, title, u"http://later/"_s, u"文件"_s, file});
        for (int tick = 0; tick < 2; ++tick) {
            m->Tick();
            QCOMPARE(m->db.rows(), (QList<RuleRow>{{title, u"通过"_s, url},
                                                   {title.toUpper(), u"通过"_s, url},
                                                   {u"文件"_s, u"通过"_s, file}}));
        }
        const QStringList once{title + u"|通过|"_s + url, title.toUpper() + u"|通过|"_s + url,
                               title + u"|通过|http://later/"_s, u"文件|通过|"_s + file};
        QCOMPARE(m_seen, once + once);
    }

    void blockingDependsOnHowTheFlagBegins_data() {
        QTest::addColumn<std::optional<QString>>("flag");
        QTest::addColumn<int>("pages"); // windows with the one title
        QTest::addColumn<int>("closes");
        QTest::newRow("block, title twice") << std::optional(u"禁止"_s) << 2 << 2;
        QTest::newRow("longer") << std::optional(u"禁止访问"_s) << 1 << 1;
        QTest::newRow("half") << std::optional(u"禁"_s) << 1 << 0;
        QTest::newRow("null") << std::optional<QString>() << 1 << 0;
    }
    // Close requests at every cycle while the window stays open, none once the browser cannot
    // be read; the flag is reported as held.
    void blockingDependsOnHowTheFlagBegins() {
        QFETCH(std::optional<QString>, flag);
        QFETCH(int, pages);
        QFETCH(int, closes);
        const QString title = u"某页"_s, url = u"http://page.test/"_s;
        m->db.insert(title, flag, url);
        m->source->SetClosesWindows(false);
        m->source->SetPages(QStringList{title, url, title, u"http://two/"_s}.first(2 * pages));
        for (int tick = 1; tick <= 2; ++tick) {
            m->Tick();
            QCOMPARE(m->source->CloseRequestsFor(title), tick * closes);
            const QStringList ids = Closed(); // every window of a blocked title, none twice
            QCOMPARE(QSet<QString>(ids.begin(), ids.end()).size(), closes ? pages : 0);
            QCOMPARE(m->db.rows(), (QList<RuleRow>{{title, flag, url}}));
        }
        m->source->SetUnreadable(true); // nothing of the last pass is acted on again
        m->Tick();
        QCOMPARE(m->source->CloseRequestsFor(title), 2 * closes);
        QCOMPARE(m_seen.first(), title + u'|' + flag.value_or(QString()) + u'|' + url);
    }

    // Match rules decide after the page's own rule, close only the windows they speak of, and
    // reach the browser source when their 网站 rules change, by another program or the store.
    void matchRulesDecideAndReachTheSource() {
        m->db.exec(
            u"INSERT INTO 匹配规则 (种类,内容,是否禁止) VALUES ('网站','Game.Example','禁止'), "
            "('网站','school.example','通过'), ('标题包含','ＧＡＭＥ','禁止')"_s);
        m->db.insert(u"Blocked here"_s, u"禁止"_s, u"http://school.example/b"_s);
        m->source->SetClosesWindows(false);
        m->source->SetPages({u"Home"_s, u"https://other.example/"_s,            // passes
                             u"Home"_s, u"https://www.game.example/x"_s,        // site
                             u"Game night"_s, u"https://school.example/"_s,     // allowed
                             u"Ga\u200Bme over"_s, u"https://other.example/"_s, // word
                             u"Blocked here"_s, u"http://school.example/b"_s}); // own rule
        m->Tick();
        const QString site = u"禁止（网站 Game.Example）"_s;
        QCOMPARE(m_seen,
                 (QStringList{u"Home|通过|https://other.example/"_s,
                              u"Home|"_s + site + u"|https://www.game.example/x"_s,
                              u"Game night|通过（网站 school.example）|https://school.example/"_s,
                              u"Ga\u200Bme over|禁止（标题包含 ＧＡＭＥ）|https://other.example/"_s,
                              u"Blocked here|禁止|http://school.example/b"_s}));
        // The site's window by its own handle, not the first window of its title.
        QCOMPARE(Closed(), (QStringList{u"Home#2"_s, u"Ga\u200Bme over"_s, u"Blocked here"_s}));
        QCOMPARE(m->db.exec(u"SELECT group_concat(是否禁止, ' ') FROM 窗口名表"_s),
                 u"禁止 通过 通过 通过"_s); // first seen: recorded as passed
        const SiteRules given{{u"game.example"_s}, {u"school.example"_s}};
        QCOMPARE(m->source->SiteRulesGiven(), QList<SiteRules>{given});

        // Another program allows the site; then the engine's own store deletes the rule.
        m->db.exec(u"UPDATE 匹配规则 SET 是否禁止='通过' WHERE 种类='网站'"_s);
        m->Tick();
        m->Tick();
        QCOMPARE(Closed().count(u"Home#2"_s), 1);
        QCOMPARE(m->source->SiteRulesGiven().last(),
                 (SiteRules{{}, {u"game.example"_s, u"school.example"_s}}));
        QCOMPARE(m->source->SiteRulesGiven().size(), 2);
        m->engine.Start(); // monitoring, a change starts a cycle at once
        QCOMPARE(m->engine.DeleteMatchRule(m->engine.ListMatchRules().front().id), 1);
        QVERIFY(m->engine.PassOut());
        m->engine.Stop();
        m_seen.clear();
        m->Tick();
        QCOMPARE(m_seen[1], u"Home|通过|https://www.game.example/x"_s);
        // What a command is given is checked by the engine too, not only by the window.
        for (const auto& [kind, text] :
             {std::pair{kKindSite, u"a..b"_s}, {kKindTitleWord, u"\u200B "_s}})
            QVERIFY_THROWS_EXCEPTION(StoreError, m->engine.AddMatchRule(kind, text, kFlagBlock));
        QCOMPARE(m->engine.ListMatchRules().size(), size_t(2));
    }

    // A timed rule is in force in the cycle its time begins: its site's open tab closes, and
    // the browser source is given the site; when the time ends it is taken back. Times that
    // are no schedule are refused whole, and the rule keeps the ones it had.
    void aScheduleBeginsAndEndsWithinOneCycle() {
        const QTimeZone berlin("Europe/Berlin");
        const auto clock = std::make_shared<ManualClock>(
            QDateTime(QDate(2026, 12, 7), QTime(20, 59), berlin)); // a Monday
        m->engine.SetClock(clock);
        QVERIFY(m->engine.AddMatchRule(kKindSite, u"youtube.com"_s, kFlagBlock));
        const qint64 id = m->engine.ListMatchRules().front().id;
        QCOMPARE(m->engine.SetMatchRuleTimes(id, u"周一至周五  21:00–7:00"_s), 1);
        QVERIFY_THROWS_EXCEPTION(StoreError,
                                 m->engine.SetMatchRuleTimes(id, u"周一 25:00-07:00"_s));
        QCOMPARE(m->engine.ListMatchRules().front().times,
                 std::optional(u"周一至周五 21:00-07:00"_s));
        m->source->SetClosesWindows(false);
        m->source->SetPages({u"Video"_s, u"https://www.youtube.com/watch"_s});
        const SiteRules none;
        const SiteRules tube{{u"youtube.com"_s}, {}};
        m->Tick();
        QCOMPARE(m->source->CloseRequestsFor(u"Video"_s), 0);
        QCOMPARE(m->source->SiteRulesGiven().last(), none);
        clock->Advance(60 * 1000);
        m->Tick();
        QCOMPARE(m->source->CloseRequestsFor(u"Video"_s), 1);
        QCOMPARE(m->source->SiteRulesGiven().last(), tube);
        clock->SetWallTime(QDateTime(QDate(2026, 12, 8), QTime(6, 59), berlin));
        m->Tick();
        QCOMPARE(m->source->CloseRequestsFor(u"Video"_s), 2);
        clock->Advance(60 * 1000);
        m->Tick();
        QCOMPARE(m->source->CloseRequestsFor(u"Video"_s), 2);
        QCOMPARE(m->source->SiteRulesGiven(), (QList<SiteRules>{none, tube, none}));
        // The clock set back into the evening holds the rule again.
        clock->SetWallTime(QDateTime(QDate(2026, 12, 7), QTime(23, 0), berlin));
        m->Tick();
        QCOMPARE(m->source->CloseRequestsFor(u"Video"_s), 3);
    }

    // A window that shows no page any more is passed by: its deleted rule stays deleted. However
    // many windows are open, the last one is checked too.
    void windowsWithoutAPageAndNoCap() {
        m->source->SetPages({u"旧页"_s, u"http://old/"_s});
        m->Tick();
        m->db.exec(u"DELETE FROM 窗口名表"_s);
        m->db.insert(u"末页"_s, u"禁止"_s, u"http://last/"_s);
        std::vector<BrowserWindow> windows(1500,
                                           {BrowserWindow::Kind::NoHtmlDocument, {}, {}, {}, {}});
        windows.back() = {BrowserWindow::Kind::HtmlDocument, u"末页"_s, u"http://last/"_s, {}, {}};
        windows.back().handle.id = u"末页"_s;
        m->source->SetWindows(windows);
        m->Tick();
        QCOMPARE(m->db.rows().size(), 1);
        QCOMPARE(m_seen.size(), 2);
        QCOMPARE(m->source->CloseRequestsFor(u"末页"_s), 1);
        QCOMPARE(m->engine.Status().windows, 1);
    }

    // A store that refuses new titles still has its rules enforced; one that cannot be read at
    // all is reported once until it works again.
    void storeFailuresAreReportedOnceAndBlockingGoesOn() {
        QSignalSpy failures(&m->engine, &MonitorEngine::storeFailed);
        m->db.insert(u"坏页"_s, u"禁止"_s, u"http://bad/"_s);
        m->db.exec(u"CREATE TRIGGER 满 BEFORE INSERT ON 窗口名表 BEGIN "
                   u"SELECT RAISE(FAIL, 'database or disk is full'); END"_s);
        m->source->SetClosesWindows(false);
        m->source->SetPages({u"新页"_s, u"http://new/"_s, u"坏页"_s, u"http://bad/"_s});
        IgnoreWarnings();
        m->Tick();
        m->Tick();
        QCOMPARE(m->source->CloseRequestsFor(u"坏页"_s), 2);
        QCOMPARE(failures.size(), 1);
        QVERIFY(m->engine.Status().storeFailure.contains(u"disk is full"_s));
        m->db.exec(u"DROP TRIGGER 满"_s);
        m->Tick();
        QCOMPARE(m->db.rows().size(), 2);
        QVERIFY(m->engine.Status().storeFailure.isEmpty());
        m->db.exec(u"ALTER TABLE 窗口名表 RENAME TO 别处"_s);
        IgnoreWarnings();
        m->Tick();
        m->Tick();
        QCOMPARE(failures.size(), 2);
    }

    // A rule file replaced in one step by a rename, or deleted and then put back, is opened
    // afresh at the next cycle.
    void aReplacedRuleFileIsOpenedAgain() {
        m->source->SetClosesWindows(false);
        m->source->SetPages({u"坏页"_s, u"http://bad/"_s, u"别页"_s, u"http://site.example/"_s});
        m->Tick();
        TempRuleDb blocking, passing;
        blocking.insert(u"坏页"_s, u"禁止"_s, u"http://bad/"_s);
        blocking.exec(
            u"INSERT INTO 匹配规则 (种类,内容,是否禁止) VALUES ('网站','site.example','禁止')"_s);
        QVERIFY(::rename(QFile::encodeName(blocking.path()), QFile::encodeName(m->db.path())) == 0);
        m->Tick();
        QCOMPARE(m->source->CloseRequestsFor(u"坏页"_s), 1);
        QCOMPARE(m->source->CloseRequestsFor(u"别页"_s), 1); // the new file's match rules too
        QVERIFY(QFile::remove(m->db.path()));
        IgnoreWarnings();
        m->Tick();
        QVERIFY(m->engine.Status().storeFailure.contains(m->db.path()));
        QVERIFY(QFile::rename(passing.path(), m->db.path()));
        m->Tick();
        QCOMPARE(m->source->CloseRequestsFor(u"坏页"_s), 1);
        QVERIFY(m->engine.Status().storeFailure.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestMonitorEngine)
#include "test_monitorengine.moc"
