#pragma once

#include "tests/support/testdb.h"

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace winwarden::test {

// A private PostgreSQL server in a temporary folder that ends with this process. Roles: "postgres"
// (superuser) and "station" (password in PGPASSWORD).
class PgServer final {
public:
    static constexpr const char* kPassword = "station-pw-7f3a";

    // Throws std::runtime_error with what went wrong.
    PgServer();
    ~PgServer();

    void Start();
    void Stop();

    // A URI for `database` as `user`: over the socket, or over loopback TCP.
    QString Uri(const QString& database, const QString& user = QStringLiteral("station"),
                bool tcp = false) const;
    // The name of a new database owned by "station" with an empty rule table.
    QString NewRuleDatabase();
    // Runs `sql` as the superuser in `database`; answers the first field of its last result.
    QString Admin(const QString& sql, const QString& database) const;

private:
    QTemporaryDir m_dir;
    QProcess m_server; // initdb, then the server
    int m_port = 0;
    int m_databases = 0;
};

// A fresh rule database on `server`, reached as "station".
class PgRuleDb final : public RuleDb {
public:
    explicit PgRuleDb(PgServer& server, bool tcp = false);
    ~PgRuleDb() override;

    QString name() const override { return m_uri; }

private:
    QString m_uri;
};

} // namespace winwarden::test
