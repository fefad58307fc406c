#pragma once

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QTemporaryDir>
#include <QVariant>
#include <optional>

namespace winwarden::test {

// One row of 窗口名表 as stored; a database NULL reads as std::nullopt. Rows compare equal
// when their three rule fields do, whatever their keys.
struct RuleRow {
    QVariant key;
    std::optional<QString> name;
    std::optional<QString> flag;
    std::optional<QString> url;

    friend bool operator==(const RuleRow& a, const RuleRow& b) {
        return a.name == b.name && a.flag == b.flag && a.url == b.url;
    }
};

// Readable rows in test failure messages.
char* toString(const RuleRow& row);
char* toString(const QList<RuleRow>& rows);

// A fresh rule database, "winwarden.mdb" in a temporary directory of its own, made the way the
// winwarden-db tool makes it and removed with the object. Its own connection (independent of
// any RuleStore) lets a test arrange and inspect the rows directly. Every helper throws
// std::runtime_error when the database refuses, so a broken set-up never passes silently.
class TempRuleDb final {
public:
    TempRuleDb();
    ~TempRuleDb();
    TempRuleDb(const TempRuleDb&) = delete;
    TempRuleDb& operator=(const TempRuleDb&) = delete;

    // The temporary directory, and the database file inside it.
    QString dir() const;
    QString path() const;

    // Stores one rule as-is; a null QString (or std::nullopt) is stored as NULL.
    void insert(const std::optional<QString>& name, const std::optional<QString>& flag,
                const std::optional<QString>& url);
    // Every row of 窗口名表 in insertion order, fields read by position 0 to 3.
    QList<RuleRow> rows() const;
    // Runs one SQL statement, e.g. to drop the table or reshape it.
    void exec(const QString& sql);
    // PRAGMA integrity_check's first answer: "ok" for a sound file.
    QString integrity() const;

private:
    QTemporaryDir m_dir;
    QSqlDatabase m_db;
};

// Runs the sqlite3 command-line shell on `file` with `script` on its standard input, as a user
// editing the database by hand would, and returns its exit status (-1 when it could not run).
// Its standard error is passed through to the test log.
int RunSqlite3(const QString& file, const QString& script);

} // namespace winwarden::test
