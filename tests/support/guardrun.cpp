#include "tests/support/guardrun.h"

#include "platform/bridgeprotocol.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QTest>

using namespace Qt::StringLiterals;

namespace winwarden::test {

bool Append(const QString& path, const QByteArray& text) {
    QFile file(path);
    return file.open(QIODevice::Append) && file.write(text) == text.size();
}

QStringList As(uid_t uid) {
    return {u"--reuid=%1"_s.arg(uid), u"--regid=%1"_s.arg(uid), u"--clear-groups"_s};
}

Run RunAs(uid_t uid, const QStringList& command) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (uid == 0)
        process.start(command.front(), command.mid(1));
    else
        process.start(u"setpriv"_s, As(uid) + command);
    const bool ran = process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit;
    return {ran ? process.exitCode() : -1, QString::fromUtf8(process.readAll())};
}

Run InstallGuard(const std::vector<std::pair<QByteArray, uid_t>>& users,
                 const QByteArray& administrators, const QStringList& policyFlags) {
    QByteArray passwd = "winwarden:x:4240:4240::/var/lib/winwarden:/usr/sbin/nologin\n";
    QByteArray groups = "winwarden:x:4240:" + administrators + '\n';
    for (const auto& [name, uid] : users) {
        const QByteArray id = QByteArray::number(uid);
        passwd += name + ":x:" + id + ':' + id + "::/nonexistent:/bin/sh\n";
        groups += name + ":x:" + id + ":\n";
    }
    if (!Append(u"/etc/passwd"_s, passwd) || !Append(u"/etc/group"_s, groups) ||
        !QDir().mkpath(kRun) || !QDir().mkpath(kState) ||
        RunAs(0, {u"chown"_s, u"4240:4240"_s, kRun, kState}).status != 0)
        return {-1, u"the guard's user or folders not made"_s};
    const QString build = QCoreApplication::applicationDirPath() + u"/.."_s;
    const Run install =
        RunAs(0, {u"cmake"_s, u"--install"_s, build, u"--prefix"_s, u"/usr/local"_s});
    const Run policies = RunAs(0, QStringList{u"/usr/local/bin/winwarden-browser"_s, u"install"_s,
                                              u"--system"_s, u"--fail-closed"_s} +
                                      policyFlags);
    return install.status != 0 || policies.status == 0 ? install : policies;
}

bool GuardProcess::Start(const QString& capabilities, const QString& wallOffset) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!wallOffset.isEmpty())
        environment.insert(u"WINWARDEN_TEST_WALL_OFFSET"_s, wallOffset);
    m_process.setProcessEnvironment(environment);
    QStringList setpriv = As(kGuardUid);
    if (!capabilities.isEmpty()) {
        // As AmbientCapabilities= gives them to a service of another user.
        const QString added = u"+"_s + capabilities.split(u',').join(u",+"_s);
        setpriv << u"--inh-caps=%1"_s.arg(added) << u"--ambient-caps=%1"_s.arg(added);
    }
    m_process.start(u"unshare"_s,
                    {u"-m"_s, u"--propagation"_s, u"private"_s, u"sh"_s, u"-c"_s,
                     u"mount -t proc -o subset=pid proc /proc && exec setpriv %1 %2"_s.arg(
                         setpriv.join(u' '), kGuardProgram)});
    QLocalSocket probe;
    return m_process.waitForStarted() &&
           QTest::qWaitFor(
               [&] {
                   probe.connectToServer(QLatin1StringView(kSystemBridgeSocket));
                   return probe.waitForConnected(100);
               },
               10000);
}

bool StartAsUser(BrowserProcess& browser, uid_t uid, const QString& program,
                 const QStringList& arguments, const QStringList& environment) {
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    variables.insert(u"HOME"_s, browser.Path(u"home"_s));
    variables.insert(u"XDG_RUNTIME_DIR"_s, browser.Path(u"run"_s));
    variables.remove(u"XDG_CONFIG_HOME"_s);
    for (const QString& variable : environment)
        variables.insert(variable.section(u'=', 0, 0), variable.section(u'=', 1));
    return QDir().mkpath(browser.Path(u"home"_s)) && QDir().mkpath(browser.Path(u"run"_s)) &&
           RunAs(0, {u"chown"_s, u"-R"_s, u"%1:%1"_s.arg(uid), browser.Path(u"."_s)}).status == 0 &&
           browser.Start(u"setpriv"_s, As(uid) << program << arguments, variables);
}

bool StartChildsChromium(BrowserProcess& chromium, uid_t uid, const PageServer& pages,
                         const QStringList& flags, const QString& program) {
    QStringList all = HeadlessChromiumFlags(chromium);
    all.removeAll(u"--disable-background-networking"_s); // it would fetch no forced extension
    all << u"--remote-debugging-port=0"_s << u"--proxy-server=http://"_s + pages.Proxy()
        << u"--disable-features=HttpsUpgrades"_s << u"--incognito"_s << flags
        << chromium.Url(u"pages/opener.html"_s);
    return StartAsUser(chromium, uid, program, all);
}

} // namespace winwarden::test
