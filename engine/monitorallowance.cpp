// The daily allowances in the monitor's cycle: each person's time counted, the verdict and the
// site rules that follow from it, and the notices before a limit is reached.
#include "engine/monitorengine.h"
#include "match/normalize.h"
#include "platform/programlog.h"
#include "store/storeerror.h"

#include <QThread>
#include <algorithm>
#include <pwd.h>
#include <unistd.h>

namespace winwarden {

namespace {

using namespace Qt::StringLiterals;

constexpr qint64 kMinuteMs = 60'000;
// A notice comes this long before an allowance runs out or a blocking schedule begins.
constexpr int kNoticeMinutes = 5;

QString PersonName(qint64 uid) {
    passwd entry{};
    passwd* result = nullptr;
    char buffer[4096];
    if (uid >= 0 && ::getpwuid_r(uid_t(uid), &entry, buffer, sizeof buffer, &result) == 0 &&
        result) {
        return QString::fromLocal8Bit(result->pw_name);
    }
    return QString::number(uid);
}

const AllowanceRule* FindRule(const AllowanceMeter& meter, qint64 id) {
    for (const AllowanceRule& rule : meter.Rules()) {
        if (rule.rule.id == id) {
            return &rule;
        }
    }
    return nullptr;
}

} // namespace

void MonitorEngine::SetDayStartHour(int hour) {
    m_allowances.SetDayStartHour(hour);
    m_allowancesSeeded = false;
}

qint64 MonitorEngine::MeterUid(qint64 uid) const {
    return uid < 0 ? qint64(::getuid()) : uid;
}

qint64 MonitorEngine::SourceUid(qint64 uid) const {
    return m_ownPagesUnknown && uid == qint64(::getuid()) ? -1 : uid;
}

bool MonitorEngine::UsedUp(const MatchRule& rule, qint64 uid) const {
    return m_allowances.UsedMs(MeterUid(uid), rule.id) >= rule.allowance * kMinuteMs;
}

// A blocking rule with an allowance lets a person's pages through until their time today
// reaches it; one whose flag is 通过 passes as any allowing rule, so flipping the flag to 通过
// switches the limit off, and back to 禁止 on again with the time counted meanwhile.
Verdict MonitorEngine::WithAllowances(Verdict verdict, bool webPage, qint64 uid) const {
    if (verdict.by == Verdict::By::Site && verdict.rule->blocks && verdict.rule->allowance > 0) {
        verdict.blocked = UsedUp(*verdict.rule, uid);
        return verdict;
    }
    // A 全部网页 rule speaks of the web pages no other match rule decided for.
    if (verdict.by != Verdict::By::Nothing || !webPage) {
        return verdict;
    }
    const MatchRule* passing = nullptr;
    for (int i = 0; i < m_match.AllWebCount(); ++i) {
        const MatchRule& rule = m_match.AllWeb(i);
        if (rule.blocks && (rule.allowance == 0 || UsedUp(rule, uid))) {
            return {Verdict::By::AllWeb, true, &rule};
        }
        passing = passing ? passing : &rule;
    }
    return passing ? Verdict{Verdict::By::AllWeb, false, passing} : verdict;
}

void MonitorEngine::CountAllowances(const BrowserPass& pass) {
    if (!m_allowances.Rules().empty()) {
        Meter(pass);
    }
    GiveSiteRules();
    NoticeAllowances();
    NoticeBeginnings(pass);
}

void MonitorEngine::Meter(const BrowserPass& pass) {
    std::vector<FrontPage> front;
    for (const BrowserWindow& window : pass.windows) {
        m_ownPagesUnknown = m_ownPagesUnknown || window.uid < 0;
        // A source that cannot say which tab is in front has all its tabs counted, as the
        // visit record counts them whole: an allowance that never ran out would be none.
        if (window.inFront.value_or(true)) {
            if (QString host = PageHost(window.url); !host.isEmpty()) {
                front.push_back({MeterUid(window.uid), std::move(host)});
            }
        }
    }
    // Read again before the interval is counted when the rules changed (what the store has
    // is up to the last cycle), after it at the first cycle (which makes the day known).
    if (!m_allowancesSeeded && m_allowances.Day()) {
        SeedAllowances();
    }
    m_allowances.Observe(front, m_clock->MonotonicMs(), m_clock->Now());
    if (!m_allowancesSeeded) {
        SeedAllowances();
    }
}

void MonitorEngine::SeedAllowances() {
    const std::optional<QDate> day = m_allowances.Day();
    VisitQuery query;
    query.since = m_allowances.DayBegins(*day).toMSecsSinceEpoch();
    query.until = m_allowances.DayBegins(day->addDays(1)).toMSecsSinceEpoch();
    try {
        m_allowances.Seed(m_visits.List(query));
        m_allowancesSeeded = true;
    } catch (const StoreError& error) {
        // Counted from now on meanwhile; the next cycle reads again.
        LogLine(u"读取今天的已用时间失败："_s + error.message());
    }
}

void MonitorEngine::GiveSiteRules() {
    SiteRules sites = m_siteRules;
    const QDateTime now = m_clock->Now();
    const QDateTime opens = m_allowances.DayBegins(m_allowances.DayOf(now).addDays(1));
    const QString when =
        (opens.date() == now.date() ? u"今天 "_s : u"明天 "_s) + opens.time().toString(u"HH:mm"_s);
    for (auto used = m_allowances.Used().cbegin(); used != m_allowances.Used().cend(); ++used) {
        const AllowanceRule* rule = FindRule(m_allowances, used.key().rule);
        if (!rule || !rule->rule.blocks || !m_allowancesHolding.contains(rule->rule.id) ||
            used.value() < rule->rule.allowance * kMinuteMs) {
            continue;
        }
        SiteRules::User& user = sites.users[SourceUid(used.key().uid)];
        const QString reason =
            u"今天的 %1 分钟已用完，%2 再开放"_s.arg(rule->rule.allowance).arg(when);
        if (rule->rule.kind == MatchRule::Kind::AllWeb) {
            user.blockAll = true;
            user.reasons.insert(QString(), reason);
        } else if (!rule->host.isEmpty()) {
            user.block.append(rule->host);
            user.reasons.insert(rule->host, reason);
        }
    }
    for (SiteRules::User& user : sites.users) {
        user.block.sort();
    }
    if (sites == m_siteRulesGiven) {
        return;
    }
    m_siteRulesGiven = sites;
    QMetaObject::invokeMethod(
        m_worker, [this, sites] { m_source->SetSiteRules(sites); }, Qt::QueuedConnection);
}

void MonitorEngine::NoticeAllowances() {
    for (const AllowanceMeter::Key& key : m_allowances.InFront()) {
        const AllowanceRule* rule = FindRule(m_allowances, key.rule);
        if (!rule || !rule->rule.blocks) {
            continue;
        }
        const qint64 left =
            rule->rule.allowance * kMinuteMs - m_allowances.UsedMs(key.uid, key.rule);
        if (left <= 0 || left > kNoticeMinutes * kMinuteMs || !m_allowances.FirstNotice(key)) {
            continue;
        }
        const QString text =
            u"还有 %1 分钟：%2 今天的时间快用完了"_s.arg((left + kMinuteMs - 1) / kMinuteMs)
                .arg(rule->rule.text);
        QMetaObject::invokeMethod(
            m_worker, [this, uid = SourceUid(key.uid), text] { m_source->Notify(uid, text); },
            Qt::QueuedConnection);
    }
}

void MonitorEngine::NoticeBeginnings(const BrowserPass& pass) {
    const QDateTime now = m_clock->Now();
    const int minute = MinuteOfWeek(now);
    const std::optional<int> next = m_timedRules.NextChange(minute);
    if (!next) {
        return;
    }
    const int ahead = (*next - minute + kMinutesPerWeek) % kMinutesPerWeek;
    const QString begin = now.date().toString(Qt::ISODate) + u' ' + QString::number(*next);
    if (ahead <= 0 || ahead > kNoticeMinutes || begin == m_beginNoticed) {
        return;
    }
    m_beginNoticed = begin;
    const QString at = now.addSecs(qint64(ahead) * 60).time().toString(u"HH:mm"_s);
    for (const MatchRule& rule : m_timedRules.BeginningAt(*next)) {
        if (!rule.blocks || rule.allowance > 0) {
            continue; // an allowance beginning blocks nothing yet
        }
        const QString host = rule.kind == MatchRule::Kind::Site
                                 ? CanonicalHost(rule.text).value_or(QString())
                                 : QString();
        const QString words =
            rule.kind == MatchRule::Kind::TitleWord ? NormalizeTitle(rule.text) : QString();
        const AllowanceRule covering{rule, std::nullopt, host};
        QSet<qint64> told;
        for (const BrowserWindow& window : pass.windows) {
            const bool blocks =
                rule.kind == MatchRule::Kind::TitleWord
                    ? !words.isEmpty() && NormalizeTitle(window.title).contains(words)
                    : covering.Covers(PageHost(window.url));
            if (!blocks || told.contains(window.uid)) {
                continue;
            }
            told.insert(window.uid);
            const QString text = u"还有 %1 分钟：%2 %3 起禁止"_s.arg(ahead).arg(rule.text, at);
            QMetaObject::invokeMethod(
                m_worker, [this, uid = window.uid, text] { m_source->Notify(uid, text); },
                Qt::QueuedConnection);
        }
    }
}

std::vector<AllowanceUse> MonitorEngine::AllowanceUses() {
    std::vector<AllowanceUse> uses;
    // Yesterday's counters, kept while the monitor stopped, are no use of today.
    if (m_allowances.Day() != m_allowances.DayOf(m_clock->Now())) {
        return uses;
    }
    for (auto used = m_allowances.Used().cbegin(); used != m_allowances.Used().cend(); ++used) {
        if (const AllowanceRule* rule = FindRule(m_allowances, used.key().rule);
            rule && used.value() > 0) {
            uses.push_back({rule->rule.id, used.key().uid, PersonName(used.key().uid),
                            int(used.value() / kMinuteMs), rule->rule.allowance});
        }
    }
    std::sort(uses.begin(), uses.end(), [](const AllowanceUse& a, const AllowanceUse& b) {
        return std::pair(a.rule, a.uid) < std::pair(b.rule, b.uid);
    });
    return uses;
}

} // namespace winwarden
