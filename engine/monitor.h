#pragma once

#include "res/texts.h"
#include "store/matchstore.h"
#include "store/rulestore.h"
#include "store/visitstore.h"

#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace winwarden {

// What the user should see of the monitor at a glance.
struct MonitorStatus {
    bool monitoring = false;
    bool cycled = false;     // a cycle has run since monitoring started
    int windows = 0;         // browser windows showing a page in the last cycle
    int browsersWatched = 0; // browsers the last pass tried to read
    int browsersRead = 0;    // of those, the ones that answered
    QString storeFailure;    // what went wrong with the rules; empty while they work
    QStringList notices;     // what the browser sources want known
    // A system guard monitors the browsers, whatever the window shows: `monitoring` then says
    // only whether the window shows what the guard sees.
    bool guarded = false;
    bool operator==(const MonitorStatus&) const = default;
};

// A window of a cycle, as the live list shows it.
struct SeenWindow {
    QString title; // the page's own title: what its rule holds
    QString url;
    QString flag;    // the flag its rule holds now
    QString browser; // the family of the browser showing it ("chromium", "firefox"); may be empty
    // For a page a match rule decides: what that rule says (禁止 or 通过), and the rule, by kind
    // and text ("网站 game.example"); empty otherwise.
    QString matchFlag;
    QString matchRule;
    qint64 uid = -1; // the user whose browser shows it; -1 where the source does not know
    QString user;    // whose page it is, as the list names them; empty for the viewer's own
    bool operator==(const SeenWindow&) const = default;

    // The flag as the live list shows it: the page's own, or the deciding match rule's with
    // the rule, "禁止（网站 game.example）".
    QString ShownFlag() const {
        return matchRule.isEmpty() ? flag : text::kDecidedByMatchRule.arg(matchFlag, matchRule);
    }
};

// Today's use of a rule's daily allowance by one person (match/schedule.h): what the rule lists
// show as "已用 42/60 分钟".
struct AllowanceUse {
    qint64 rule = 0; // 编号 of the match rule
    qint64 uid = -1;
    QString user; // the person's name, as the lists name users
    int usedMinutes =
        0;             // time in front on the rule's pages today (the day as the monitor counts it)
    int allowance = 0; // the rule's minutes a day
    bool operator==(const AllowanceUse&) const = default;
};

// Whatever watches the browsers for the window: the monitor engine in the same process, or a
// system guard reached over its socket. The view knows only this.
//
// The rule commands throw StoreError with a message the user can read when the rules cannot
// be read or changed (or may not be changed by this user); a command that throws has changed
// nothing. A command that changes a rule makes the monitor look at the browsers at once.
class Monitor : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual void Start() = 0;
    virtual void Stop() = 0;
    virtual bool IsMonitoring() const = 0;
    virtual const MonitorStatus& Status() const = 0;
    // A tick: asks for a look at the browsers now; returns at once.
    virtual void OnTimer() = 0;

    // The rules whose flag is `flag`, oldest first.
    virtual std::vector<Rule> ListByFlag(const QString& flag) = 0;
    // The rule that decides for a page title, if any.
    virtual std::optional<Rule> FindByName(const QString& name) = 0;
    // Gives `flag` to the rule that decides for `name` and, when `url` is not empty, to every
    // rule with that address. The number of rules changed.
    virtual int SetFlagForWindow(const QString& flag, const QString& name, const QString& url) = 0;
    // Deletes every rule with the address `url`; when `url` is empty, only the rule that
    // decides for `name`. The number of rules deleted.
    virtual int DeleteRule(const QString& name, const QString& url) = 0;
    // Stores a rule for `name` with its flag in one step, unless one has this name already.
    // True when it was added.
    virtual bool AddRule(const QString& name, const QString& url, const QString& flag) = 0;
    // Whether the rule commands that change rules are this user's to give, as the monitor
    // decided when it was reached: a window may refuse them early, but whoever applies a
    // change checks again.
    virtual bool MayChangeRules() const { return true; }

    // The match rules (table 匹配规则), oldest first; none where the database has no such table.
    virtual std::vector<MatchRuleRow> ListMatchRules() = 0;
    // Whether the database has table 匹配规则; an older one gains it by AddMatchTable.
    virtual bool HasMatchTable() = 0;
    virtual void AddMatchTable() = 0;
    // The match rule of `kind` (网站 or 标题包含) whose text means what `text` means: the same
    // host, or the same words once normalised.
    virtual std::optional<MatchRuleRow> FindMatchRule(const QString& kind, const QString& text) = 0;
    // Stores a match rule with its flag unless one of that meaning exists; true when added. A
    // 网站 rule keeps its host alone (a pasted address gives its host), a 标题包含 rule the
    // words as typed. Text that names no host, or holds no visible character, is refused with
    // a StoreError that says so, and nothing changes.
    virtual bool AddMatchRule(const QString& kind, const QString& text, const QString& flag) = 0;
    // The number of match rules changed or deleted: that one rule, or none.
    virtual int SetMatchRuleFlag(qint64 id, const QString& flag) = 0;
    // Sets when a match rule holds (match/schedule.h; empty: always); the number changed. Times
    // that are no schedule are refused whole with a StoreError that says why in Chinese.
    virtual int SetMatchRuleTimes(qint64 id, const QString& times) = 0;
    virtual int DeleteMatchRule(qint64 id) = 0;

    // The visits (table 访问记录) the query asks for that this user may read: an administrator
    // everyone's, anyone else their own. None where the database has no such table.
    virtual std::vector<VisitRow> ListVisits(const VisitQuery& query) = 0;
    // Today's use of every rule's allowance that this user may read (as ListVisits): one entry
    // per rule with an allowance and person who used some of it today.
    virtual std::vector<AllowanceUse> AllowanceUses() { return {}; }

Q_SIGNALS:
    void windowSeen(const winwarden::SeenWindow& window);
    // The monitor asked a window to close; `uid` as in SeenWindow.
    void windowClosing(const QString& title, const QString& url, qint64 uid);
    // A failure of the rules, once until they work again.
    void storeFailed(const QString& message);
    void statusChanged(const winwarden::MonitorStatus& status);
    void cycleFinished();
};

} // namespace winwarden

Q_DECLARE_METATYPE(winwarden::SeenWindow)
Q_DECLARE_METATYPE(winwarden::MonitorStatus)
