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
    if (message.isEmpty()) {
        message = QStringLiteral("未知的数据库错误");
    }
    return StoreError(error.nativeErrorCode(), message);
}

} // namespace winwarden
