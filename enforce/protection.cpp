#include "enforce/protection.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace winwarden {

namespace {

// The groups of the user `account` (primary `group`) is a member of.
std::vector<gid_t> GroupsOf(const char* account, gid_t group) {
    int count = 32;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    if (::getgrouplist(account, group, groups.data(), &count) < 0) {
        groups.resize(size_t(count));
        ::getgrouplist(account, group, groups.data(), &count);
    }
    groups.resize(size_t(std::max(count, 0)));
    return groups;
}

bool Within(const std::vector<gid_t>& groups, const QString& name) {
    const group* entry = ::getgrnam(QFile::encodeName(name).constData());
    return entry != nullptr &&
           std::find(groups.begin(), groups.end(), entry->gr_gid) != groups.end();
}

} // namespace

bool ProtectedUsers::Protects(uid_t uid) const {
    if (uid == 0) {
        return false;
    }
    const passwd* user = ::getpwuid(uid);
    if (user == nullptr) {
        // No name, no group: only the everyone-but-administrators default can cover it.
        return m_names.isEmpty();
    }
    const QString account = QFile::decodeName(user->pw_name);
    const std::vector<gid_t> groups = GroupsOf(user->pw_name, user->pw_gid);
    if (Within(groups, m_administrators)) {
        return false;
    }
    if (m_names.isEmpty()) {
        return true;
    }
    return std::any_of(m_names.begin(), m_names.end(), [&](const QString& name) {
        return name == account || Within(groups, name);
    });
}

QStringList ProtectedUsers::Unknown() const {
    QStringList unknown;
    for (const QString& name : m_names) {
        const QByteArray native = QFile::encodeName(name);
        if (::getpwnam(native.constData()) == nullptr &&
            ::getgrnam(native.constData()) == nullptr) {
            unknown.append(name);
        }
    }
    return unknown;
}

bool IsTrustedProgram(const QString& executable, const QStringList& allow,
                      const std::function<bool(uid_t)>& protects) {
    if (executable.isEmpty() || !executable.startsWith(u'/')) {
        return false; // closed to us, or not a file (" (deleted)" ends no listed path)
    }
    const bool listed = std::any_of(allow.begin(), allow.end(), [&](const QString& entry) {
        return entry == executable || QFileInfo(entry).canonicalFilePath() == executable;
    });
    if (!listed) {
        return false;
    }
    QString path = executable;
    while (true) {
        struct stat info {};
        if (::lstat(QFile::encodeName(path).constData(), &info) != 0 ||
            (info.st_uid != 0 && protects(info.st_uid))) {
            return false;
        }
        // A sticky folder above the program (/tmp) lets others add names to it, but not
        // rename or remove the names of others: the name below it is checked in turn.
        const bool sticky =
            path != executable && S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX) != 0;
        if ((info.st_mode & 022) != 0 && !sticky) {
            return false;
        }
        if (path == "/"_L1) {
            return true;
        }
        path = QFileInfo(path).path();
    }
}

} // namespace winwarden
