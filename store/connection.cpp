#include "store/connection.h"

#include <QDir>
#include <QSqlQuery>
#include <atomic>

namespace winwarden {

namespace {

// Long enough to outlast another process's write transaction, short enough that the user
// interface, which waits on the statement, never looks hung.
constexpr int kBusyTimeoutMs = 2000;

bool IsUnreserved(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~' || c == '/';
}

} // namespace

QString SqliteUri(const QString& path, OpenMode mode) {
    // An absolute path keeps a name that begins with "//" from reading as an authority. It is
    // not cleaned: ".." after a symbolic link must lead where the file system says it does.
    const QByteArray bytes = QDir::current().absoluteFilePath(path).toUtf8();
    QByteArray uri("file://");
    uri.reserve(uri.size() + bytes.size() * 3 + 12);
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (const char c : bytes) {
        if (IsUnreserved(c)) {
            uri.append(c);
        } else {
            const auto b = static_cast<unsigned char>(c);
            uri.append('%').append(kHex[b >> 4]).append(kHex[b & 0x0F]);
        }
    }
    uri.append(mode == OpenMode::ReadWrite ? "?mode=rw" : "?mode=rwc");
    return QString::fromLatin1(uri);
}

QString UniqueConnectionName(const char* purpose) {
    static std::atomic<quint64> counter{0};
    return QStringLiteral("winwarden-%1-%2")
        .arg(QString::fromLatin1(purpose))
        .arg(counter.fetch_add(1) + 1);
}

QSqlDatabase OpenSqlite(const QString& name, const QString& path, OpenMode mode) {
    StoreError failure{QString(), QString()};
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        if (!db.isValid()) {
            failure = ErrorFrom(db.lastError());
        } else {
            db.setConnectOptions(
                QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
            db.setDatabaseName(SqliteUri(path, mode));
            if (!db.open()) {
                failure = ErrorFrom(db.lastError());
            } else {
                // The engine opens lazily; reading the header proves the file is a database.
                QSqlQuery probe(db);
                if (probe.exec(QStringLiteral("PRAGMA schema_version"))) {
                    return db;
                }
                failure = ErrorFrom(probe.lastError());
                probe = QSqlQuery();
                db.close();
            }
        }
    }
    QSqlDatabase::removeDatabase(name);
    throw failure;
}

namespace {

// Seconds libpq waits for a server that does not answer: long enough for a slow school
// network, short enough that a start-up or a cycle never looks hung.
constexpr int kConnectTimeoutSeconds = 2;

// A value for a libpq connection string: quoted, with backslash and apostrophe escaped.
QString Quoted(const QString& value) {
    QString quoted = value;
    quoted.replace(u'\\', QStringLiteral("\\\\")).replace(u'\'', QStringLiteral("\\'"));
    return u'\'' + quoted + u'\'';
}

} // namespace

QSqlDatabase OpenPostgres(const QString& name, const DatabaseLocation& location) {
    StoreError failure{QString(), QString()};
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        if (!db.isValid()) {
            failure = StoreError(QStringLiteral("no-driver"),
                                 QStringLiteral("缺少 Qt 的 PostgreSQL 驱动（libqt6sql6-psql）"));
        } else {
            // The driver joins the options with spaces in place of ';', so every value is
            // quoted and none may hold a ';'.
            // A network that drops a connection without a word would otherwise keep a
            // statement waiting for minutes: unacknowledged data ends it after the time-out.
            QStringList options{
                QStringLiteral("connect_timeout=%1").arg(kConnectTimeoutSeconds),
                QStringLiteral("tcp_user_timeout=%1").arg(kConnectTimeoutSeconds * 1000)};
            const auto add = [&options](const QString& key, const QString& value) {
                if (!value.isEmpty()) {
                    options.append(key + u'=' + Quoted(value));
                }
            };
            add(QStringLiteral("host"), location.host);
            add(QStringLiteral("port"), location.port);
            add(QStringLiteral("dbname"), location.database);
            add(QStringLiteral("user"), location.user);
            for (const QString& option : location.options) {
                const qsizetype equals = option.indexOf(u'=');
                add(option.left(equals), option.mid(equals + 1));
            }
            if (std::any_of(options.cbegin(), options.cend(),
                            [](const QString& o) { return o.contains(u';'); })) {
                failure = StoreError(QStringLiteral("bad-uri"),
                                     QStringLiteral("数据库地址中不能含有分号"));
            } else {
                db.setConnectOptions(options.join(u';'));
                if (db.open()) {
                    return db;
                }
                failure = ErrorFrom(db.lastError());
            }
        }
    }
    QSqlDatabase::removeDatabase(name);
    throw failure;
}

QSqlDatabase OpenDatabase(const QString& name, const DatabaseLocation& location, OpenMode mode) {
    if (location.engine == DatabaseLocation::Engine::Postgres) {
        return OpenPostgres(name, location);
    }
    return OpenSqlite(name, location.path, mode);
}

bool IsPostgres(const QSqlDatabase& db) {
    return db.driverName() == QLatin1String("QPSQL");
}

QString PgArrayLiteral(const QStringList& texts) {
    qsizetype length = 2;
    for (const QString& text : texts) {
        length += text.size() + 3;
    }
    QString array;
    array.reserve(length + length / 8);
    array.append(u'{');
    for (const QString& text : texts) {
        if (array.size() > 1) {
            array.append(u',');
        }
        if (text.isNull()) {
            array.append(QLatin1String("NULL"));
            continue;
        }
        array.append(u'"');
        for (const QChar c : text) {
            if (c == u'"' || c == u'\\') {
                array.append(u'\\');
            }
            array.append(c);
        }
        array.append(u'"');
    }
    array.append(u'}');
    return array;
}

void CloseSqlite(QSqlDatabase& db) {
    const QString name = db.connectionName();
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(name);
}

StoreError ErrorFrom(const QSqlError& error) {
    QString message = error.databaseText();
    if (message.isEmpty()) {
        message = error.driverText();
    }
    // libpq ends its messages with a newline and may break them over indented lines.
    message = message.simplified();
    if (message.isEmpty()) {
        message = QStringLiteral("未知的数据库错误");
    }
    return StoreError(error.nativeErrorCode(), message);
}

QSqlQuery RunStatement(const QSqlDatabase& db, const QString& sql, const QVariantList& values) {
    QSqlQuery query(db);
    query.setForwardOnly(true);
    bool done = false;
    if (values.isEmpty()) {
        done = query.exec(sql);
    } else if (query.prepare(sql)) {
        for (qsizetype i = 0; i < values.size(); ++i) {
            query.bindValue(static_cast<int>(i), values[i]);
        }
        done = query.exec();
    }
    if (!done) {
        throw ErrorFrom(query.lastError());
    }
    return query;
}

} // namespace winwarden
