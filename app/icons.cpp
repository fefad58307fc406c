#include "app/icons.h"

#include <QString>

// The icons live in a static library; nothing would pull their registration in otherwise.
static void RegisterIcons() {
    Q_INIT_RESOURCE(winwarden);
}

namespace winwarden {

namespace {

void EnsureRegistered() {
    static const bool registered = [] {
        RegisterIcons();
        return true;
    }();
    (void)registered;
}

} // namespace

QIcon AppIcon() {
    EnsureRegistered();
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/icons/winwarden-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

QIcon AboutIcon() {
    EnsureRegistered();
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/about-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/icons/about-32.png"), QSize(32, 32));
    return icon;
}

} // namespace winwarden
