#include "store/schema.h"

#include "store/connection.h"
#include "store/databasename.h"
#include "store/matchstore.h"
#include "store/pgschema.h"
#include "store/visitstore.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QStringList>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace winwarden {

namespace {

const QString kCreateStatements[] = {
    QStringLiteral("CREATE TABLE 窗口名表 (编号 INTEGER PRIMARY KEY AUTOINCREMENT, "
                   "窗口名称 TEXT, 是否禁止 TEXT, 网址 TEXT)"),
    QStringLiteral("CREATE INDEX 窗口名称索引 ON 窗口名表 (窗口名称)"),
    QStringLiteral("CREATE INDEX 网址索引 ON 窗口名表 (网址)"),
};

StoreError SystemError(const QString& what, int error) {
    return StoreError(QString::number(error),
                      QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(strerror(error))));
}

bool EntryExists(const QByteArray& path) {
    struct stat info {};
    return lstat(path.constData(), &info) == 0;
}

StoreError AlreadyExists() {
    return StoreError(QString::number(EEXIST), QStringLiteral("已存在，不会覆盖"));
}

// Flushes a file or directory to the disk so that a crash after the rename keeps it.
void SyncPath(const QByteArray& path, int flags) {
    const int fd = ::open(path.constData(), flags | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// A file of a fresh name beside the target, removed again unless it was moved into place.
class TempFile final {
public:
    explicit TempFile(const QString& target) {
        const QFileInfo info(target);
        for (int attempt = 0; attempt < 100; ++attempt) {
            const QString name =
                QStringLiteral(".%1.%2.tmp")
                    .arg(info.fileName())
                    .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
            m_path = info.dir().filePath(name);
            const QByteArray native = QFile::encodeName(m_path);
            const int fd =
                ::open(native.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
            if (fd >= 0) {
                ::close(fd);
                m_native = native;
                return;
            }
            if (errno != EEXIST) {
                throw SystemError(QStringLiteral("无法在 %1 中创建文件").arg(info.path()), errno);
            }
        }
        throw SystemError(QStringLiteral("无法在 %1 中创建文件").arg(info.path()), EEXIST);
    }
    ~TempFile() {
        if (!m_native.isEmpty()) {
            ::unlink(m_native.constData());
            const QByteArray journal = m_native + "-journal";
            ::unlink(journal.constData());
        }
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const QString& path() const { return m_path; }
    const QByteArray& native() const { return m_native; }

private:
    QString m_path;
    QByteArray m_native;
};

void WriteSchema(const QString& path) {
    QSqlDatabase db = OpenSqlite(UniqueConnectionName("create"), path, OpenMode::ReadWrite);
    StoreError failure{QString(), QString()};
    bool failed = false;
    {
        QSqlQuery query(db);
        if (!db.transaction()) {
            failure = ErrorFrom(db.lastError());
            failed = true;
        }
        for (const QString& statement :
             QStringList(std::begin(kCreateStatements), std::end(kCreateStatements)) +
                 MatchTableStatements(false) + VisitTableStatements(false)) {
            if (!failed && !query.exec(statement)) {
                failure = ErrorFrom(query.lastError());
                failed = true;
            }
        }
        if (!failed && !db.commit()) {
            failure = ErrorFrom(db.lastError());
            failed = true;
        }
    }
    CloseSqlite(db);
    if (failed) {
        throw failure;
    }
}

// Moves `from` to `to` unless `to` exists: a hard link where the file system has them,
// otherwise a rename that refuses to replace.
void MoveIntoPlace(const QByteArray& from, const QByteArray& to) {
    if (::link(from.constData(), to.constData()) == 0) {
        return;
    }
    int error = errno;
    if (error != EEXIST) {
        if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) ==
            0) {
            return;
        }
        error = errno;
    }
    if (error == EEXIST) {
        throw AlreadyExists();
    }
    throw SystemError(QStringLiteral("无法创建"), error);
}

} // namespace

QString MatchTableProblem(const QSqlDatabase& db) {
    try {
        (void)MatchStore(db).List();
    } catch (const StoreError& error) {
        return QStringLiteral("表 匹配规则 不能读取：") + error.message();
    }
    return QString();
}

QString RuleColumnsProblem(const QStringList& names) {
    const QStringList expected{QStringLiteral("窗口名称"), QStringLiteral("是否禁止"),
                               QStringLiteral("网址")};
    if (names.isEmpty()) {
        return QStringLiteral("没有表 窗口名表");
    }
    if (names.size() < 4) {
        return QStringLiteral("表 窗口名表 只有 %1 列，至少需要 4 列").arg(names.size());
    }
    if (names.mid(1, 3) != expected) {
        return QStringLiteral("表 窗口名表 第 1 至 3 列应为 窗口名称, 是否禁止, 网址，实为 %1")
            .arg(names.mid(1, 3).join(QStringLiteral(", ")));
    }
    return QString();
}

void CreateRuleDatabase(const QString& path) {
    if (const DatabaseLocation location = ParseDatabaseName(path);
        location.engine == DatabaseLocation::Engine::Postgres) {
        CreatePostgresRuleTable(location);
        return;
    }
    if (path.isEmpty()) {
        throw StoreError(QString::number(ENOENT), QStringLiteral("没有给出文件名"));
    }
    const QByteArray target = QFile::encodeName(path);
    if (EntryExists(target)) {
        throw AlreadyExists();
    }
    TempFile temp(path);
    WriteSchema(temp.path());
    SyncPath(temp.native(), O_RDONLY);
    MoveIntoPlace(temp.native(), target);
    SyncPath(QFile::encodeName(QFileInfo(path).absolutePath()), O_RDONLY | O_DIRECTORY);
}

void CheckRuleDatabase(const QString& path) {
    if (const DatabaseLocation location = ParseDatabaseName(path);
        location.engine == DatabaseLocation::Engine::Postgres) {
        CheckPostgresRuleTable(location);
        return;
    }
    if (path.isEmpty()) {
        throw StoreError(QString::number(ENOENT), QStringLiteral("没有给出文件名"));
    }
    // Without this the engine's answer for a missing file would be a vague "unable to open".
    if (!EntryExists(QFile::encodeName(path))) {
        throw StoreError(QString::number(ENOENT), QStringLiteral("文件不存在"));
    }
    QSqlDatabase db = OpenSqlite(UniqueConnectionName("check"), path, OpenMode::ReadWrite);
    QString problem;
    StoreError failure{QString(), QString()};
    bool failed = false;
    {
        QSqlQuery query(db);
        query.setForwardOnly(true);
        if (!query.exec(QStringLiteral("PRAGMA table_info(窗口名表)"))) {
            failure = ErrorFrom(query.lastError());
            failed = true;
        } else {
            QStringList names;
            while (query.next()) {
                names.append(query.value(1).toString());
            }
            problem = RuleColumnsProblem(names);
            if (problem.isEmpty()) {
                problem = MatchTableProblem(db);
            }
        }
    }
    CloseSqlite(db);
    if (failed) {
        throw failure;
    }
    if (!problem.isEmpty()) {
        throw StoreError(QString(), problem);
    }
}

} // namespace winwarden
