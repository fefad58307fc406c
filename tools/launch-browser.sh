#!/usr/bin/env bash
# Starts a browser that winwarden can watch, detached from this shell. By default a
# Chromium-family browser with the companion extension loaded and winwarden-host installed for
# the user (no debugging port); with --devtools, one with its own profile and the DevTools
# endpoint on the loopback address instead.
#
#   tools/launch-browser.sh [--devtools] [URL...]
#
# WINWARDEN_BROWSER       the browser program (default: the first of chromium, google-chrome,
#                         brave, microsoft-edge, vivaldi found on PATH)
# WINWARDEN_PROFILE       the profile directory (default: the browser's own everyday profile;
#                         headless or with --devtools ~/.local/share/winwarden/browser-profile)
# WINWARDEN_BROWSER_PORT  the DevTools port with --devtools (default 9222)
# WINWARDEN_HEADLESS=1    no window even when a display exists (automatic without a display)
set -euo pipefail

devtools=0
if [ "${1:-}" = --devtools ]; then
    devtools=1
    shift
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

browser=${WINWARDEN_BROWSER:-}
if [ -z "$browser" ]; then
    for candidate in chromium chromium-browser google-chrome google-chrome-stable chrome \
        brave-browser brave microsoft-edge microsoft-edge-stable vivaldi vivaldi-stable; do
        if command -v "$candidate" >/dev/null 2>&1; then
            browser=$(command -v "$candidate")
            break
        fi
    done
fi
if [ -z "$browser" ]; then
    echo "launch-browser: no Chromium-family browser found; set WINWARDEN_BROWSER" >&2
    exit 1
fi

args=(--no-first-run --no-default-browser-check)
headless=0
if [ "${WINWARDEN_HEADLESS:-0}" = 1 ] || { [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; }; then
    headless=1
    args+=(--headless=new --disable-gpu)
fi
# The browser's own sandbox refuses to run as root.
[ "$(id -u)" -ne 0 ] || args+=(--no-sandbox)

if [ "$devtools" = 1 ]; then
    port=${WINWARDEN_BROWSER_PORT:-9222}
    profile=${WINWARDEN_PROFILE:-${XDG_DATA_HOME:-$HOME/.local/share}/winwarden/browser-profile}
    # Chrome 136 and later open the DevTools port only for a profile other than the default one.
    args+=(--user-data-dir="$profile" --remote-debugging-port="$port")
    # The address option is honoured in headless mode only; a headful browser listens on
    # the loopback address anyway.
    [ "$headless" = 0 ] || args+=(--remote-debugging-address=127.0.0.1)
else
    # The build tree's programs and the source tree's extension, or the installed ones.
    tool=$build/tools/winwarden-browser
    host=$build/host/winwarden-host
    extension=$root/extension
    if [ ! -x "$tool" ]; then
        tool=$(command -v winwarden-browser || true)
        host=$(dirname "$tool")/winwarden-host
        extension=$(dirname "$tool")/../share/winwarden/extension
    fi
    if [ ! -x "$tool" ] || [ ! -x "$host" ] || [ ! -f "$extension/manifest.json" ]; then
        echo "launch-browser: winwarden-browser, winwarden-host or the extension not found; build first" >&2
        exit 1
    fi
    "$tool" install --host "$host" --extension "$extension" >/dev/null
    profile=${WINWARDEN_PROFILE:-}
    if [ -z "$profile" ] && [ "$headless" = 1 ]; then
        # A headless browser would take a throw-away profile rather than the everyday one.
        profile=${XDG_DATA_HOME:-$HOME/.local/share}/winwarden/browser-profile
    fi
    if [ -n "$profile" ]; then
        # A profile of its own looks for user-level host manifests inside itself.
        mkdir -p "$profile/NativeMessagingHosts"
        # The extension's id, derived from its public key as the browser derives it.
        id=$(sed -n 's/.*"key": *"\([^"]*\)".*/\1/p' "$extension/manifest.json" | base64 -d |
            sha256sum | cut -c1-32 | tr 0-9a-f a-p)
        printf '{"name":"net.winwarden.host","description":"winwarden","path":"%s","type":"stdio","allowed_origins":["chrome-extension://%s/"]}\n' \
            "$(cd "$(dirname "$host")" && pwd)/$(basename "$host")" "$id" \
            >"$profile/NativeMessagingHosts/net.winwarden.host.json"
        args+=(--user-data-dir="$profile")
    fi
    args+=(--load-extension="$(cd "$extension" && pwd)")
fi

log=${XDG_STATE_HOME:-$HOME/.local/state}/winwarden/launch-browser.log
mkdir -p "$(dirname "$log")"
if [ $# -eq 0 ]; then
    set -- about:blank
fi
setsid "$browser" "${args[@]}" "$@" >"$log" 2>&1 </dev/null &
pid=$!

if [ "$devtools" = 0 ]; then
    sleep 1
    if ! kill -0 "$pid" 2>/dev/null; then
        echo "launch-browser: $(basename "$browser") ended at once; see $log" >&2
        exit 1
    fi
    echo "launch-browser: $(basename "$browser") (pid $pid) started with the companion extension"
    exit 0
fi
# Say when the endpoint answers, so that a caller can start watching right away.
for _ in $(seq 1 100); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
        echo "launch-browser: $(basename "$browser") (pid $pid) answers on 127.0.0.1:$port"
        exit 0
    fi
    if ! kill -0 "$pid" 2>/dev/null; then
        echo "launch-browser: $(basename "$browser") ended at once; see $log" >&2
        exit 1
    fi
    sleep 0.1
done
echo "launch-browser: $(basename "$browser") (pid $pid) started, but 127.0.0.1:$port does not answer yet" >&2
