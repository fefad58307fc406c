#include "store/rulestore.h"

#include "store/connection.h"
#include "store/databasename.h"
#include "store/flag.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSqlQuery>
#include <QSqlRecord>
#include <array>
#include <initializer_list>
#include <sys/stat.h>

namespace winwarden {

namespace {

// What a statement on a server may take outside a cycle (which sets its own, shorter limit):
// the user interface waits on it.
constexpr int kStatementTimeoutMs = 2000;
// A connect attempt this slow met a server, or a network, that does not answer.
constexpr qint64 kSlowConnectMs = 1000;
constexpr qint64 kSlowServerPauseMs = 15000;

enum Statement {
    kFind,
    kFindMany,
    kInsert,
    kInsertMany,
    kSetFlag,
    kSetFlagForWindow,
    kDelete,
    kDeleteForWindow,
    kList,
    kDataVersion,
    kStatementCount
};

struct StatementText {
    QString withRowid;
    // Used when the table has no usable order (a hand-made WITHOUT ROWID table, or a leading
    // column PostgreSQL cannot sort): the engine's order decides then.
    QString plain;
    // Columns ahead of the table's own in a row of the rowid text: its leading rowid.
    int rowidColumns = 0;
};

using Dialect = std::array<StatementText, kStatementCount>;

// Of two rules with one name the older decides. A lookup by one name reads the name's index,
// which keeps equal names in rowid order, so ORDER BY rowid costs no sort there. A lookup of
// many names reads each rule's rowid instead and picks the smallest itself: with ORDER BY the
// planner may prefer walking the whole table in rowid order to sorting a few rows. A batch of
// new rules is one statement per rule inside a transaction.
const Dialect& SqliteTexts() {
    static const Dialect texts{{
        {QStringLiteral("SELECT * FROM 窗口名表 WHERE 窗口名称=? ORDER BY rowid LIMIT 1"),
         QStringLiteral("SELECT * FROM 窗口名表 WHERE 窗口名称=? LIMIT 1")},
        {QStringLiteral("SELECT rowid, * FROM 窗口名表 WHERE 窗口名称 IN "
                        "(SELECT value FROM json_each(?))"),
         QStringLiteral(
             "SELECT * FROM 窗口名表 WHERE 窗口名称 IN (SELECT value FROM json_each(?))"),
         1},
        {QStringLiteral(
             "INSERT INTO 窗口名表 (窗口名称,是否禁止,网址) SELECT ?,?,? WHERE NOT EXISTS "
             "(SELECT 1 FROM 窗口名表 WHERE 窗口名称=?)"),
         QString()},
        {QString(), QString()},
        {QStringLiteral("UPDATE 窗口名表 SET 是否禁止=? WHERE 网址=?"), QString()},
        {QStringLiteral("UPDATE 窗口名表 SET 是否禁止=? WHERE (?<>'' AND 网址=?) OR rowid=(SELECT "
                        "rowid FROM 窗口名表 WHERE 窗口名称=? ORDER BY rowid LIMIT 1)"),
         QStringLiteral("UPDATE 窗口名表 SET 是否禁止=? WHERE (?<>'' AND 网址=?) OR 窗口名称=?")},
        {QStringLiteral("DELETE FROM 窗口名表 WHERE 网址=?"), QString()},
        {QStringLiteral("DELETE FROM 窗口名表 WHERE rowid=(SELECT rowid FROM 窗口名表 WHERE "
                        "窗口名称=? ORDER BY rowid LIMIT 1)"),
         QStringLiteral("DELETE FROM 窗口名表 WHERE 窗口名称=? AND (网址 IS NULL OR 网址='')")},
        {QStringLiteral("SELECT * FROM 窗口名表 WHERE 是否禁止=? ORDER BY rowid"),
         QStringLiteral("SELECT * FROM 窗口名表 WHERE 是否禁止=?")},
        {QStringLiteral("PRAGMA data_version"), QString()},
    }};
    return texts;
}

// PostgreSQL has no rowid, and ctid changes with every update: the leading column, which
// winwarden-db makes an identity, gives the age. "ORDER BY 1" names it by position, so a
// hand-made table with any sortable leading column works too. Names travel as one array per
// statement; a batch of new rules is one statement, which takes its titles in name order so
// that two stations inserting overlapping batches wait for each other instead of deadlocking,
// and ON CONFLICT lets the unique index settle a race that NOT EXISTS alone cannot see. The
// names are joined as a set rather than compared with "= ANY": the planner then probes the
// index once per name instead of testing every row against the whole array.
const Dialect& PostgresTexts() {
    static const Dialect texts{{
        {QStringLiteral("SELECT * FROM 窗口名表 WHERE 窗口名称=?::text ORDER BY 1 LIMIT 1"),
         QStringLiteral("SELECT * FROM 窗口名表 WHERE 窗口名称=?::text LIMIT 1")},
        {QStringLiteral("SELECT DISTINCT ON (窗口名称) * FROM 窗口名表 WHERE 窗口名称 IN "
                        "(SELECT unnest(?::text[])) ORDER BY 窗口名称, 1"),
         QStringLiteral("SELECT * FROM 窗口名表 WHERE 窗口名称 IN (SELECT unnest(?::text[]))")},
        {QStringLiteral(
             "INSERT INTO 窗口名表 (窗口名称,是否禁止,网址) SELECT ?::text,?::text,?::text WHERE "
             "NOT EXISTS (SELECT 1 FROM 窗口名表 WHERE 窗口名称=?::text) ON CONFLICT DO NOTHING"),
         QString()},
        {QStringLiteral(
             "INSERT INTO 窗口名表 (窗口名称,是否禁止,网址) SELECT p.n, ?::text, p.u FROM "
             "(SELECT DISTINCT ON (n) n, u FROM unnest(?::text[], ?::text[]) WITH ORDINALITY "
             "AS q(n, u, i) ORDER BY n, i) AS p WHERE NOT EXISTS (SELECT 1 FROM 窗口名表 WHERE "
             "窗口名称 = p.n) ORDER BY p.n ON CONFLICT DO NOTHING"),
         QString()},
        {QStringLiteral("UPDATE 窗口名表 SET 是否禁止=?::text WHERE 网址=?::text"), QString()},
        {QStringLiteral("UPDATE 窗口名表 SET 是否禁止=?::text WHERE (?::text<>'' AND 网址=?::text) "
                        "OR ctid=(SELECT r FROM (SELECT *, ctid AS r FROM 窗口名表 WHERE "
                        "窗口名称=?::text ORDER BY 1 LIMIT 1) AS oldest)"),
         QStringLiteral("UPDATE 窗口名表 SET 是否禁止=?::text WHERE (?::text<>'' AND "
                        "网址=?::text) OR 窗口名称=?::text")},
        {QStringLiteral("DELETE FROM 窗口名表 WHERE 网址=?::text"), QString()},
        {QStringLiteral("DELETE FROM 窗口名表 WHERE ctid=(SELECT r FROM (SELECT *, ctid AS r FROM "
                        "窗口名表 WHERE 窗口名称=?::text ORDER BY 1 LIMIT 1) AS oldest)"),
         QStringLiteral(
             "DELETE FROM 窗口名表 WHERE 窗口名称=?::text AND (网址 IS NULL OR 网址='')")},
        {QStringLiteral("SELECT * FROM 窗口名表 WHERE 是否禁止=?::text ORDER BY 1"),
         QStringLiteral("SELECT * FROM 窗口名表 WHERE 是否禁止=?::text")},
        {QString(), QString()},
    }};
    return texts;
}

// The driver binds a null QString as a database NULL; every value the store is given is text,
// so an empty one must arrive as the empty text.
QString NotNull(const QString& value) {
    return value.isNull() ? QStringLiteral("") : value;
}

StoreError NotOpen() {
    return StoreError(QStringLiteral("not-open"), QStringLiteral("规则数据库未打开"));
}

// The titles as a JSON array of strings, for json_each. Written directly: a cycle passes a
// thousand titles each time, and a detour through a JSON document costs more than the lookup.
QString JsonArray(const QStringList& texts) {
    qsizetype length = 2;
    for (const QString& text : texts) {
        length += text.size() + 3;
    }
    QString json;
    json.reserve(length + length / 8);
    json.append(u'[');
    for (const QString& text : texts) {
        if (json.size() > 1) {
            json.append(u',');
        }
        json.append(u'"');
        // Runs that need no escape go in whole: most titles are one such run.
        qsizetype run = 0;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar c = text[i];
            if (c != u'"' && c != u'\\' && c.unicode() >= 0x20) {
                continue;
            }
            json.append(QStringView(text).sliced(run, i - run));
            if (c.unicode() < 0x20) {
                json.append(QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0')));
            } else {
                json.append(u'\\').append(c);
            }
            run = i + 1;
        }
        json.append(QStringView(text).sliced(run));
        json.append(u'"');
    }
    json.append(u']');
    return json;
}

// PostgreSQL text cannot hold U+0000, and a statement carrying one fails as a whole. A page
// can give itself such a title; it has no rule on a server and gets none, and it must not
// keep the other pages of the cycle from being looked up or recorded.
bool StorableOnServer(const QString& text) {
    return !text.contains(QChar(0));
}

// The texts for a "?::text[]" value, an absent URL as the empty text like a single one.
QString PgArray(QStringList texts) {
    for (QString& text : texts) {
        text = NotNull(text);
    }
    return PgArrayLiteral(texts);
}

struct FileId {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileId&) const = default;
};

std::optional<FileId> IdentityOf(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        return std::nullopt;
    }
    return FileId{info.st_dev, info.st_ino};
}

} // namespace

