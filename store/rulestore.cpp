#include "store/rulestore.h"

#include "store/connection.h"
#include "store/flag.h"

#include <QSqlQuery>
#include <QSqlRecord>
#include <array>
#include <initializer_list>

namespace winwarden {

namespace {

enum Statement { kFind, kInsert, kSetFlag, kDelete, kList, kStatementCount };

struct StatementText {
    QString ordered;
    // Used when the table has no rowid (a hand-made WITHOUT ROWID table): the engine's order.
    QString plain;
};

// ORDER BY rowid keeps rows in insertion order even when a hand-made index would list them
// otherwise, so that of two rules with one name the older decides. With the index on the
// looked-up column the engine reads the rows in that order anyway and sorts nothing.
const std::array<StatementText, kStatementCount>& Texts() {
    static const std::array<StatementText, kStatementCount> texts{{
        {QStringLiteral("SELECT * FROM 窗口名表 WHERE 窗口名称=? ORDER BY rowid"),
         QStringLiteral("SELECT * FROM 窗口名表 WHERE 窗口名称=?")},
        {QStringLiteral("INSERT INTO 窗口名表 (窗口名称,是否禁止,网址) VALUES(?,?,?)"), QString()},
        {QStringLiteral("UPDATE 窗口名表 SET 是否禁止=? WHERE 网址=?"), QString()},
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

} // namespace

struct RuleStore::Impl {
    QSqlDatabase db;
    std::array<std::optional<QSqlQuery>, kStatementCount> statements;
    QSqlQuery* current = nullptr;
    bool hasRow = false;
    int columns = 0;
    QString filter;
    bool batch = false;
    bool reading = false; // a read transaction of the batch is open

    void BeginRead() {
        if (!batch || reading) {
            return;
        }
        QSqlQuery begin(db);
        if (!begin.exec(QStringLiteral("BEGIN"))) {
            throw ErrorFrom(begin.lastError());
        }
        reading = true;
    }

    // After a failure the engine may have ended the transaction itself; either way the read
    // is over and holds nothing worth keeping.
    void AbandonRead() {
        if (reading) {
            reading = false;
            QSqlQuery rollback(db);
            rollback.exec(QStringLiteral("ROLLBACK"));
        }
    }

    // Nothing was written inside the read, so a failed commit loses nothing: roll back and
    // let the next statement find the file unlocked.
    void EndRead() {
        if (!reading) {
            return;
        }
        reading = false;
        QSqlQuery end(db);
        if (!end.exec(QStringLiteral("COMMIT"))) {
            const StoreError failure = ErrorFrom(end.lastError());
            QSqlQuery rollback(db);
            rollback.exec(QStringLiteral("ROLLBACK"));
            throw failure;
        }
    }

    void RequireOpen() const {
        if (!db.isOpen()) {
            throw NotOpen();
        }
    }

    QSqlQuery& Prepared(Statement which) {
        std::optional<QSqlQuery>& slot = statements[which];
        if (slot) {
            return *slot;
        }
        const StatementText& text = Texts()[which];
        QSqlQuery query(db);
        query.setForwardOnly(true);
        if (!query.prepare(text.ordered)) {
            const StoreError failure = ErrorFrom(query.lastError());
            if (text.plain.isEmpty() || !query.prepare(text.plain)) {
                throw failure;
            }
        }
        slot.emplace(std::move(query));
        return *slot;
    }

    // Drops a statement that failed, so that the next use prepares it afresh.
    [[noreturn]] void Fail(Statement which) {
        const StoreError failure = ErrorFrom(statements[which]->lastError());
        if (current == &*statements[which]) {
            current = nullptr;
            hasRow = false;
        }
        statements[which].reset();
        AbandonRead();
        throw failure;
    }

    void FinishCurrent() {
        if (current) {
            current->finish();
        }
        current = nullptr;
        hasRow = false;
    }

    // Steps the current result; at its end the statement is reset at once so that it holds
    // no read lock another process would have to wait for.
    void Advance(Statement which) {
        hasRow = current->next();
        if (!hasRow) {
            if (current->lastError().isValid()) {
                Fail(which);
            }
            current->finish();
        }
    }

    Statement CurrentStatement() const { return current == &*statements[kFind] ? kFind : kList; }

    void Run(Statement which, std::initializer_list<QString> values) {
        RequireOpen();
        const bool select = which == kFind || which == kList;
        if (select) {
            FinishCurrent();
            BeginRead();
        } else {
            EndRead();
        }
        QSqlQuery& query = Prepared(which);
        int position = 0;
        for (const QString& value : values) {
            query.bindValue(position++, NotNull(value));
        }
        if (!query.exec()) {
            Fail(which);
        }
        if (!select) {
            query.finish();
            return;
        }
        current = &query;
        columns = query.record().count();
        Advance(which);
    }

    void Close() {
        FinishCurrent();
        batch = false;
        AbandonRead();
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
    m_impl->db = OpenSqlite(UniqueConnectionName("rules"), path, OpenMode::ReadWrite);
    m_impl->filter = kFlagPass;
}

void RuleStore::Close() {
    m_impl->Close();
}

bool RuleStore::IsOpen() const {
    return m_impl->db.isOpen();
}

void RuleStore::FindByName(const QString& title) {
    m_impl->Run(kFind, {title});
}

void RuleStore::InsertPassed(const QString& title, const QString& url) {
    m_impl->Run(kInsert, {title, kFlagPass, url});
}

void RuleStore::SetFlagByUrl(const QString& flag, const QString& url) {
    m_impl->Run(kSetFlag, {flag, url});
}

void RuleStore::DeleteByUrl(const QString& url) {
    m_impl->Run(kDelete, {url});
}

void RuleStore::ListByFlag(const QString& flag) {
    m_impl->Run(kList, {flag});
}

bool RuleStore::AtEnd() const {
    return !m_impl->hasRow;
}

QVariant RuleStore::FieldValue(int position) const {
    m_impl->RequireOpen();
    if (!m_impl->hasRow) {
        throw StoreError(QStringLiteral("no-row"), QStringLiteral("记录集没有当前行"));
    }
    if (position < 0 || position >= m_impl->columns) {
        throw StoreError(QStringLiteral("bad-position"),
                         QStringLiteral("字段位置 %1 不存在（记录只有 %2 个字段）")
                             .arg(position)
                             .arg(m_impl->columns));
    }
    if (m_impl->current->isNull(position)) {
        return QVariant();
    }
    return m_impl->current->value(position);
}

void RuleStore::MoveNext() {
    m_impl->RequireOpen();
    if (!m_impl->hasRow) {
        throw StoreError(QStringLiteral("no-row"), QStringLiteral("记录集已到末尾"));
    }
    m_impl->Advance(m_impl->CurrentStatement());
}

void RuleStore::CloseRecordset() {
    m_impl->FinishCurrent();
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

void RuleStore::BeginReadBatch() {
    m_impl->RequireOpen();
    m_impl->batch = true;
}

void RuleStore::ReleaseReadLock() {
    m_impl->FinishCurrent();
    m_impl->EndRead();
}

void RuleStore::EndReadBatch() {
    m_impl->batch = false;
    ReleaseReadLock();
}

const QString& RuleStore::CurrentFilter() const {
    return m_impl->filter;
}

void RuleStore::SetCurrentFilter(const QString& filter) {
    m_impl->filter = filter;
}

} // namespace winwarden
