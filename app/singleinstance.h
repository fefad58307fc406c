#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace winwarden {

// One running copy per user and rule database. The first copy listens on a local socket in
// the user's runtime folder, named after the database; a later copy asks it to bring its
// window forward and ends.
class SingleInstance final : public QObject {
    Q_OBJECT
public:
    enum class Claim {
        First,      // no other copy runs: this one goes on (and listens, where it can)
        HandedOver, // another copy runs and has brought its window forward
        Unanswered, // another copy holds the socket but did not answer
    };

    explicit SingleInstance(const QString& databasePath, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Asks a running copy to come forward, or, when none answers, takes the socket over; a
    // socket left behind by a copy that crashed is replaced.
    Claim ClaimDatabase();

    // Where the copies of this database meet; empty when the runtime folder is unusable.
    const QString& SocketPath() const { return m_socketPath; }

Q_SIGNALS:
    // A later copy was started for the same database.
    void showRequested();

private:
    Claim AskRunningCopy();
    void Answer();

    QString m_socketPath;
    QLocalServer* m_server = nullptr;
};

} // namespace winwarden