struct RuleStore::Impl {
    struct Prepared {
        QSqlQuery query;
        int rowidColumns = 0;
    };

    QSqlDatabase db;
    QString path;
    DatabaseLocation location;
    const Dialect* texts = &SqliteTexts();
    std::optional<FileId> identity;
    quint64 generation = 0;
    std::optional<int> busyTimeout; // as last set on this connection
    // A statement failed since the last check: the server connection may be gone.
    bool suspect = false;
    // Since the last reconnect that waited for a silent server, and why it failed.
    QElapsedTimer quietUntil;
    std::optional<StoreError> slowFailure;
    std::array<std::optional<Prepared>, kStatementCount> statements;
    // The deciding rules of the names the last lookup asked for, as of `knownVersion` of the
    // file. They stay true while no other connection commits (SQLite's data_version tells) and
    // this one changes nothing but adding rules it then knows. Only a SQLite file has them: a
    // server gives no such cheap sign of another station's change.
    QHash<QString, Rule> known;
    std::optional<qint64> knownVersion;

    void RequireOpen() const {
        if (!db.isOpen()) {
            throw NotOpen();
        }
    }

    Prepared& Prepare(Statement which) {
        std::optional<Prepared>& slot = statements[which];
        if (slot) {
            return *slot;
        }
        const StatementText& text = (*texts)[which];
        QSqlQuery query(db);
        query.setForwardOnly(true);
        int rowidColumns = text.rowidColumns;
        if (!query.prepare(text.withRowid)) {
            const StoreError failure = ErrorFrom(query.lastError());
            if (text.plain.isEmpty() || !query.prepare(text.plain)) {
                suspect = true;
                throw failure;
            }
            rowidColumns = 0;
        }
        slot.emplace(Prepared{std::move(query), rowidColumns});
        return *slot;
    }

