#include "app/lockkeys.h"

#include <QGuiApplication>

#ifdef WINWARDEN_HAVE_XKB
#include <X11/XKBlib.h>
#endif

namespace winwarden {

#ifdef WINWARDEN_HAVE_XKB

namespace {

// The indicators are looked up by name: their bit positions differ between keymaps.
bool IndicatorOn(Display* display, const char* name) {
    const Atom atom = XInternAtom(display, name, True);
    if (atom == None) {
        return false;
    }
    Bool on = False;
    if (!XkbGetNamedIndicator(display, atom, nullptr, &on, nullptr, nullptr)) {
        return false;
    }
    return on != False;
}

} // namespace

std::optional<LockKeyStates> QueryLockKeys() {
    auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
                                   : nullptr;
    Display* display = x11 != nullptr ? x11->display() : nullptr;
    if (display == nullptr) {
        return std::nullopt;
    }
    return LockKeyStates{IndicatorOn(display, "Caps Lock"), IndicatorOn(display, "Num Lock"),
                         IndicatorOn(display, "Scroll Lock")};
}

#else

std::optional<LockKeyStates> QueryLockKeys() {
    return std::nullopt;
}

#endif

} // namespace winwarden
