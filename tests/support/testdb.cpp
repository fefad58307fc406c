#include "tests/support/testdb.h"

#include "store/connection.h"
#include "store/schema.h"

#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <stdexcept>

namespace winwarden::test {

namespace {

[[noreturn]] void Fail(const QString& what, const QSqlError& error) {
    throw std::runtime_error(
        QStringLiteral("%1: %2").arg(what, ErrorFrom(error).message()).toStdString());
}

QVariant Bindable(const std::optional<QString>& value) {
    if (!value.has_value()) {
        return QVariant(QMetaType::fromType<QString>());
    }
    return value->isNull() ? QVariant(QStringLiteral("")) : QVariant(*value);
}

std::optional<QString> Text(const QSqlQuery& query, int position) {
    if (query.isNull(position)) {
        return std::nullopt;
    }
    return query.value(position).toString();
}

QString Describe(const RuleRow& row) {
    QStringList fields;
    for (const auto& field : {row.name, row.flag, row.url}) {
        fields.append(field ? u'"' + *field + u'"' : QStringLiteral("NULL"));
    }
    return u'(' + fields.join(QStringLiteral(", ")) + u')';
}

} // namespace

char* toString(const RuleRow& row) {
    return qstrdup(Describe(row).toUtf8().constData());
}

char* toString(const QList<RuleRow>& rows) {
    QStringList described;
    for (const RuleRow& row : rows) {
        described.append(Describe(row));
    }
    return qstrdup((u'[' + described.join(QStringLiteral(", ")) + u']').toUtf8().constData());
}

TempRuleDb::TempRuleDb() {
    if (!m_dir.isValid()) {
        throw std::runtime_error("cannot make a temporary directory");
    }
    try {
        CreateRuleDatabase(path());
        m_db = OpenSqlite(UniqueConnectionName("testdb"), path(), OpenMode::ReadWrite);
    } catch (const StoreError& error) {
        throw std::runtime_error(error.message().toStdString());
    }
}

TempRuleDb::~TempRuleDb() {
    CloseSqlite(m_db);
}

QString TempRuleDb::dir() const {
    return m_dir.path();
}

QString TempRuleDb::path() const {
    return m_dir.filePath(QStringLiteral("winwarden.mdb"));
}

void TempRuleDb::insert(const std::optional<QString>& name, const std::optional<QString>& flag,
                        const std::optional<QString>& url) {
    QSqlQuery query(m_db);
    if (!query.prepare(
            QStringLiteral("INSERT INTO 窗口名表 (窗口名称,是否禁止,网址) VALUES(?,?,?)"))) {
        Fail(QStringLiteral("prepare insert"), query.lastError());
    }
    query.addBindValue(Bindable(name));
    query.addBindValue(Bindable(flag));
    query.addBindValue(Bindable(url));
    if (!query.exec()) {
        Fail(QStringLiteral("insert"), query.lastError());
    }
}

QList<RuleRow> TempRuleDb::rows() const {
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT * FROM 窗口名表 ORDER BY rowid"))) {
        Fail(QStringLiteral("read rows"), query.lastError());
    }
    QList<RuleRow> result;
    while (query.next()) {
        result.append(RuleRow{query.value(0), Text(query, 1), Text(query, 2), Text(query, 3)});
    }
    if (query.lastError().isValid()) {
        Fail(QStringLiteral("read rows"), query.lastError());
    }
    return result;
}

void TempRuleDb::exec(const QString& sql) {
    QSqlQuery query(m_db);
    if (!query.exec(sql)) {
        Fail(sql, query.lastError());
    }
}

QString TempRuleDb::integrity() const {
    QSqlQuery query(m_db);
    if (!query.exec(QStringLiteral("PRAGMA integrity_check")) || !query.next()) {
        Fail(QStringLiteral("integrity_check"), query.lastError());
    }
    return query.value(0).toString();
}

int RunSqlite3(const QString& file, const QString& script) {
    QProcess sqlite;
    sqlite.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sqlite.setStandardOutputFile(QProcess::nullDevice());
    sqlite.start(QStringLiteral("sqlite3"),
                 {QStringLiteral("-batch"), QStringLiteral("-bail"), file});
    if (!sqlite.waitForStarted()) {
        return -1;
    }
    sqlite.write(script.toUtf8());
    sqlite.closeWriteChannel();
    if (!sqlite.waitForFinished(30000) || sqlite.exitStatus() != QProcess::NormalExit) {
        sqlite.kill();
        sqlite.waitForFinished();
        return -1;
    }
    return sqlite.exitCode();
}

} // namespace winwarden::test
