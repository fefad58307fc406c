#include "engine/monitorengine.h"

#include "match/normalize.h"
#include "platform/programlog.h"
#include "res/texts.h"
#include "store/flag.h"
#include "store/storeerror.h"
#include "survey/shellwindows.h"

#include <QSet>
#include <QThread>
#include <QTimerEvent>
#include <QtDebug>

namespace winwarden {

namespace {

// The cycle runs on the user-interface thread: it waits for another program's lock on the
// rule file only briefly and tries again at the next tick. The user's own commands may wait
// longer.
constexpr int kCycleBusyTimeoutMs = 100;
constexpr int kCommandBusyTimeoutMs = 2000;
// What a match rule's text means, for telling two rules of one meaning apart: a 网站 rule's
// canonical host (its text when it names none), a 标题包含 rule's normalised words.
QString MatchMeaning(const QString& kind, const QString& text) {
    if (kind == kKindSite) {
        return CanonicalHost(text).value_or(text);
    }
    return NormalizeTitle(text);
}

} // namespace

MonitorEngine::MonitorEngine(std::unique_ptr<BrowserSource> source, QObject* parent)
    : Monitor(parent), m_source(std::move(source)), m_thread(new QThread(this)),
      m_worker(new QObject) {
    m_thread->setObjectName(QStringLiteral("winwarden-survey"));
    m_worker->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread->start();
    // A source that hears of a change asks for a cycle from whatever thread it hears it on.
    m_source->SetChangeNotifier([this] {
        QMetaObject::invokeMethod(this, &MonitorEngine::RequestEarlyCycle, Qt::QueuedConnection);
    });
}

MonitorEngine::~MonitorEngine() {
    if (m_status.monitoring) {
        m_visits.Stop(*m_clock);
    }
    m_timer.stop();
    m_earlyTimer.stop();
    m_source->SetChangeNotifier({});
    // A pass under way ends within its time-outs; what it posts back is dropped with us.
    m_thread->quit();
    m_thread->wait();
}

void MonitorEngine::OpenStore(const QString& path) {
    m_store.Open(path);
}

void MonitorEngine::Start() {
    if (m_status.monitoring) {
        return;
    }
    m_timer.start(kMonitorPeriodMs, this);
    MonitorStatus status;
    status.monitoring = true;
    status.storeFailure = m_status.storeFailure;
    SetStatus(status);
}

void MonitorEngine::Stop() {
    if (m_status.monitoring) {
        // A visit open when the monitor stops ends then.
        m_visits.Stop(*m_clock);
    }
    m_allowances.Pause();
    m_timer.stop();
    m_earlyTimer.stop();
    m_earlyWanted = false;
    m_passStale = m_passOut;
    MonitorStatus status = m_status;
    status.monitoring = false;
    SetStatus(status);
}

void MonitorEngine::timerEvent(QTimerEvent* event) {
    if (event->timerId() == m_earlyTimer.timerId()) {
        m_earlyTimer.stop();
    }
    OnTimer();
}

void MonitorEngine::OnTimer() {
    // A tick that falls due while a pass is out is dropped, as a pending tick would be.
    if (m_passOut) {
        return;
    }
    TakePass();
}

void MonitorEngine::RequestEarlyCycle() {
    if (!m_status.monitoring) {
        return;
    }
    if (m_passOut) {
        m_earlyWanted = true;
        return;
    }
    const qint64 credit = EarlyCredit();
    if (credit >= kEarlyCycleGapMs) {
        TakePass();
    } else if (!m_earlyTimer.isActive()) {
        m_earlyTimer.start(static_cast<int>(kEarlyCycleGapMs - credit), Qt::PreciseTimer, this);
    }
}

qint64 MonitorEngine::EarlyCredit() const {
    constexpr qint64 full = qint64(kEarlyCycleBurst) * kEarlyCycleGapMs;
    return m_creditSince.isValid() ? std::min(m_credit + m_creditSince.elapsed(), full) : full;
}

void MonitorEngine::TakePass() {
    m_passOut = true;
    m_passStale = false;
    m_earlyWanted = false;
    m_earlyTimer.stop();
    m_credit = std::max<qint64>(EarlyCredit() - kEarlyCycleGapMs, 0);
    m_creditSince.start();
    QMetaObject::invokeMethod(
        m_worker,
        [this] {
            auto pass = std::make_shared<const BrowserPass>(m_source->TakePass());
            QMetaObject::invokeMethod(
                this, [this, pass] { OnPassTaken(*pass); }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void MonitorEngine::CycleNow() {
    // A pass already out reads the rules when it comes back: it sees the change.
    if (m_status.monitoring && !m_passOut) {
        TakePass();
    }
}

std::vector<Rule> MonitorEngine::ListByFlag(const QString& flag) {
    return CommandStore().ListByFlag(flag);
}

std::optional<Rule> MonitorEngine::FindByName(const QString& name) {
    return CommandStore().FindByName(name);
}

int MonitorEngine::SetFlagForWindow(const QString& flag, const QString& name, const QString& url) {
    const int changed = CommandStore().SetFlagForWindow(flag, name, url);
    CycleNow();
    return changed;
}

int MonitorEngine::DeleteRule(const QString& name, const QString& url) {
    const int deleted = CommandStore().DeleteRule(name, url);
    CycleNow();
    return deleted;
}

bool MonitorEngine::AddRule(const QString& name, const QString& url, const QString& flag) {
    const bool added = CommandStore().InsertRule(name, flag, url);
    CycleNow();
    return added;
}

std::vector<MatchRuleRow> MonitorEngine::ListMatchRules() {
    return CommandMatches().List();
}

bool MonitorEngine::HasMatchTable() {
    return CommandMatches().HasTable();
}

void MonitorEngine::AddMatchTable() {
    CommandMatches().AddTable();
}

std::optional<MatchRuleRow> MonitorEngine::FindMatchRule(const QString& kind, const QString& text) {
    const QString meaning = MatchMeaning(kind, text);
    for (MatchRuleRow& rule : CommandMatches().List()) {
        if (rule.kind == kind && rule.text && MatchMeaning(kind, *rule.text) == meaning) {
            return std::move(rule);
        }
    }
    return std::nullopt;
}

bool MonitorEngine::AddMatchRule(const QString& kind, const QString& text, const QString& flag) {
    QString kept;
    if (kind == kKindSite) {
        const std::optional<QString> host = CanonicalHost(text);
        if (!host) {
            throw StoreError(QStringLiteral("no-host"), text::kMatchNotAHost.arg(text.trimmed()));
        }
        kept = DisplayHost(*host);
    } else if (kind == kKindTitleWord) {
        if (NormalizeTitle(text).isEmpty()) {
            throw StoreError(QStringLiteral("no-words"), text::kMatchNoWords);
        }
        kept = text.trimmed();
    } else if (kind == kKindAllWeb) {
        // Only a name: the rule speaks of every web page whatever it is called.
        kept = text.trimmed().isEmpty() ? QStringLiteral("所有网页") : text.trimmed();
    } else {
        throw StoreError(QStringLiteral("kind"), text::kMatchUnknownKind.arg(kind));
    }
    const bool added = CommandMatches().Add(kind, kept, flag);
    CycleNow();
    return added;
}

int MonitorEngine::SetMatchRuleFlag(qint64 id, const QString& flag) {
    const int changed = CommandMatches().SetFlag(id, flag);
    CycleNow();
    return changed;
}

int MonitorEngine::SetMatchRuleTimes(qint64 id, const QString& times) {
    QString kept;
    if (!times.trimmed().isEmpty()) {
        // The kind decides whether an allowance may stand in the times.
        QString kind;
        for (const MatchRuleRow& rule : CommandMatches().List()) {
            if (rule.id == id) {
                kind = rule.kind.value_or(QString());
            }
        }
        QString why;
        const std::optional<Schedule> schedule = ParseRuleTimes(kind, times, &why);
        if (!schedule) {
            throw StoreError(QStringLiteral("times"), QStringLiteral("时间设置无效：") + why);
        }
        kept = ScheduleText(*schedule);
    }
    const int changed = CommandMatches().SetTimes(id, kept);
    CycleNow();
    return changed;
}

int MonitorEngine::DeleteMatchRule(qint64 id) {
    const int deleted = CommandMatches().Delete(id);
    CycleNow();
    return deleted;
}

void MonitorEngine::WaitForCloseRequests() {
    QMetaObject::invokeMethod(
        m_worker, [] {}, Qt::BlockingQueuedConnection);
}

void MonitorEngine::OnPassTaken(const BrowserPass& pass) {
    m_passOut = false;
    // A tick runs a cycle whatever the monitoring state, but a stop forgets what it asked.
    if (!m_passStale) {
        RunCycle(pass);
    }
    if (m_earlyWanted) {
        RequestEarlyCycle();
    }
    Q_EMIT cycleFinished();
}

void MonitorEngine::RunCycle(const BrowserPass& pass) {
    const ShellWindows shellWindows(pass);
    TakeBrowserSnapshot(shellWindows, m_snapshot);

    MonitorStatus status = m_status;
    status.cycled = true;
    status.browsersWatched = pass.browsersWatched;
    status.browsersRead = pass.browsersRead;
    status.notices = QStringList(pass.notices.begin(), pass.notices.end());
    status.windows = 0;
    QStringList titles;
    titles.reserve(m_snapshot.count);
    QSet<QString> distinct;
    distinct.reserve(m_snapshot.count);
    for (int i = 0; i < m_snapshot.count; ++i) {
        const QString& title = m_snapshot.titles[static_cast<size_t>(i)];
        if (!title.isEmpty()) {
            ++status.windows;
            if (!distinct.contains(title)) {
                distinct.insert(title);
                titles.append(title);
            }
        }
    }
    SetStatus(status);

    // The match rules are read even while no page is open: a browser that can block ahead
    // must have them before the first page.
    try {
        switch (m_store.ReopenIfReplaced()) {
        case RuleStore::FileState::Missing:
            throw StoreError(QStringLiteral("missing"),
                             QStringLiteral("规则数据库文件不存在：%1").arg(m_store.Path()));
        case RuleStore::FileState::Replaced:
            LogLine(QStringLiteral("已重新打开规则数据库"));
            break;
        case RuleStore::FileState::Same:
            break;
        }
        m_store.SetBusyTimeout(kCycleBusyTimeoutMs);
        RefreshMatchRules();
        if (!titles.isEmpty()) {
            m_rules = m_store.FindByNames(titles);
        }
    } catch (const StoreError& error) {
        // Without the rules nothing can be decided; the next tick tries afresh.
        ReportStoreFailure(QStringLiteral("监视时读取窗口规则失败"), error.message());
        return;
    }
    CountAllowances(pass);
    if (titles.isEmpty()) {
        m_sightings.clear();
        RecordVisits(m_status);
        return;
    }

    // What was remembered of pages long closed goes, so that what is left stays quick to find.
    if (m_pageMatches.size() > 2 * qsizetype(status.windows) + 1000) {
        m_pageMatches.clear();
    }
    std::vector<WindowHandle> closes;
    TopLevelWindows windows(pass,
                            [&closes](const WindowHandle& window) { closes.push_back(window); });
    m_windows = &windows;
    m_newPages.clear();
    m_sightings.clear();
    for (int i = 0; i < m_snapshot.count; ++i) {
        const auto index = static_cast<size_t>(i);
        const QString& title = m_snapshot.titles[index];
        if (title.isEmpty()) {
            continue;
        }
        SeenWindow seen = CheckWindowRule(title, m_snapshot.urls[index], pass.windows[index]);
        seen.browser = m_snapshot.families[index];
        const BrowserWindow& window = pass.windows[index];
        const bool blocked =
            seen.matchRule.isEmpty() ? IsBlockingFlag(seen.flag) : seen.matchFlag == kFlagBlock;
        m_sightings.push_back(
            {window.handle, window.uid, title, seen.url, window.inFront, blocked,
             blocked ? (seen.matchRule.isEmpty() ? kKindTitle : seen.matchRule) : QString()});
        Q_EMIT windowSeen(seen);
    }
    m_windows = nullptr;
    // A close request waits on the browser, so the cycle's requests go, together, where the
    // passes go.
    if (!closes.empty()) {
        QMetaObject::invokeMethod(
            m_worker,
            [this, closes = std::move(closes)] {
                for (const WindowHandle& window : closes) {
                    m_source->RequestClose(window);
                }
            },
            Qt::QueuedConnection);
    }

    // Every rule that could be read has been enforced; a failure to record new titles only
    // delays their recording to the next tick.
    try {
        m_store.InsertPassed(m_newPages);
        ClearStoreFailure();
    } catch (const StoreError& error) {
        ReportStoreFailure(QStringLiteral("记录新窗口失败"), error.message());
    }
    m_newPages.clear();
    m_rules.clear();
    RecordVisits(m_status);
}

void MonitorEngine::RecordVisits(MonitorStatus status) {
    m_visits.Record(m_sightings, *m_clock);
    // What the record wants known stands beside what the sources want known.
    status.notices += m_visits.Notices();
    SetStatus(status);
}

std::vector<VisitRow> MonitorEngine::ListVisits(const VisitQuery& query) {
    RestoreBusyTimeout();
    return m_visits.List(query);
}

RuleStore& MonitorEngine::CommandStore() {
    RestoreBusyTimeout();
    return m_store;
}

MatchStore& MonitorEngine::CommandMatches() {
    RestoreBusyTimeout();
    return m_matches;
}

void MonitorEngine::RestoreBusyTimeout() {
    try {
        if (m_store.IsOpen()) {
            m_store.SetBusyTimeout(kCommandBusyTimeoutMs);
        }
    } catch (const StoreError&) {
        // The store's next statement reports what is wrong with it.
    }
}

void MonitorEngine::RefreshMatchRules() {
    std::optional<std::vector<MatchRuleRow>> rows = m_matches.ListIfChanged();
    if (rows) {
        std::vector<TimedRule> rules;
        rules.reserve(rows->size());
        for (const MatchRuleRow& row : *rows) {
            // A kind this program does not know, or a rule without text, decides nothing.
            if (!row.kind || !row.text ||
                (*row.kind != kKindSite && *row.kind != kKindTitleWord &&
                 *row.kind != kKindAllWeb)) {
                continue;
            }
            // Times that are no schedule (written by hand into the table) make the rule hold
            // never rather than always: it was meant to hold less, not more.
            std::optional<Schedule> schedule;
            if (row.times && !row.times->trimmed().isEmpty()) {
                schedule = ParseSchedule(*row.times, nullptr).value_or(Schedule{});
            }
            const MatchRule::Kind kind = *row.kind == kKindSite     ? MatchRule::Kind::Site
                                         : *row.kind == kKindAllWeb ? MatchRule::Kind::AllWeb
                                                                    : MatchRule::Kind::TitleWord;
            // An allowance counts on a 网站 or 全部网页 rule alone (ParseRuleTimes); one
            // written by hand on a 标题包含 rule is left out, the rule keeping its times.
            const int allowance =
                schedule && kind != MatchRule::Kind::TitleWord ? schedule->allowance : 0;
            rules.push_back(
                {{row.id, kind, *row.text, row.flag && IsBlockingFlag(*row.flag), allowance},
                 std::move(schedule)});
        }
        std::vector<AllowanceRule> allowances;
        for (const TimedRule& rule : rules) {
            if (rule.rule.allowance > 0) {
                allowances.push_back({rule.rule, rule.schedule,
                                      rule.rule.kind == MatchRule::Kind::Site
                                          ? CanonicalHost(rule.rule.text).value_or(QString())
                                          : QString()});
            }
        }
        // The rules with an allowance may be new: their time today is read again.
        m_allowances.SetRules(std::move(allowances));
        m_allowancesSeeded = false;
        m_timedRules = TimedRules(std::move(rules));
    }
    // The rules that hold are asked again only when the wall time has left the stretch of the
    // week in which they stay the same (or went back before it).
    const int minute = MinuteOfWeek(m_clock->Now());
    if (!rows && !m_timedRules.Due(minute)) {
        return;
    }
    std::vector<MatchRule> holding = m_timedRules.HoldingAt(minute);
    m_allowancesHolding.clear();
    bool blockAll = false;
    for (const MatchRule& rule : holding) {
        if (rule.allowance > 0) {
            m_allowancesHolding.insert(rule.id);
        } else if (rule.kind == MatchRule::Kind::AllWeb && rule.blocks) {
            blockAll = true;
        }
    }
    m_match = MatchIndex(std::move(holding));
    m_pageMatches.clear();
    m_siteRules = SiteRules{m_match.SitesBlocked(), m_match.SitesAllowed(), blockAll};
}

SeenWindow MonitorEngine::CheckWindowRule(const QString& title, const QString& url,
                                          const BrowserWindow& window) {
    SeenWindow seen{title, url, {}, {}, {}, {}, window.uid, {}};
    if (title.isEmpty()) {
        return seen;
    }
    std::optional<QString> flag;
    bool titleBlocks = false;
    if (const auto found = m_rules.constFind(title); found == m_rules.cend()) {
        // Recorded once, however often the title appears in this pass; a later entry with
        // the same title finds this rule.
        m_newPages.emplace_back(title, url);
        m_rules.insert(title, Rule{title, kFlagPass, url});
        flag = kFlagPass;
    } else {
        flag = found->flag;
        titleBlocks = found->name && flag && IsBlockingFlag(*flag);
    }
    // Looked up once while the match rules stay as they are: a cycle meets mostly the pages
    // of the last one, and a fresh look (the title normalised, the host taken apart) costs far
    // more than remembering it.
    PageMatch* page = nullptr;
    const MatchRule* site = nullptr;
    if (m_match.HasSites() || m_match.HasWords() || m_match.AllWebCount() > 0) {
        page = &m_pageMatches[title];
        if (!page->siteKnown || page->url != url) {
            const QString host = PageHost(url);
            page->url = url;
            page->site = m_match.HasSites() ? m_match.SiteFor(host) : nullptr;
            page->web = !host.isEmpty();
            page->siteKnown = true;
        }
        site = page->site;
    }
    const auto words = [&]() -> const MatchRule* {
        if (!page || !m_match.HasWords()) {
            return nullptr;
        }
        if (!page->wordKnown) {
            page->word = m_match.WordIn(NormalizeTitle(title));
            page->wordKnown = true;
        }
        return page->word;
    };
    // The cached match is the same for everyone; what a person's allowance says is theirs.
    const Verdict verdict =
        WithAllowances(Decide(titleBlocks, site, words), page && page->web, window.uid);
    switch (verdict.by) {
    case Verdict::By::TitleRule:
        // The n-th entry of a title finds the n-th window of that title (the pass's order), so
        // the entry's user is the closed window's.
        if (m_windows) {
            if (const std::optional<WindowHandle> open =
                    m_windows->FindByCaption(title + text::kCaptionSuffix)) {
                m_windows->RequestClose(*open);
                Q_EMIT windowClosing(title, url, window.uid);
            }
        }
        break;
    case Verdict::By::Site:
    case Verdict::By::TitleWord:
    case Verdict::By::AllWeb:
        // The rule speaks of this page alone (its host, its words), not of every window
        // that shares its title: this window goes, by its own handle.
        if (verdict.blocked && m_windows) {
            m_windows->RequestClose(window.handle);
            Q_EMIT windowClosing(title, url, window.uid);
        }
        seen.matchFlag = verdict.blocked ? kFlagBlock : kFlagPass;
        seen.matchRule = (verdict.by == Verdict::By::Site        ? kKindSite
                          : verdict.by == Verdict::By::TitleWord ? kKindTitleWord
                                                                 : kKindAllWeb) +
                         u' ' + verdict.rule->text;
        break;
    case Verdict::By::Nothing:
        break;
    }
    seen.flag = flag.value_or(QString());
    return seen;
}

void MonitorEngine::ReportStoreFailure(const QString& what, const QString& message) {
    const QString text = what + QStringLiteral("：") + message;
    const bool news = m_status.storeFailure.isEmpty();
    MonitorStatus status = m_status;
    status.storeFailure = text;
    SetStatus(status);
    if (news) {
        LogLine(text);
        Q_EMIT storeFailed(text);
    }
}

void MonitorEngine::ClearStoreFailure() {
    if (!m_status.storeFailure.isEmpty()) {
        MonitorStatus status = m_status;
        status.storeFailure.clear();
        SetStatus(status);
    }
}

void MonitorEngine::SetStatus(const MonitorStatus& status) {
    if (status == m_status) {
        return;
    }
    m_status = status;
    Q_EMIT statusChanged(m_status);
}

} // namespace winwarden
