#pragma once

#include "engine/allowancemeter.h"
#include "engine/clock.h"
#include "engine/monitor.h"
#include "engine/visitrecorder.h"
#include "match/matchindex.h"
#include "store/matchstore.h"
#include "store/rulestore.h"
#include "survey/browsersnapshot.h"
#include "survey/browsersource.h"

#include <QBasicTimer>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QThread;

namespace winwarden {

class TopLevelWindows;

// The monitor: the rule store, the timer and the cycle. Every 2000 ms while monitoring, one
// pass over the browser source is taken on a thread of its own, and the rule checks run on
// its result here: a title seen for the first time is stored as "通过", a window whose rule
// is "禁止" is asked to close, and every window is reported for the live list. Beside the
// title rules the match rules decide (match/matchindex.h), held in memory and read again only
// when they changed; their 网站 rules go to the browser source, which may block ahead.
class MonitorEngine final : public Monitor {
    Q_OBJECT
public:
    static constexpr int kMonitorPeriodMs = 2000;
    // Early cycles asked for by a source come at once, but no more than one per this many ms
    // over time: a quiet engine has credit for kEarlyCycleBurst back to back, so that a page's
    // title change right after its loading is not held up by the loading's own cycles.
    static constexpr int kEarlyCycleGapMs = 200;
    static constexpr int kEarlyCycleBurst = 5;

    explicit MonitorEngine(std::unique_ptr<BrowserSource> source, QObject* parent = nullptr);
    ~MonitorEngine() override;

    // Opens the rule store; throws StoreError when it cannot.
    void OpenStore(const QString& path);
    // The store for a command: with the time-out a command may wait (a cycle leaves its own,
    // shorter one set, since setting it costs a round trip to a server each time).
    RuleStore& Store() { return CommandStore(); }

    void Start() override;
    void Stop() override;
    bool IsMonitoring() const override { return m_status.monitoring; }
    const MonitorStatus& Status() const override { return m_status; }

    // A tick: asks for a pass unless one is out already. Returns at once; the cycle runs
    // when the pass comes back.
    void OnTimer() override;

    std::vector<Rule> ListByFlag(const QString& flag) override;
    std::optional<Rule> FindByName(const QString& name) override;
    int SetFlagForWindow(const QString& flag, const QString& name, const QString& url) override;
    int DeleteRule(const QString& name, const QString& url) override;
    bool AddRule(const QString& name, const QString& url, const QString& flag) override;
    std::vector<MatchRuleRow> ListMatchRules() override;
    bool HasMatchTable() override;
    void AddMatchTable() override;
    std::optional<MatchRuleRow> FindMatchRule(const QString& kind, const QString& text) override;
    bool AddMatchRule(const QString& kind, const QString& text, const QString& flag) override;
    int SetMatchRuleFlag(qint64 id, const QString& flag) override;
    int SetMatchRuleTimes(qint64 id, const QString& times) override;
    int DeleteMatchRule(qint64 id) override;
    std::vector<VisitRow> ListVisits(const VisitQuery& query) override;
    std::vector<AllowanceUse> AllowanceUses() override;
    // The hour (0..23) at which a day of the allowances begins; 00:00 unless set.
    void SetDayStartHour(int hour);
    const AllowanceMeter& Allowances() const { return m_allowances; }
    // Visits older than this many days are removed (0: none recorded, none kept).
    void SetKeepHistoryDays(int days) { m_visits.SetKeepDays(days); }
    VisitRecorder& Visits() { return m_visits; }
    // Asks for a cycle before the next tick; coalesced, at most one pass out at a time.
    void RequestEarlyCycle();
    // The rule checks and the live-list reports of one cycle over `pass`, right now.
    void RunCycle(const BrowserPass& pass);

    // The rule check of one snapshot entry, inside a cycle. Returns the window as the live
    // list shows it: the flag its rule holds now and, for a page a match rule decides, what
    // that rule says and which it is. `window` is the entry's window of the pass.
    SeenWindow CheckWindowRule(const QString& title, const QString& url,
                               const BrowserWindow& window);

