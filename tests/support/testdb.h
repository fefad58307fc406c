#pragma once

#include <QProcessEnvironment>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <optional>

namespace winwarden::test {

// The rule fields of a row of 窗口名表 (NULL: std::nullopt).
struct RuleRow {
    std::optional<QString> name;
    std::optional<QString> flag;
    std::optional<QString> url;

    bool operator==(const RuleRow&) const = default;
};

char* toString(const RuleRow& row);

// A rule database a test reads and changes behind the store's back; members throw on refusal.
class RuleDb {
public:
    virtual ~RuleDb() = default;
    virtual QString name() const = 0;

    void insert(const std::optional<QString>& name, const std::optional<QString>& flag,
                const std::optional<QString>& url);
    // Every row of 窗口名表 in insertion order.
    QList<RuleRow> rows() const;
    // Runs one statement and answers its first field.
    QString exec(const QString& sql);

protected:
    explicit RuleDb(QString order) : m_order(std::move(order)) {}
    QSqlDatabase m_db;

private:
    QString m_order; // what sorts the rows by age
};

// A fresh "winwarden.mdb" in a temporary directory.
class TempRuleDb final : public RuleDb {
public:
    TempRuleDb();
    ~TempRuleDb() override;

    QString name() const override { return path(); }
    QString path() const { return m_dir.filePath(QStringLiteral("winwarden.mdb")); }

private:
    QTemporaryDir m_dir;
};

// How a program ended (code -1: it did not start, crashed or hung) and what it wrote.
struct RunOutcome {
    int code = -1;
    QString out, err;
};

// Runs `program` to its end in `dir` (empty: this process's folder) with `environment`.
RunOutcome
RunProgram(const QString& program, const QStringList& arguments, const QString& dir = {},
           const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());

// The exit status (-1: did not run) of the sqlite3 shell fed `script`.
int RunSqlite3(const QString& file, const QString& script);

} // namespace winwarden::test
