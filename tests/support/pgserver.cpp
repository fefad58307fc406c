#include "tests/support/pgserver.h"

#include "store/connection.h"
#include "store/schema.h"

#include <QFile>
#include <QProcess>
#include <QSqlQuery>
#include <QTcpServer>
#include <csignal>
#include <pwd.h>
#include <stdexcept>
#include <unistd.h>

namespace winwarden::test {

using namespace Qt::StringLiterals;

namespace {

const QString kBin = u"/usr/lib/postgresql/15/bin/"_s;

const char kHba[] =
    "local all postgres trust\nlocal all refused reject\nlocal all all scram-sha-256\n"
    "host all postgres 127.0.0.1/32 trust\nhost all refused 127.0.0.1/32 reject\n"
    "host all all 127.0.0.1/32 scram-sha-256\n";

int FreeLoopbackPort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost))
        throw std::runtime_error("no free loopback port");
    return probe.serverPort();
}

} // namespace

PgServer::PgServer() : m_port(FreeLoopbackPort()) {
    if (!m_dir.isValid())
        throw std::runtime_error("no temporary folder");
    // initdb refuses to run as root; the tests run as root.
    const passwd* account = ::getpwnam("postgres");
    if (account == nullptr ||
        ::chown(QFile::encodeName(m_dir.path()).constData(), account->pw_uid, account->pw_gid))
        throw std::runtime_error("cannot hand the temporary folder to postgres");
    RunAsServer({kBin + u"initdb"_s, u"-D"_s, m_dir.filePath(u"data"_s), u"-U"_s, u"postgres"_s,
                 u"-A"_s, u"trust"_s, u"-E"_s, u"UTF8"_s, u"--locale=C.UTF-8"_s, u"--no-sync"_s});
    QFile hba(m_dir.filePath(u"data/pg_hba.conf"_s));
    if (!hba.open(QIODevice::WriteOnly | QIODevice::Truncate) || hba.write(kHba) < 0)
        throw std::runtime_error("cannot write pg_hba.conf");
    hba.close();
    // Should this process die without its destructors, the server goes after it.
    const QString guard =
        u"while kill -0 %1 2>/dev/null; do sleep 1; done; runuser -u postgres -- %2pg_ctl -D "
        "%3/data -m immediate stop >/dev/null 2>&1; rm -rf %3"_s.arg(::getpid())
            .arg(kBin, m_dir.path());
    if (!QProcess::startDetached(u"sh"_s, {u"-c"_s, guard}, QString(), &m_guard))
        throw std::runtime_error("cannot start the guard for the server");
    Start();
    Admin(u"CREATE ROLE station LOGIN PASSWORD '%1'; CREATE ROLE refused LOGIN PASSWORD '%1'"_s.arg(
              QLatin1String(kPassword)),
          u"postgres"_s);
    qputenv("PGPASSWORD", kPassword);
}

PgServer::~PgServer() {
    try {
        Stop();
    } catch (const std::exception&) { // the folder goes anyway
    }
    if (m_guard > 0)
        ::kill(static_cast<pid_t>(m_guard), SIGTERM);
}

void PgServer::RunAsServer(const QStringList& command) const {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(m_dir.path());
    process.start(u"runuser"_s, QStringList{u"-u"_s, u"postgres"_s, u"--"_s} + command);
    const bool ran = process.waitForFinished(60000) &&
                     process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (!ran) {
        QFile log(m_dir.filePath(u"log"_s));
        log.open(QIODevice::ReadOnly);
        throw std::runtime_error((command.join(u' ') + u": "_s).toStdString() +
                                 process.readAll().toStdString() + log.readAll().toStdString());
    }
}

void PgServer::Start() {
    const QString options = u"-k %1 -p %2 -c listen_addresses=127.0.0.1 -c fsync=off "
                            "-c full_page_writes=off"_s.arg(m_dir.path())
                                .arg(m_port);
    RunAsServer({kBin + u"pg_ctl"_s, u"-D"_s, m_dir.filePath(u"data"_s), u"-l"_s,
                 m_dir.filePath(u"log"_s), u"-o"_s, options, u"-w"_s, u"start"_s});
    m_running = true;
}

void PgServer::Stop() {
    if (!m_running)
        return;
    m_running = false;
    RunAsServer({kBin + u"pg_ctl"_s, u"-D"_s, m_dir.filePath(u"data"_s), u"-m"_s, u"immediate"_s,
                 u"-w"_s, u"stop"_s});
}

QString PgServer::Uri(const QString& database, const QString& user, bool tcp) const {
    if (tcp)
        return u"postgresql://%1@127.0.0.1:%2/%3"_s.arg(user).arg(m_port).arg(database);
    return u"postgresql://%1@/%2?host=%3&port=%4"_s.arg(user, database, m_dir.path()).arg(m_port);
}

QString PgServer::NewRuleDatabase() {
    const QString name = u"rules%1"_s.arg(++m_databases);
    Admin(u"CREATE DATABASE %1 OWNER station"_s.arg(name), u"postgres"_s);
    CreateRuleDatabase(Uri(name));
    return name;
}

QString PgServer::Admin(const QString& sql, const QString& database) const {
    QProcess psql;
    psql.start(kBin + u"psql"_s, {u"-XAtq"_s, u"-v"_s, u"ON_ERROR_STOP=1"_s, u"-c"_s, sql,
                                  Uri(database, u"postgres"_s)});
    if (!psql.waitForFinished(30000) || psql.exitStatus() != QProcess::NormalExit ||
        psql.exitCode() != 0)
        throw std::runtime_error(sql.toStdString() + ": " +
                                 psql.readAllStandardError().toStdString());
    return QString::fromUtf8(psql.readAllStandardOutput()).section(u'\n', 0, 0);
}

PgRuleDb::PgRuleDb(PgServer& server, bool tcp) : RuleDb(u"1"_s) {
    const QString database = server.NewRuleDatabase();
    m_uri = server.Uri(database, u"station"_s, tcp);
    // As the superuser acting as "station", so that cutting the station's connections spares it.
    m_db = OpenPostgres(UniqueConnectionName("testdb"),
                        ParseDatabaseName(server.Uri(database, u"postgres"_s)));
    QSqlQuery role(m_db);
    if (!role.exec(u"SET ROLE station"_s))
        throw ErrorFrom(role.lastError());
}

PgRuleDb::~PgRuleDb() {
    CloseDatabase(m_db);
}

} // namespace winwarden::test