    // Drops a statement that failed, so that the next use prepares it afresh.
    [[noreturn]] void Fail(Statement which) {
        const StoreError failure = ErrorFrom(statements[which]->query.lastError());
        statements[which].reset();
        suspect = true;
        throw failure;
    }

    Prepared& Run(Statement which, std::initializer_list<QString> values) {
        RequireOpen();
        Prepared& prepared = Prepare(which);
        int position = 0;
        for (const QString& value : values) {
            prepared.query.bindValue(position++, NotNull(value));
        }
        if (!prepared.query.exec()) {
            Fail(which);
        }
        return prepared;
    }

    int RunChange(Statement which, std::initializer_list<QString> values) {
        Forget();
        return RunInsert(which, values);
    }

    // A change that only adds rules the caller then records in `known` itself.
    int RunInsert(Statement which, std::initializer_list<QString> values) {
        QSqlQuery& query = Run(which, values).query;
        const int changed = query.numRowsAffected();
        query.finish();
        return std::max(changed, 0);
    }

    // Reads every row of a select that Run has executed, then lets go of the file at once.
    template <typename Visit> void ReadRows(Statement which, Visit visit) {
        Prepared& prepared = *statements[which];
        QSqlQuery& query = prepared.query;
        const int first = prepared.rowidColumns + 1;
        const int columns = query.record().count();
        if (columns < first + 3) {
            query.finish();
            throw StoreError(QStringLiteral("bad-position"),
                             QStringLiteral("表 窗口名表 只有 %1 个字段，至少需要 4 个")
                                 .arg(columns - prepared.rowidColumns));
        }
        while (query.next()) {
            const auto text = [&](int position) {
                return query.isNull(position) ? std::nullopt : FieldText(query.value(position));
            };
            visit(Rule{text(first), text(first + 1), text(first + 2)},
                  prepared.rowidColumns > 0 ? query.value(0).toLongLong() : 0);
        }
        if (query.lastError().isValid()) {
            Fail(which);
        }
        query.finish();
    }

