#pragma once

#include "tests/support/bridgebrowser.h"
#include "tests/support/chromium.h"

#include <QProcess>
#include <QStringList>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace winwarden::test {

// Where the guard installed by `cmake --install --prefix /usr/local` lives and keeps its
// things, and its user's uid in the tests' /etc/passwd.
inline constexpr uid_t kGuardUid = 4240;
inline const QString kRun = QStringLiteral("/run/winwarden");
inline const QString kState = QStringLiteral("/var/lib/winwarden");
inline const QString kGuardProgram = QStringLiteral("/usr/local/sbin/winwarden-guard");

// Adds `text` at the end of the file (the tests' users to /etc/passwd).
bool Append(const QString& path, const QByteArray& text);

struct Run {
    int status = -1;
    QString output;
};

// Installs this build as an administrator would, in the private system folders: the guard's
// user and folders, `users` (each in a group of its own), `administrators` in the group
// winwarden, `cmake --install --prefix /usr/local`, and the extension by the browsers' policies
// (`install --system --fail-closed` and `policyFlags`). What the install said, or what failed.
Run InstallGuard(const std::vector<std::pair<QByteArray, uid_t>>& users,
                 const QByteArray& administrators, const QStringList& policyFlags = {});

// How setpriv makes a process `uid`'s, with no groups of ours.
QStringList As(uid_t uid);

// `command` as `uid` (0: as we are, root), with its standard output and error.
Run RunAs(uid_t uid, const QStringList& command);

// The installed guard as the unit runs it: its own user, and /proc showing processes only
// (ProcSubset=pid), in a mount namespace of its own; with the unit's capabilities when
// `capabilities` names them ("kill,sys_ptrace"), and its wall clock moved by `wallOffset`
// seconds when that is given (a test-only variable).
class GuardProcess final {
public:
    ~GuardProcess() { Stop(); }
    bool Start(const QString& capabilities = {}, const QString& wallOffset = {});
    void Stop() {
        m_process.kill();
        m_process.waitForFinished();
    }
    qint64 Pid() const { return m_process.processId(); }
    bool Running() const { return m_process.state() == QProcess::Running; }
    // What it said on standard error (the journal, under systemd) so far.
    QString Said() {
        m_said += QString::fromUtf8(m_process.readAllStandardError());
        return m_said;
    }

private:
    QProcess m_process;
    QString m_said;
};

// `program` with `arguments` as `uid`, with a home and a runtime folder of its own in the
// browser's folder, and `environment` ("NAME=value") besides.
bool StartAsUser(BrowserProcess& browser, uid_t uid, const QString& program,
                 const QStringList& arguments, const QStringList& environment = {});

// A child's headless Chromium (`program`, /usr/bin/chromium unless named) on a home and a
// runtime folder of its own, with the policies' extension, web pages from `pages`, `flags`
// besides, and a DevTools port through which the test (only) sees and opens its tabs. Asked for
// an incognito window, where the extension would see nothing, it opens a normal one: the
// policies forbid incognito.
bool StartChildsChromium(BrowserProcess& chromium, uid_t uid, const PageServer& pages,
                         const QStringList& flags = {},
                         const QString& program = QStringLiteral("/usr/bin/chromium"));

} // namespace winwarden::test
