#include "app/appsettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace winwarden {

void SetUpSettings() {
    const QString name = QStringLiteral("winwarden");
    QCoreApplication::setOrganizationName(name);
    QCoreApplication::setApplicationName(name);
    const QString now = QSettings().fileName();
    const QString before = QSettings(QSettings::NativeFormat, QSettings::UserScope,
                                     QStringLiteral("Local AppWizard-Generated Applications"), name)
                               .fileName();
    if (QFileInfo::exists(now) || !QFileInfo::exists(before))
        return;
    // A copy first, so that a failure halfway leaves the old file to read.
    if (QDir().mkpath(QFileInfo(now).path()) && QFile::copy(before, now)) {
        QFile::remove(before);
        QDir().rmdir(QFileInfo(before).path()); // only when nothing else is left in it
    }
}

bool MonitorAtLaunch() {
    return QSettings().value(QStringLiteral("Monitor/StartAtLaunch"), false).toBool();
}

int KeepHistoryDays() {
    bool ok = false;
    const int days = QSettings().value(QStringLiteral("History/KeepDays"), 90).toInt(&ok);
    return ok && days >= 0 ? days : 90;
}

bool NotifyClosedPages() {
    return QSettings().value(QStringLiteral("Notifications/ClosedPages"), true).toBool();
}

} // namespace winwarden
