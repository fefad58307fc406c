#pragma once

#include <QString>
#include <QStringList>

namespace winwarden {

// Where the rules live, as WINWARDEN_DATABASE or a command line names it: a SQLite file, or
// the table 窗口名表 in a database on a PostgreSQL server.
struct DatabaseLocation {
    enum class Engine { Sqlite, Postgres };
    Engine engine = Engine::Sqlite;
    QString path;                 // Sqlite: the file
    QString host;                 // Postgres: host name, address or socket folder; empty: libpq's
    QString port;                 //           empty: libpq's default
    QString database;             //           empty: libpq's default (the user name)
    QString user;                 //           empty: libpq's default
    QStringList options;          // further libpq keyword=value pairs from the URI's query
    bool passwordDropped = false; // the URI held a password, which is never used
    QString display;              // the name as given, without any password: safe to print
};

// A name beginning with postgresql:// or postgres:// is a libpq URI; anything else is a file
// path. A password in the URI is dropped: libpq takes it from ~/.pgpass or PGPASSWORD, so
// that it never shows in a process list or a message. Throws StoreError for a URI that cannot
// be read.
DatabaseLocation ParseDatabaseName(const QString& name);

// WINWARDEN_DATABASE, or "winwarden.mdb" (in the working directory) when it is unset or
// empty; any password is already removed, so the result can be printed.
QString DatabaseNameFromEnvironment();

// The name with any password removed, for messages.
QString DatabaseDisplayName(const QString& name);

} // namespace winwarden
