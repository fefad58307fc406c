#pragma once

#include <optional>

namespace winwarden {

struct LockKeyStates {
    bool capsLock = false;
    bool numLock = false;
    bool scrollLock = false;
};

// The keyboard's lock keys as the window system reports them, or none where it cannot tell
// (no X11 display, or a build without the X keyboard extension).
std::optional<LockKeyStates> QueryLockKeys();

} // namespace winwarden
