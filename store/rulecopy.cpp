#include "store/rulecopy.h"

#include "store/connection.h"
#include "store/databasename.h"
#include "store/rulestore.h"
#include "store/schema.h"

#include <QFile>
#include <QSqlQuery>
#include <QSqlRecord>
#include <sys/stat.h>

namespace winwarden {

namespace {

// A PostgreSQL destination takes this many rules per statement: one round trip per rule
// would make a large copy take minutes.
constexpr int kBatch = 1000;

struct Column {
    QStringList texts;
};

// A connection that is closed and removed on every path.
class Connection final {
public:
    Connection(const DatabaseLocation& location, const char* purpose)
        : m_db(OpenDatabase(UniqueConnectionName(purpose), location, OpenMode::ReadWrite)) {}
    ~Connection() {
        if (m_inTransaction) {
            m_db.rollback();
        }
        CloseDatabase(m_db);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    QSqlDatabase& db() { return m_db; }
    void Begin() {
        if (!m_db.transaction()) {
            throw ErrorFrom(m_db.lastError());
        }
        m_inTransaction = true;
    }
    void Commit() {
        if (!m_db.commit()) {
            throw ErrorFrom(m_db.lastError());
        }
        m_inTransaction = false;
    }
    QSqlQuery Run(const QString& sql) {
        QSqlQuery query(m_db);
        query.setForwardOnly(true);
        if (!query.exec(sql)) {
            throw ErrorFrom(query.lastError());
        }
        return query;
    }

private:
    QSqlDatabase m_db;
    bool m_inTransaction = false;
};

// The rules of `from`, oldest first: three columns of texts, a NULL as a null QString.
std::array<Column, 3> ReadRules(const DatabaseLocation& from) {
    Connection source(from, "copy-from");
    const QString order = IsPostgres(source.db()) ? QStringLiteral("1") : QStringLiteral("rowid");
    QSqlQuery query(source.db());
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT * FROM 窗口名表 ORDER BY ") + order) &&
        !query.exec(QStringLiteral("SELECT * FROM 窗口名表"))) {
        throw ErrorFrom(query.lastError());
    }
    if (query.record().count() < 4) {
        throw StoreError(QStringLiteral("bad-position"),
                         QStringLiteral("表 窗口名表 只有 %1 个字段，至少需要 4 个")
                             .arg(query.record().count()));
    }
    std::array<Column, 3> columns;
    while (query.next()) {
        for (int i = 0; i < 3; ++i) {
            const int position = i + 1;
            const auto text =
                query.isNull(position) ? std::nullopt : RuleStore::FieldText(query.value(position));
            columns[i].texts.append(text ? (text->isNull() ? QStringLiteral("") : *text)
                                         : QString());
        }
    }
    if (query.lastError().isValid()) {
        throw ErrorFrom(query.lastError());
    }
    return columns;
}

QVariant Value(const QString& text) {
    return text.isNull() ? QVariant(QMetaType::fromType<QString>()) : QVariant(text);
}

void WriteRules(Connection& target, const std::array<Column, 3>& rules) {
    const qsizetype count = rules[0].texts.size();
    QSqlQuery insert(target.db());
    if (IsPostgres(target.db())) {
        // WITH ORDINALITY and ORDER BY keep the source's order in the identity key.
        if (!insert.prepare(QStringLiteral(
                "INSERT INTO 窗口名表 (窗口名称,是否禁止,网址) SELECT n, f, u FROM "
                "unnest(?::text[], ?::text[], ?::text[]) WITH ORDINALITY AS r(n, f, u, i) "
                "ORDER BY i"))) {
            throw ErrorFrom(insert.lastError());
        }
        for (qsizetype first = 0; first < count; first += kBatch) {
            for (int i = 0; i < 3; ++i) {
                insert.bindValue(i, PgArrayLiteral(rules[i].texts.mid(first, kBatch)));
            }
            if (!insert.exec()) {
                throw ErrorFrom(insert.lastError());
            }
        }
        return;
    }
    if (!insert.prepare(
            QStringLiteral("INSERT INTO 窗口名表 (窗口名称,是否禁止,网址) VALUES(?,?,?)"))) {
        throw ErrorFrom(insert.lastError());
    }
    for (qsizetype row = 0; row < count; ++row) {
        for (int i = 0; i < 3; ++i) {
            insert.bindValue(i, Value(rules[i].texts[row]));
        }
        if (!insert.exec()) {
            throw ErrorFrom(insert.lastError());
        }
    }
}

// Inside the caller's transaction: the table first where there is none yet.
void AddMissingMatchTable(Connection& connection, MatchStore& store) {
    if (!store.HasTable()) {
        for (const QString& statement : MatchTableStatements(IsPostgres(connection.db()))) {
            connection.Run(statement);
        }
    }
}

void ImportMatchRules(Connection& connection, const std::vector<MatchRuleRow>& matches,
                      ImportCounts& counts) {
    if (matches.empty()) {
        return;
    }
    MatchStore store(connection.db());
    AddMissingMatchTable(connection, store);
    for (const MatchRuleRow& match : matches) {
        const QString kind = match.kind.value_or(QString());
        const QString text = match.text.value_or(QString());
        // A rule's times go with it: an imported rule without them holds always.
        const QString times = match.times.value_or(QString());
        if (const std::optional<MatchRuleRow> held = store.Find(kind, text)) {
            const bool sameTimes = held->times.value_or(QString()) == times;
            if (held->flag == match.flag && sameTimes) {
                ++counts.skipped;
                continue;
            }
            if (held->flag != match.flag) {
                store.SetFlag(held->id, match.flag.value_or(QString()));
            }
            if (!sameTimes) {
                store.SetTimes(held->id, times);
            }
            ++counts.changed;
        } else if (store.Add(kind, text, match.flag.value_or(QString()))) {
            if (!times.isEmpty()) {
                store.SetTimes(store.Find(kind, text)->id, times);
            }
            ++counts.added;
        } else {
            ++counts.skipped; // another writer added it meanwhile
        }
    }
}

bool EntryExists(const QString& path) {
    struct stat info {};
    return lstat(QFile::encodeName(path).constData(), &info) == 0;
}

QString TextOf(const std::optional<QString>& text) {
    return text ? (text->isNull() ? QStringLiteral("") : *text) : QString();
}

} // namespace

std::vector<MatchRuleRow> ReadAllMatchRules(const QString& name) {
    Connection source(ParseDatabaseName(name), "copy-matches");
    return MatchStore(source.db()).List();
}

std::vector<Rule> ReadAllRules(const QString& name) {
    const std::array<Column, 3> columns = ReadRules(ParseDatabaseName(name));
    std::vector<Rule> rules;
    rules.reserve(static_cast<size_t>(columns[0].texts.size()));
    for (qsizetype row = 0; row < columns[0].texts.size(); ++row) {
        const auto field = [&](int i) -> std::optional<QString> {
            const QString& text = columns[static_cast<size_t>(i)].texts[row];
            return text.isNull() ? std::nullopt : std::optional(text);
        };
        rules.push_back(Rule{field(0), field(1), field(2)});
    }
    return rules;
}

ImportCounts ImportRules(const QString& name, const std::vector<Rule>& rules,
                         const std::vector<MatchRuleRow>& matches) {
    CheckRuleDatabase(name);
    Connection connection(ParseDatabaseName(name), "import");
    connection.Begin();
    const bool postgres = IsPostgres(connection.db());
    if (postgres) {
        // No station may add a rule of a name between the look and the insert.
        connection.Run(QStringLiteral("LOCK TABLE 窗口名表 IN SHARE ROW EXCLUSIVE MODE"));
    }
    // The rule that decides for a name: the oldest, by rowid or by the leading column.
    QSqlQuery find(connection.db());
    find.setForwardOnly(true);
    if (!find.prepare(postgres
                          ? QStringLiteral("SELECT * FROM 窗口名表 WHERE 窗口名称=? ORDER BY 1 "
                                           "LIMIT 1")
                          : QStringLiteral("SELECT rowid, * FROM 窗口名表 WHERE 窗口名称=? "
                                           "ORDER BY rowid LIMIT 1"))) {
        throw ErrorFrom(find.lastError());
    }
    QSqlQuery insert(connection.db());
    if (!insert.prepare(
            QStringLiteral("INSERT INTO 窗口名表 (窗口名称,是否禁止,网址) VALUES(?,?,?)"))) {
        throw ErrorFrom(insert.lastError());
    }
    const int flagColumn = postgres ? 2 : 3;
    QString keyColumn;
    ImportCounts counts;
    for (const Rule& rule : rules) {
        if (rule.name) {
            find.bindValue(0, TextOf(rule.name));
            if (!find.exec()) {
                throw ErrorFrom(find.lastError());
            }
            if (find.next()) {
                const std::optional<QString> held =
                    find.isNull(flagColumn) ? std::nullopt
                                            : RuleStore::FieldText(find.value(flagColumn));
                const QVariant key = find.value(0);
                if (keyColumn.isEmpty()) {
                    keyColumn = postgres ? find.record().fieldName(0) : QStringLiteral("rowid");
                }
                find.finish();
                if (held == rule.flag) {
                    ++counts.skipped;
                    continue;
                }
                QSqlQuery change(connection.db());
                change.prepare(
                    QStringLiteral("UPDATE 窗口名表 SET 是否禁止=? WHERE \"%1\"=?").arg(keyColumn));
                change.bindValue(0, Value(TextOf(rule.flag)));
                change.bindValue(1, key);
                if (!change.exec()) {
                    throw ErrorFrom(change.lastError());
                }
                ++counts.changed;
                continue;
            }
            find.finish();
        }
        insert.bindValue(0, Value(TextOf(rule.name)));
        insert.bindValue(1, Value(TextOf(rule.flag)));
        insert.bindValue(2, Value(TextOf(rule.url)));
        if (!insert.exec()) {
            throw ErrorFrom(insert.lastError());
        }
        ++counts.added;
    }
    ImportMatchRules(connection, matches, counts);
    connection.Commit();
    return counts;
}

int CopyRules(const QString& from, const QString& to) {
    const DatabaseLocation source = ParseDatabaseName(from);
    const DatabaseLocation target = ParseDatabaseName(to);
    const std::array<Column, 3> rules = ReadRules(source);
    const std::vector<MatchRuleRow> matches = ReadAllMatchRules(from);

    const bool create = target.engine == DatabaseLocation::Engine::Sqlite &&
                        !target.path.isEmpty() && !EntryExists(target.path);
    if (create) {
        CreateRuleDatabase(target.path);
    } else {
        CheckRuleDatabase(to);
    }
    try {
        Connection connection(target, "copy-to");
        connection.Begin();
        if (IsPostgres(connection.db())) {
            // No station may record a rule between the test for an empty table and the copy.
            connection.Run(QStringLiteral("LOCK TABLE 窗口名表 IN SHARE ROW EXCLUSIVE MODE"));
        }
        if (connection.Run(QStringLiteral("SELECT 1 FROM 窗口名表 LIMIT 1")).next()) {
            throw StoreError(QStringLiteral("not-empty"),
                             QStringLiteral("目标的表 窗口名表 不是空的，不会混入规则"));
        }
        WriteRules(connection, rules);
        MatchStore store(connection.db());
        AddMissingMatchTable(connection, store);
        if (!store.List().empty()) {
            throw StoreError(QStringLiteral("not-empty"),
                             QStringLiteral("目标的表 匹配规则 不是空的，不会混入规则"));
        }
        QSqlQuery insert(connection.db());
        if (!insert.prepare(
                QStringLiteral("INSERT INTO 匹配规则 (种类,内容,是否禁止) VALUES(?,?,?)"))) {
            throw ErrorFrom(insert.lastError());
        }
        for (const MatchRuleRow& match : matches) {
            insert.bindValue(0, Value(TextOf(match.kind)));
            insert.bindValue(1, Value(TextOf(match.text)));
            insert.bindValue(2, Value(TextOf(match.flag)));
            if (!insert.exec()) {
                throw ErrorFrom(insert.lastError());
            }
            if (match.times && !match.times->isEmpty()) {
                store.SetTimes(store.Find(TextOf(match.kind), TextOf(match.text))->id,
                               *match.times);
            }
        }
        connection.Commit();
    } catch (const StoreError&) {
        if (create) {
            QFile::remove(target.path);
        }
        throw;
    }
    return static_cast<int>(rules[0].texts.size() + static_cast<qsizetype>(matches.size()));
}

} // namespace winwarden
