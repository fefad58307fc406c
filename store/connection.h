#pragma once

#include "store/databasename.h"
#include "store/storeerror.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>

namespace winwarden {

// How a connection may treat the file: open it read-write as it is, or also create it.
enum class OpenMode { ReadWrite, ReadWriteCreate };

// The SQLite URI for a file path, every byte outside the unreserved set percent-encoded so
// that '?', '#', '%', spaces and non-ASCII names reach the engine unchanged.
QString SqliteUri(const QString& path, OpenMode mode);

// A name no other connection in this process carries.
QString UniqueConnectionName(const char* purpose);

// Adds and opens a QSQLITE connection named `name` on `path`, with the busy time-out that lets
// another process share the file, and reads the schema once so that a file which is not a
// database fails here rather than at a later statement. On failure the connection is removed
// again and StoreError is thrown.
QSqlDatabase OpenSqlite(const QString& name, const QString& path, OpenMode mode);

// Adds and opens a QPSQL connection named `name` to the server and database of `location`,
// giving up after about two seconds when the server does not answer. On failure the connection
// is removed again and StoreError is thrown with libpq's reason (which never holds a password).
QSqlDatabase OpenPostgres(const QString& name, const DatabaseLocation& location);

// OpenSqlite or OpenPostgres, as the location says; a server database is never created.
QSqlDatabase OpenDatabase(const QString& name, const DatabaseLocation& location, OpenMode mode);

bool IsPostgres(const QSqlDatabase& db);

// The texts as a PostgreSQL array literal for a "?::text[]" value: every element quoted, a
// null QString as NULL.
QString PgArrayLiteral(const QStringList& texts);

// Runs `sql` on `db` with `values` bound in order (prepared afresh), or as it is when there are
// none. Throws StoreError with the engine's reason.
QSqlQuery RunStatement(const QSqlDatabase& db, const QString& sql, const QVariantList& values = {});

// Closes and removes a connection opened by one of the above; `db` is left invalid.
void CloseSqlite(QSqlDatabase& db);
inline void CloseDatabase(QSqlDatabase& db) {
    CloseSqlite(db);
}

// The engine's code and message of a failed call.
StoreError ErrorFrom(const QSqlError& error);

} // namespace winwarden
