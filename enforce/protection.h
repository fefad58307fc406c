#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <sys/types.h>

namespace winwarden {

// Whose browsers the guard ends. Never root's, never an administrator's (a member of
// `administrators`, the guard's group); of the others, everyone when `names` is empty, else
// the users named and the members of the groups named. Asked each time: a user added to the
// group is an administrator at once.
class ProtectedUsers final {
public:
    ProtectedUsers(QStringList names, QString administrators)
        : m_names(std::move(names)), m_administrators(std::move(administrators)) {}

    bool Protects(uid_t uid) const;

    // The names that are neither a user nor a group of this system, for --check.
    QStringList Unknown() const;

private:
    QStringList m_names;
    QString m_administrators;
};

// Whether `executable` (a process's real executable, from its exe link) is one that `allow`
// names and that nobody whom `protects` covers can change: the file and every folder above it
// belong to root or someone unprotected and are writable by their owner alone (or, for a
// folder, sticky as /tmp is, where nobody renames another's names). A path a
// protected user could write would let them put any browser there. An entry of `allow` is
// taken as it names its file after symbolic links are followed.
bool IsTrustedProgram(const QString& executable, const QStringList& allow,
                      const std::function<bool(uid_t)>& protects);

} // namespace winwarden
