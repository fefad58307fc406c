#pragma once

#include "store/databasename.h"

#include <QHash>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace winwarden {

// One window rule as the table holds it: each field may be NULL.
struct Rule {
    std::optional<QString> name; // 窗口名称, the page title
    std::optional<QString> flag; // 是否禁止
    std::optional<QString> url;  // 网址
    bool operator==(const Rule&) const = default;
};

// The window rules: table 窗口名表 in a SQLite file or in a database on a PostgreSQL server,
// with a leading key, then 窗口名称, 是否禁止 and 网址, read by position (1, 2, 3) so that a
// hand-made table works. Of several rules with one name the oldest decides: by rowid in SQLite,
// by the leading column on a server (the engine's order where that cannot be sorted).
//
// Every failure throws StoreError with the engine's message; after a failed statement the
// store keeps working. No statement holds the file once it has returned.
class RuleStore final {
public:
    static constexpr const char* kDefaultFile = "winwarden.mdb";

    RuleStore();
    ~RuleStore();
    RuleStore(const RuleStore&) = delete;
    RuleStore& operator=(const RuleStore&) = delete;

    // Opens an existing rule database read-write; never creates one. `name` is a file path or
    // a postgresql:// URI (see ParseDatabaseName); a server database must reach the server
    // within about 2 s and hold the table. Throws on failure.
    void Open(const QString& name = QString::fromLatin1(kDefaultFile));
    void Close();
    bool IsOpen() const;
    // The name given to Open, without any password.
    const QString& Path() const;

    // What is at the path now, against the file that is open.
    enum class FileState { Same, Replaced, Missing };
    // When the file at the path is no longer the one that is open (deleted, or replaced by a
    // rename), closes the store and, where there is a file again, opens that one. Throws when
    // the new file cannot be opened; the store is closed then. On a server: Same while the
    // connection works; after a lost connection (or a failed reopen) connects again and
    // answers Replaced, or throws while the server cannot be reached. After an attempt that
    // waited out the connect time-out, the calls of the next 15 s throw at once.
    FileState ReopenIfReplaced();

    // How long a statement waits for another process's lock before it fails; on a server, how
    // long any statement may take (statement_timeout). Setting the value in force costs nothing.
    void SetBusyTimeout(int milliseconds);

    std::optional<Rule> FindByName(const QString& title);
    // The deciding rule of every title that has one, in one statement at most. On a SQLite
    // file the titles the last call asked for are answered from memory while no other
    // connection has committed since and this store has changed nothing but the rules it
    // added: a pass that meets only known pages costs one PRAGMA.
    QHash<QString, Rule> FindByNames(const QStringList& titles);
    // Stores (title, "通过", url) unless a rule with this name exists, decided inside the one
    // statement so that two writers never both add it. True when a rule was added.
    bool InsertPassed(const QString& title, const QString& url);
    // The same with a flag of the caller's: the rule is never seen with another flag.
    bool InsertRule(const QString& title, const QString& flag, const QString& url);
    // The same for many pages in one transaction; the number of rules added. Either all the
    // missing rules are added or, on a failure, none. On a server, a page whose title or URL
    // holds U+0000 (which PostgreSQL text cannot) is passed over, and FindByNames finds no
    // rule for such a title.
    int InsertPassed(const std::vector<std::pair<QString, QString>>& pages);
    // The number of rules changed or deleted. An empty URL names no rule: the rules without an
    // address share it, and a change meant for one must not reach the others.
    int SetFlagByUrl(const QString& flag, const QString& url);
    int DeleteByUrl(const QString& url);
    // Changes the rules with this URL (none for an empty one) and the rule that decides for
    // this name (none for a null name).
    int SetFlagForWindow(const QString& flag, const QString& name, const QString& url);
    // Deletes the rules with this URL; for an empty URL, only the rule that decides for this
    // name (none for a null name).
    int DeleteRule(const QString& name, const QString& url);
    std::vector<Rule> ListByFlag(const QString& flag);

    // For the tables beside 窗口名表 (store/matchstore.h): runs `sql` on the store's own
    // connection, with `values` bound in order (prepared afresh), or as it is when there are
    // none; a failure throws and counts as any other statement's. The caller reads the rows
    // and lets the answer go before the next statement.
    QSqlQuery Execute(const QString& sql, const QVariantList& values = {});
    // Changes whenever the store opens a connection (a file opened again, a server reached
    // again): what a caller knew of the old one may no longer hold.
    quint64 Generation() const;
    bool IsPostgres() const;

    // The text of a field value: none for a database NULL, the empty string for an empty
    // string, a number's string form for a number.
    static std::optional<QString> FieldText(const QVariant& value);

private:
    void Reconnect();

    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace winwarden
