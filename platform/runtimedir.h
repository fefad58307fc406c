#pragma once

#include <QString>

namespace winwarden {

// The per-user folder for the program's local sockets: $XDG_RUNTIME_DIR/winwarden, or
// /tmp/winwarden-<uid> where the desktop sets no runtime folder. Made on first use with
// owner-only permissions. Empty when it cannot be made, or when what is there belongs to
// another user or lets others in: a socket there could be reached or replaced by them.
QString RuntimeDir();

} // namespace winwarden
