#pragma once

#include "store/rulestore.h"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace winwarden {

// One row of table 匹配规则: every field but the key may be NULL.
struct MatchRuleRow {
    qint64 id = 0;               // 编号
    std::optional<QString> kind; // 种类: 网站 or 标题包含
    std::optional<QString> text; // 内容: the host, or the words
    std::optional<QString> flag; // 是否禁止
    // 时间: when the rule holds (match/schedule.h), NULL or empty for always. A column that
    // tables made before rules had times lack: it is added with the first rule's times.
    std::optional<QString> times;
    bool operator==(const MatchRuleRow&) const = default;
};

// The statements that add table 匹配规则 to a database that lacks it, and leave one that has
// it as it is: the table (a unique kind and text, so that two stations adding one rule at
// once add it once), and a change counter, 匹配规则版本, that triggers on the table raise with
// every change whoever makes it.
QStringList MatchTableStatements(bool postgres);

// The match rules, over the rule store's own connection. A database without the table has
// none. Another program's change is learnt from the change counter, read once per check (on a
// SQLite file only once another connection has committed anything at all), so that the rules
// themselves are read only when they changed. Throws StoreError as the store does.
class MatchStore final {
public:
    // Over the store's connection, whatever it is at the time.
    explicit MatchStore(RuleStore& store) : m_store(&store) {}
    // Over a connection of the caller's, inside whatever transaction it has begun.
    explicit MatchStore(const QSqlDatabase& db) : m_db(db) {}

    bool HasTable();
    // Adds the table (MatchTableStatements) in one transaction; a table there stays as it is.
    void AddTable();
    // Every match rule, in key order.
    std::vector<MatchRuleRow> List();
    // The same when the rules may have changed since the last answer (or the store has
    // connected again since), nothing when they have not.
    std::optional<std::vector<MatchRuleRow>> ListIfChanged();
    // Adds the rule unless one of this kind and text exists, decided in the one statement.
    // True when it was added.
    bool Add(const QString& kind, const QString& text, const QString& flag);
    // The oldest rule of this kind and text.
    std::optional<MatchRuleRow> Find(const QString& kind, const QString& text);
    // The number of rules changed or deleted.
    int SetFlag(qint64 id, const QString& flag);
    // Sets the rule's times as given (empty: always, stored as NULL); the caller has checked
    // them. Adds the column 时间 when the table lacks it.
    int SetTimes(qint64 id, const QString& times);
    int Delete(qint64 id);

private:
    enum class Tables { Unknown, None, Uncounted, Counted };
    Tables LookUpTables();
    bool HasTimesColumn();
    QString SelectAll();
    QSqlQuery Run(const QString& sql, const QVariantList& values = {});
    bool Postgres() const;
    std::vector<MatchRuleRow> ReadRows(const QString& sql, const QVariantList& values = {});
    qint64 Scalar(const QString& sql);
    int Change(const QString& sql, const QVariantList& values);

    RuleStore* m_store = nullptr;
    QSqlDatabase m_db;
    quint64 m_generation = 0;
    Tables m_tables = Tables::Unknown;
    std::optional<bool> m_timesColumn;   // known while m_tables is
    std::optional<qint64> m_dataVersion; // SQLite's, as of the last check
    // What the last answer was read under: the tables, the counter; and whether this store
    // has changed a rule since (a SQLite connection does not see its own commits).
    std::optional<std::pair<Tables, qint64>> m_answered;
    bool m_changedHere = false;
};

} // namespace winwarden
