#include "guard/guardenforcer.h"

#include "control/controlaccess.h"
#include "platform/processend.h"

#include <QFile>
#include <QRegularExpression>
#include <QTimer>
#include <csignal>

using namespace Qt::StringLiterals;

namespace winwarden {

bool IsEnforceKey(const QString& key) {
    return key == "enforce"_L1 || key == "protect"_L1 || key == "allow"_L1 || key == "grace"_L1;
}

std::optional<EnforceSettings> ReadEnforceSettings(const QString& config, QString* error) {
    EnforceSettings settings;
    QFile file(config);
    if (!file.exists()) {
        return settings;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *error = u"无法读取配置文件 %1：%2"_s.arg(config, file.errorString());
        return std::nullopt;
    }
    int number = 0;
    while (!file.atEnd()) {
        ++number;
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        const qsizetype equals = line.indexOf(u'=');
        const QString key = line.left(equals).trimmed();
        if (equals < 0 || !IsEnforceKey(key)) {
            continue; // the guard's other settings, or a comment
        }
        const QString value = line.mid(equals + 1).trimmed();
        bool understood = true;
        if (key == "enforce"_L1) {
            understood = value == "on"_L1 || value == "off"_L1;
            settings.enforce = value == "on"_L1;
        } else if (key == "protect"_L1) {
            const QStringList names =
                value.split(QRegularExpression(u"[\\s,]+"_s), Qt::SkipEmptyParts);
            understood = !names.isEmpty();
            settings.protect += names;
        } else if (key == "allow"_L1) {
            // A path may hold spaces: one program a line.
            understood = value.startsWith(u'/');
            settings.allow.append(value);
        } else {
            const int seconds = value.toInt(&understood);
            understood = understood && seconds >= 2 && seconds <= 600;
            settings.grace = std::chrono::seconds(seconds);
        }
        if (!understood) {
            *error = u"%1 第 %2 行看不懂：%3"_s.arg(config, QString::number(number), line);
            return std::nullopt;
        }
    }
    return settings;
}

GuardEnforcer::GuardEnforcer(const EnforceSettings& settings, std::shared_ptr<BridgeLink> link,
                             QString procRoot)
    : m_link(std::move(link)), m_procRoot(std::move(procRoot)), m_scanner(m_procRoot),
      m_decision(EnforceRules{
          settings.grace, std::chrono::seconds(1),
          [users = ProtectedUsers(settings.protect, QString::fromLatin1(kAdministratorsGroup))](
              uid_t uid) { return users.Protects(uid); },
          [allow = settings.allow,
           users = ProtectedUsers(settings.protect, QString::fromLatin1(kAdministratorsGroup))](
              const ScannedBrowser& browser) {
              return IsTrustedProgram(browser.executable, allow,
                                      [&](uid_t uid) { return users.Protects(uid); });
          }}) {}

void GuardEnforcer::Start(std::chrono::milliseconds interval) {
    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, [this] { Cycle(); });
    timer->start(interval);
    Cycle();
}

void GuardEnforcer::Cycle() {
    const ProcessScan scan = m_scanner.Scan();
    for (const ScannedBrowser& browser :
         m_decision.Decide(scan, m_link->Hosts(), EnforceDecision::Clock::now())) {
        End(browser);
    }
}

void GuardEnforcer::End(const ScannedBrowser& browser) {
    auto held = std::make_shared<std::vector<HeldProcess>>();
    for (const ProcessIdentity& process : browser.tree) {
        if (std::optional<HeldProcess> one = HeldProcess::Hold(m_procRoot, process, browser.uid)) {
            held->push_back(std::move(*one));
        } else if (process == browser.main) {
            return; // gone, or its pid is another process's by now
        }
    }
    if (held->empty() || !held->front().Signal(SIGTERM)) {
        // Without CAP_KILL (a guard started by hand as its user): said, never claimed as done.
        m_link->Report(u"unended %1"_s.arg(browser.uid),
                       EndedNotice(browser).replace(u"已被关闭"_s, u"但守护程序无权关闭它"_s));
        return;
    }
    for (const HeldProcess& process : *held) {
        process.Signal(SIGTERM);
    }
    QTimer::singleShot(kKillAfter, this, [held] {
        for (const HeldProcess& process : *held) {
            process.Signal(SIGKILL);
        }
    });
    m_link->Report(u"ended %1 %2"_s.arg(browser.main.pid).arg(browser.main.startTime),
                   EndedNotice(browser));
}

} // namespace winwarden
