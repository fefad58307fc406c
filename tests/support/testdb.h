#pragma once

#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QVariant>
#include <optional>

namespace winwarden::test {

// One row of 窗口名表 (NULL: std::nullopt), equal to another when the rule fields are.
struct RuleRow {
    QVariant key;
    std::optional<QString> name;
    std::optional<QString> flag;
    std::optional<QString> url;

    friend bool operator==(const RuleRow& a, const RuleRow& b) {
        return a.name == b.name && a.flag == b.flag && a.url == b.url;
    }
};

char* toString(const RuleRow& row);

// A fresh "winwarden.mdb" in a temporary directory, with a connection of its own; every member
// throws when the database refuses.
class TempRuleDb final {
public:
    TempRuleDb();
    ~TempRuleDb();

    QString dir() const { return m_dir.path(); }
    QString path() const { return m_dir.filePath(QStringLiteral("winwarden.mdb")); }

    void insert(const std::optional<QString>& name, const std::optional<QString>& flag,
                const std::optional<QString>& url);
    // Every row of 窗口名表 in insertion order.
    QList<RuleRow> rows() const;
    // Runs one statement and answers its first field, e.g. "ok" for PRAGMA integrity_check.
    QString exec(const QString& sql);

private:
    QTemporaryDir m_dir;
    QSqlDatabase m_db;
};

// The exit status (-1: did not run) of the sqlite3 shell fed `script`.
int RunSqlite3(const QString& file, const QString& script);

} // namespace winwarden::test
