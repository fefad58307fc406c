#include "store/rulestore.h"

#include "store/connection.h"
#include "store/flag.h"

#include <QFile>
#include <QSqlQuery>
#include <QSqlRecord>
#include <array>
#include <initializer_list>
#include <sys/stat.h>

namespace winwarden {

namespace {

enum Statement {
    kFind,
    kFindMany,
    kInsert,
    kSetFlag,
    kSetFlagForWindow,
    kDelete,
    kList,
    kStatementCount
};

struct StatementText {
    QString withRowid;
    // Used when the table has no rowid (a hand-made WITHOUT ROWID table).
    QString plain;
    // Columns ahead of the table's own in a row of the rowid text: its leading rowid.
    int rowidColumns = 0;
};

// Of two rules with one name the older decides. A lookup by one name reads the name's index,
// which keeps equal names in rowid order, so ORDER BY rowid costs no sort there. A lookup of
// many names reads each rule's rowid instead and picks the smallest itself: with ORDER BY the
// planner may prefer walking the whole table in rowid order to sorting a few rows.
const std::array<StatementText, kStatementCount>& Texts() {
    static const std::array<StatementText, kStatementCount> texts{{
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
        {QStringLiteral("UPDATE 窗口名表 SET 是否禁止=? WHERE 网址=?"), QString()},
        {QStringLiteral("UPDATE 窗口名表 SET 是否禁止=? WHERE 网址=? OR rowid=(SELECT rowid FROM "
                        "窗口名表 WHERE 窗口名称=? ORDER BY rowid LIMIT 1)"),
         QStringLiteral("UPDATE 窗口名表 SET 是否禁止=? WHERE 网址=? OR 窗口名称=?")},
        {QStringLiteral("DELETE FROM 窗口名表 WHERE 网址=?"), QString()},
        {QStringLiteral("SELECT * FROM 窗口名表 WHERE 是否禁止=? ORDER BY rowid"),
         QStringLiteral("SELECT * FROM 窗口名表 WHERE 是否禁止=?")},
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
        for (const QChar c : text) {
            if (c == u'"' || c == u'\\') {
                json.append(u'\\').append(c);
            } else if (c.unicode() < 0x20) {
                json.append(QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0')));
            } else {
                json.append(c);
            }
        }
        json.append(u'"');
    }
    json.append(u']');
    return json;
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
    std::optional<FileId> identity;
    std::array<std::optional<Prepared>, kStatementCount> statements;

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
        const StatementText& text = Texts()[which];
        QSqlQuery query(db);
        query.setForwardOnly(true);
        int rowidColumns = text.rowidColumns;
        if (!query.prepare(text.withRowid)) {
            const StoreError failure = ErrorFrom(query.lastError());
            if (text.plain.isEmpty() || !query.prepare(text.plain)) {
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
            throw ErrorFrom(query.lastError());
        }
    }

    void Close() {
        for (auto& statement : statements) {
            statement.reset();
        }
        if (db.isValid()) {
            CloseSqlite(db);
        }
    }
};

RuleStore::RuleStore() : m_impl(std::make_unique<Impl>()) {}

RuleStore::~RuleStore() {
    m_impl->Close();
}

void RuleStore::Open(const QString& path) {
    m_impl->Close();
    m_impl->path = path;
    m_impl->db = OpenSqlite(UniqueConnectionName("rules"), path, OpenMode::ReadWrite);
    m_impl->identity = IdentityOf(path);
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

RuleStore::FileState RuleStore::ReopenIfReplaced() {
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
    m_impl->Exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(milliseconds));
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
    if (titles.isEmpty()) {
        m_impl->RequireOpen();
        return found;
    }
    m_impl->Run(kFindMany, {JsonArray(titles)});
    found.reserve(titles.size());
    QHash<QString, qint64> deciding; // name -> rowid of the rule that decides for it
    deciding.reserve(titles.size());
    m_impl->ReadRows(kFindMany, [&](Rule rule, qint64 rowid) {
        const QString name = rule.name.value_or(QString());
        const auto seen = deciding.constFind(name);
        // Without rowids the engine's order stands: the first row read decides.
        if (seen == deciding.cend() || (rowid != 0 && rowid < *seen)) {
            deciding.insert(name, rowid);
            found.insert(name, std::move(rule));
        }
    });
    return found;
}

bool RuleStore::InsertPassed(const QString& title, const QString& url) {
    return m_impl->RunChange(kInsert, {title, kFlagPass, url, title}) > 0;
}

int RuleStore::InsertPassed(const std::vector<std::pair<QString, QString>>& pages) {
    m_impl->RequireOpen();
    if (pages.empty()) {
        return 0;
    }
    m_impl->Exec(QStringLiteral("BEGIN IMMEDIATE"));
    int added = 0;
    try {
        for (const auto& [title, url] : pages) {
            added += m_impl->RunChange(kInsert, {title, kFlagPass, url, title});
        }
        m_impl->Exec(QStringLiteral("COMMIT"));
    } catch (const StoreError&) {
        QSqlQuery rollback(m_impl->db);
        rollback.exec(QStringLiteral("ROLLBACK"));
        throw;
    }
    return added;
}

int RuleStore::SetFlagByUrl(const QString& flag, const QString& url) {
    return m_impl->RunChange(kSetFlag, {flag, url});
}

int RuleStore::SetFlagForWindow(const QString& flag, const QString& name, const QString& url) {
    return m_impl->RunChange(kSetFlagForWindow, {flag, url, name});
}

int RuleStore::DeleteByUrl(const QString& url) {
    return m_impl->RunChange(kDelete, {url});
}

std::vector<Rule> RuleStore::ListByFlag(const QString& flag) {
    m_impl->Run(kList, {flag});
    std::vector<Rule> rules;
    m_impl->ReadRows(kList, [&](Rule rule, qint64) { rules.push_back(std::move(rule)); });
    return rules;
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