    void Exec(const QString& statement) {
        QSqlQuery query(db);
        if (!query.exec(statement)) {
            suspect = true;
            throw ErrorFrom(query.lastError());
        }
    }

    bool Postgres() const { return location.engine == DatabaseLocation::Engine::Postgres; }

    void Forget() {
        known.clear();
        knownVersion.reset();
    }

    // Drops the known rules when another connection has committed since they were read.
    void CheckKnown() {
        QSqlQuery& query = Run(kDataVersion, {}).query;
        if (!query.next()) {
            Fail(kDataVersion);
        }
        const qint64 version = query.value(0).toLongLong();
        query.finish();
        if (version != knownVersion) {
            known.clear();
            knownVersion = version;
        }
    }

    void Close() {
        Forget();
        busyTimeout.reset();
        for (auto& statement : statements) {
            statement.reset();
        }
        if (db.isValid()) {
            CloseDatabase(db);
        }
    }
};

RuleStore::RuleStore() : m_impl(std::make_unique<Impl>()) {}

RuleStore::~RuleStore() {
    m_impl->Close();
}

void RuleStore::Open(const QString& name) {
    m_impl->Close();
    ++m_impl->generation;
    m_impl->location = ParseDatabaseName(name);
    m_impl->path = m_impl->location.display;
    m_impl->suspect = false;
    if (m_impl->Postgres()) {
        m_impl->texts = &PostgresTexts();
        m_impl->identity.reset();
        m_impl->db = OpenPostgres(UniqueConnectionName("rules"), m_impl->location);
        try {
            // Without the table every statement would fail; better to say so at once.
            m_impl->Exec(QStringLiteral("SELECT * FROM 窗口名表 WHERE false"));
            m_impl->Exec(QStringLiteral("SET statement_timeout = %1").arg(kStatementTimeoutMs));
        } catch (const StoreError&) {
            m_impl->Close();
            throw;
        }
        return;
    }
    m_impl->texts = &SqliteTexts();
    m_impl->db = OpenSqlite(UniqueConnectionName("rules"), name, OpenMode::ReadWrite);
    m_impl->identity = IdentityOf(name);
    // A cycle looks up every open page at once, all over the name index: with the whole
    // index in memory that costs no reads of the file. The engine drops the pages anyway as
    // soon as another program changes the file.
    m_impl->Exec(QStringLiteral("PRAGMA cache_size = -32768"));
}

void RuleStore::Close() {
    m_impl->Close();
}

bool RuleStore::IsOpen() const {
    return m_impl->db.isOpen();
}

const QString& RuleStore::Path() const {
    return m_impl->path;
}

