#pragma once

#include <QIcon>

namespace winwarden {

// Icon 128: the program's own, for the window, the tray and the About box.
QIcon AppIcon();

// The toolbar's About button.
QIcon AboutIcon();

} // namespace winwarden
