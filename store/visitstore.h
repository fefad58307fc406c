#pragma once

#include "store/rulestore.h"

#include <QDate>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace winwarden {

// One row of table 访问记录: a page shown in one tab from the cycle that first saw it until the
// cycle that no longer did. Times are milliseconds since the epoch; `end` is never before
// `start`.
struct VisitRow {
    qint64 id = 0;   // 编号; 0 until stored
    qint64 uid = -1; // 用户编号
    QString user;    // 用户
    QString station; // 站点: the host name of the machine that saw it
    QString title;   // 窗口名称
    QString host;    // 主机: the page's host as a person reads it
    QString url;     // 网址
    qint64 start = 0;
    qint64 end = 0;
    // 在前: how long the tab was the active one of a focused window; none where the browser's
    // source could not say (a report then counts the whole visit).
    std::optional<qint64> frontMs;
    QString result; // 结果: 通过 or 禁止
    QString rule;   // 规则: for a blocked page, the deciding rule as the live list names it
    bool operator==(const VisitRow&) const = default;

    // The time that counts as spent on the page: in front where known, else open.
    qint64 SpentMs() const { return frontMs.value_or(end - start); }
};

// Which visits to read: those that overlap [since, until) (ms since the epoch; 0 for no
// bound), of one user where `uid` is set (or `user`, by name, where it is not empty).
struct VisitQuery {
    std::optional<qint64> uid;
    QString user;
    qint64 since = 0;
    qint64 until = 0;
    // For the store's own use: a lower bound on the start, and a least length (-1: none).
    std::optional<qint64> startedFrom = std::nullopt;
    qint64 longerThan = -1;
    bool operator==(const VisitQuery&) const = default;
};

// The statements that add table 访问记录 (and its index on the start) where it is missing.
QStringList VisitTableStatements(bool postgres);

// The visits, over the rule store's connection (or a connection of the caller's). A database
// without the table has none; Write adds it. Throws StoreError as the store does.
class VisitStore final {
public:
    explicit VisitStore(RuleStore& store) : m_store(&store) {}
    explicit VisitStore(const QSqlDatabase& db) : m_db(db) {}

    bool HasTable();
    void AddTable();
    // Stores every visit in one transaction: those with an id are updated (their end and time
    // in front grow while they stay open), the others inserted and given their id. On a
    // failure nothing is stored and no id is given.
    void Write(std::vector<VisitRow*>& visits);
    // The visits the query asks for, by start, then key.
    std::vector<VisitRow> List(const VisitQuery& query);
    static constexpr qint64 kDayMs = 24LL * 3600 * 1000;
    // Deletes the visits that ended before `before` (ms since the epoch); the number deleted.
    int DeleteEndedBefore(qint64 before);
    // The time spent per site (host) by one user on one local day, in ms, biggest first: what
    // an allowance of that day has used. A visit across midnight counts to each day its share.
    std::vector<std::pair<QString, qint64>> SpentPerSite(qint64 uid, const QDate& day);

private:
    QSqlQuery Run(const QString& sql, const QVariantList& values = {});
    std::vector<VisitRow> ListWhere(const VisitQuery& query);
    bool Postgres() const;

    RuleStore* m_store = nullptr;
    QSqlDatabase m_db;
    std::optional<bool> m_hasTable; // as of the last look, on this connection generation
    quint64 m_generation = 0;
};

} // namespace winwarden
