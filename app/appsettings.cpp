#include "app/appsettings.h"

#include <QSettings>

namespace winwarden {

bool MonitorAtLaunch() {
    return QSettings().value(QStringLiteral("Monitor/StartAtLaunch"), false).toBool();
}

bool NotifyClosedPages() {
    return QSettings().value(QStringLiteral("Notifications/ClosedPages"), true).toBool();
}

} // namespace winwarden