// A server that does not answer at all costs the whole connect time-out, and the window waits
// on it: after such an attempt, the next ones fail at once with its reason for a while. A
// refused connection costs nothing and is tried again at every call.
void RuleStore::Reconnect() {
    if (m_impl->quietUntil.isValid() && !m_impl->quietUntil.hasExpired(kSlowServerPauseMs)) {
        throw *m_impl->slowFailure;
    }
    m_impl->quietUntil.invalidate();
    QElapsedTimer attempt;
    attempt.start();
    try {
        Open(m_impl->path);
    } catch (const StoreError& error) {
        if (attempt.elapsed() >= kSlowConnectMs) {
            m_impl->quietUntil.start();
            m_impl->slowFailure = error;
        }
        throw;
    }
}

RuleStore::FileState RuleStore::ReopenIfReplaced() {
    if (m_impl->Postgres()) {
        // A server has no file to replace, but its connection can break: after a failure,
        // one cheap statement tells, and a broken connection is made afresh.
        if (IsOpen() && m_impl->suspect) {
            try {
                m_impl->Exec(QStringLiteral("SELECT 1"));
                m_impl->suspect = false;
            } catch (const StoreError&) {
                m_impl->Close();
            }
        }
        if (IsOpen()) {
            return FileState::Same;
        }
        Reconnect();
        return FileState::Replaced;
    }
    const std::optional<FileId> now = IdentityOf(m_impl->path);
    if (!now) {
        // Whatever is written to a deleted file is lost; better to fail loudly until it is back.
        m_impl->Close();
        m_impl->identity.reset();
        return FileState::Missing;
    }
    if (IsOpen() && now == m_impl->identity) {
        return FileState::Same;
    }
    Open(m_impl->path);
    return FileState::Replaced;
}

void RuleStore::SetBusyTimeout(int milliseconds) {
    m_impl->RequireOpen();
    // A cycle sets its own time-out and a command the longer one: on a server each is a round
    // trip, which a connection that has it already is spared.
    if (m_impl->busyTimeout == milliseconds) {
        return;
    }
    m_impl->busyTimeout.reset();
    m_impl->Exec((m_impl->Postgres() ? QStringLiteral("SET statement_timeout = %1")
                                     : QStringLiteral("PRAGMA busy_timeout = %1"))
                     .arg(milliseconds));
    m_impl->busyTimeout = milliseconds;
}

std::optional<Rule> RuleStore::FindByName(const QString& title) {
    m_impl->Run(kFind, {title});
    std::optional<Rule> found;
    m_impl->ReadRows(kFind, [&](Rule rule, qint64) {
        if (!found) {
            found = std::move(rule);
        }
    });
    return found;
}

QHash<QString, Rule> RuleStore::FindByNames(const QStringList& titles) {
    QHash<QString, Rule> found;
    m_impl->RequireOpen();
    if (titles.isEmpty()) {
        return found;
    }
    found.reserve(titles.size());
    QStringList unknown;
    if (m_impl->Postgres()) {
        unknown = titles;
        unknown.removeIf([](const QString& title) { return !StorableOnServer(title); });
    } else {
        // A cycle meets mostly the pages it met two seconds ago: their rules are asked for
        // again only when something has written to the file since.
        m_impl->CheckKnown();
        for (const QString& title : titles) {
            const auto rule = m_impl->known.constFind(title);
            if (rule != m_impl->known.cend()) {
                found.insert(title, *rule);
            } else {
                unknown.append(title);
            }
        }
    }
    if (!unknown.isEmpty()) {
        m_impl->Run(kFindMany, {m_impl->Postgres() ? PgArray(unknown) : JsonArray(unknown)});
        QHash<QString, qint64> deciding; // name -> rowid of the rule that decides for it
        deciding.reserve(unknown.size());
        m_impl->ReadRows(kFindMany, [&](Rule rule, qint64 rowid) {
            const QString name = rule.name.value_or(QString());
            const auto seen = deciding.constFind(name);
            // Without rowids the engine's order stands: the first row read decides.
            if (seen == deciding.cend() || (rowid != 0 && rowid < *seen)) {
                deciding.insert(name, rowid);
                found.insert(name, std::move(rule));
            }
        });
    }
    if (!m_impl->Postgres()) {
        m_impl->known = found; // what the next cycle will ask for, and no more
    }
    return found;
}

