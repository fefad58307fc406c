#include "tests/support/testdb.h"

#include "store/connection.h"
#include "store/schema.h"

#include <QProcess>
#include <QSqlQuery>

namespace winwarden::test {

using namespace Qt::StringLiterals;

namespace {

QSqlQuery Run(const QSqlDatabase& db, const QString& sql, const QVariantList& values = {}) {
    QSqlQuery query(db);
    const bool prepared = query.prepare(sql);
    for (const QVariant& value : values)
        query.addBindValue(value);
    if (!prepared || !query.exec())
        throw ErrorFrom(query.lastError());
    return query;
}

} // namespace

char* toString(const RuleRow& row) {
    QString text;
    for (const auto& field : {row.name, row.flag, row.url})
        text += (field ? u'"' + *field + u'"' : u"NULL"_s) + u' ';
    return qstrdup(text.toUtf8().constData());
}

TempRuleDb::TempRuleDb() : RuleDb(u"rowid"_s) {
    CreateRuleDatabase(path());
    m_db = OpenSqlite(UniqueConnectionName("testdb"), path(), OpenMode::ReadWrite);
}

TempRuleDb::~TempRuleDb() {
    CloseSqlite(m_db);
}

void RuleDb::insert(const std::optional<QString>& name, const std::optional<QString>& flag,
                    const std::optional<QString>& url) {
    const auto bind = [](const std::optional<QString>& value) {
        return value ? QVariant(value->isNull() ? u""_s : *value)
                     : QVariant(QMetaType::fromType<QString>());
    };
    Run(m_db, u"INSERT INTO 窗口名表 (窗口名称,是否禁止,网址) VALUES(?,?,?)"_s,
        {bind(name), bind(flag), bind(url)});
}

QList<RuleRow> RuleDb::rows() const {
    QSqlQuery query = Run(m_db, u"SELECT * FROM 窗口名表 ORDER BY "_s + m_order);
    const auto text = [&query](int i) {
        return query.isNull(i) ? std::optional<QString>() : query.value(i).toString();
    };
    QList<RuleRow> result;
    while (query.next())
        result.append(RuleRow{text(1), text(2), text(3)});
    return result;
}

QString RuleDb::exec(const QString& sql) {
    QSqlQuery query(m_db);
    if (!query.exec(sql))
        throw ErrorFrom(query.lastError());
    return query.next() ? query.value(0).toString() : QString();
}

RunOutcome RunProgram(const QString& program, const QStringList& arguments, const QString& dir,
                      const QProcessEnvironment& environment) {
    QProcess process;
    process.setWorkingDirectory(dir);
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

int RunSqlite3(const QString& file, const QString& script) {
    QProcess sqlite;
    sqlite.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // Another program as a person runs it: it waits for the monitor's writers (the visit
    // record commits beside the cycle) rather than failing at once on their lock.
    sqlite.start(u"sqlite3"_s, {u"-batch"_s, u"-bail"_s, u"-cmd"_s, u".timeout 10000"_s, file});
    sqlite.write(script.toUtf8());
    sqlite.closeWriteChannel();
    return sqlite.waitForFinished(30000) && sqlite.exitStatus() == QProcess::NormalExit
               ? sqlite.exitCode()
               : -1;
}

} // namespace winwarden::test