    // The clock the cycle reads; the system's unless a test or the guard sets another.
    void SetClock(std::shared_ptr<Clock> clock) { m_clock = std::move(clock); }
    const Clock& TheClock() const { return *m_clock; }

    // Waits until every close request made so far has been handed to the source.
    void WaitForCloseRequests();

    const BrowserSnapshot& Snapshot() const { return m_snapshot; }
    bool PassOut() const { return m_passOut; }

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    void TakePass();
    void OnPassTaken(const BrowserPass& pass);
    void ReportStoreFailure(const QString& what, const QString& message);
    void ClearStoreFailure();
    void SetStatus(const MonitorStatus& status);
    void RestoreBusyTimeout();
    RuleStore& CommandStore();
    MatchStore& CommandMatches();
    qint64 EarlyCredit() const;
    void RefreshMatchRules();
    // After a rule change: a look at the browsers now, so that the change is in force at once.
    void CycleNow();
    void RecordVisits(MonitorStatus status);
    // The allowances of the cycle (monitorallowance.cpp): the time counted, the site rules the
    // source is given, the notices.
    void CountAllowances(const BrowserPass& pass);
    void Meter(const BrowserPass& pass);
    void SeedAllowances();
    void GiveSiteRules();
    void NoticeAllowances();
    void NoticeBeginnings(const BrowserPass& pass);
    Verdict WithAllowances(Verdict verdict, bool webPage, qint64 uid) const;
    bool UsedUp(const MatchRule& rule, qint64 uid) const;
    // A cycle's uid as the meter and the store know it: the window's own pages (-1) are its
    // user's; and back, as the source knows it.
    qint64 MeterUid(qint64 uid) const;
    qint64 SourceUid(qint64 uid) const;

    RuleStore m_store;
    MatchStore m_matches{m_store};
    VisitRecorder m_visits{m_store};
    std::vector<VisitSighting> m_sightings;    // the cycle's pages, for the visit record
    TimedRules m_timedRules;                   // every match rule with its times
    MatchIndex m_match;                        // those of them that hold now
    std::optional<SiteRules> m_siteRulesGiven; // what the source was last told
    SiteRules m_siteRules;                     // those of m_match, before the allowances
    AllowanceMeter m_allowances;
    QSet<qint64> m_allowancesHolding; // the rules with an allowance among those that hold
    bool m_allowancesSeeded = false;
    bool m_ownPagesUnknown = false; // the source gives this process's user's pages uid -1
    QString m_beginNoticed;         // the day and minute of the last schedule begin noticed
    // What the rules in m_match answered for a page title: its words, and the site of the
    // address it was last seen with.
    struct PageMatch {
        QString url;
        const MatchRule* site = nullptr;
        const MatchRule* word = nullptr;
        bool siteKnown = false;
        bool wordKnown = false;
        bool web = false; // an http(s) address: a 全部网页 rule speaks of it
    };
    QHash<QString, PageMatch> m_pageMatches;
    std::unique_ptr<BrowserSource> m_source;
    QThread* m_thread = nullptr;
    QObject* m_worker = nullptr; // lives on m_thread; runs the passes and the close requests
    QBasicTimer m_timer;
    QBasicTimer m_earlyTimer;
    // Credit for early cycles, in ms: it grows with time, and each pass spends one gap of it.
    qint64 m_credit = 0;
    QElapsedTimer m_creditSince; // when m_credit was last counted; invalid: full credit
    bool m_passOut = false;
    bool m_passStale = false; // the pass out was asked for before a stop: nothing acts on it
    bool m_earlyWanted = false;
    BrowserSnapshot m_snapshot;
    MonitorStatus m_status;
    std::shared_ptr<Clock> m_clock = SystemClock();

    // The cycle under way.
    QHash<QString, Rule> m_rules;                        // title -> deciding rule
    std::vector<std::pair<QString, QString>> m_newPages; // titles to store, with their URLs
    TopLevelWindows* m_windows = nullptr;
};

} // namespace winwarden