bool RuleStore::InsertPassed(const QString& title, const QString& url) {
    return InsertRule(title, kFlagPass, url);
}

bool RuleStore::InsertRule(const QString& title, const QString& flag, const QString& url) {
    return m_impl->RunChange(kInsert, {title, flag, url, title}) > 0;
}

int RuleStore::InsertPassed(const std::vector<std::pair<QString, QString>>& pages) {
    m_impl->RequireOpen();
    if (pages.empty()) {
        return 0;
    }
    if (m_impl->Postgres()) {
        QStringList titles;
        QStringList urls;
        titles.reserve(static_cast<qsizetype>(pages.size()));
        urls.reserve(static_cast<qsizetype>(pages.size()));
        for (const auto& [title, url] : pages) {
            if (StorableOnServer(title) && StorableOnServer(url)) {
                titles.append(title);
                urls.append(url);
            }
        }
        return m_impl->RunChange(kInsertMany, {kFlagPass, PgArray(titles), PgArray(urls)});
    }
    m_impl->Exec(QStringLiteral("BEGIN IMMEDIATE"));
    std::vector<const std::pair<QString, QString>*> recorded;
    try {
        for (const auto& page : pages) {
            if (m_impl->RunInsert(kInsert, {page.first, kFlagPass, page.second, page.first}) > 0) {
                recorded.push_back(&page);
            }
        }
        m_impl->Exec(QStringLiteral("COMMIT"));
    } catch (const StoreError&) {
        QSqlQuery rollback(m_impl->db);
        rollback.exec(QStringLiteral("ROLLBACK"));
        m_impl->Forget();
        throw;
    }
    // Each added rule is the only one of its name, and so the one that decides for it.
    for (const auto* page : recorded) {
        m_impl->known.insert(page->first, Rule{page->first, kFlagPass, NotNull(page->second)});
    }
    return static_cast<int>(recorded.size());
}

int RuleStore::SetFlagByUrl(const QString& flag, const QString& url) {
    m_impl->RequireOpen();
    return url.isEmpty() ? 0 : m_impl->RunChange(kSetFlag, {flag, url});
}

int RuleStore::SetFlagForWindow(const QString& flag, const QString& name, const QString& url) {
    if (name.isNull()) {
        return SetFlagByUrl(flag, url);
    }
    return m_impl->RunChange(kSetFlagForWindow, {flag, url, url, name});
}

int RuleStore::DeleteByUrl(const QString& url) {
    m_impl->RequireOpen();
    return url.isEmpty() ? 0 : m_impl->RunChange(kDelete, {url});
}

int RuleStore::DeleteRule(const QString& name, const QString& url) {
    if (!url.isEmpty() || name.isNull()) {
        return DeleteByUrl(url);
    }
    return m_impl->RunChange(kDeleteForWindow, {name});
}

std::vector<Rule> RuleStore::ListByFlag(const QString& flag) {
    m_impl->Run(kList, {flag});
    std::vector<Rule> rules;
    m_impl->ReadRows(kList, [&](Rule rule, qint64) { rules.push_back(std::move(rule)); });
    return rules;
}

QSqlQuery RuleStore::Execute(const QString& sql, const QVariantList& values) {
    m_impl->RequireOpen();
    try {
        return RunStatement(m_impl->db, sql, values);
    } catch (const StoreError&) {
        m_impl->suspect = true;
        throw;
    }
}

quint64 RuleStore::Generation() const {
    return m_impl->generation;
}

bool RuleStore::IsPostgres() const {
    return m_impl->Postgres();
}

std::optional<QString> RuleStore::FieldText(const QVariant& value) {
    if (!value.isValid() || value.isNull()) {
        return std::nullopt;
    }
    switch (value.typeId()) {
    case QMetaType::QString:
        return value.toString();
    case QMetaType::QByteArray:
        return QString::fromUtf8(value.toByteArray());
    default:
        return value.toString();
    }
}

} // namespace winwarden
