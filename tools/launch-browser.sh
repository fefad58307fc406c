#!/usr/bin/env bash
# Starts a browser that winwarden can watch: a Chromium-family browser with its own profile
# and the DevTools endpoint on the loopback address, detached from this shell.
#
#   tools/launch-browser.sh [URL...]
#
# WINWARDEN_BROWSER       the browser program (default: the first of chromium, google-chrome,
#                         brave, microsoft-edge, vivaldi found on PATH)
# WINWARDEN_BROWSER_PORT  the DevTools port (default 9222)
# WINWARDEN_PROFILE       the profile directory (default ~/.local/share/winwarden/browser-profile)
# WINWARDEN_HEADLESS=1    no window even when a display exists (automatic without a display)
set -euo pipefail

port=${WINWARDEN_BROWSER_PORT:-9222}
profile=${WINWARDEN_PROFILE:-${XDG_DATA_HOME:-$HOME/.local/share}/winwarden/browser-profile}

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

# Chrome 136 and later open the DevTools port only for a profile other than the default one.
mkdir -p "$profile"
args=(
    --user-data-dir="$profile"
    --remote-debugging-port="$port"
    --no-first-run
    --no-default-browser-check
)
if [ "${WINWARDEN_HEADLESS:-0}" = 1 ] || { [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; }; then
    # The address option is honoured in headless mode only; a headful browser listens on
    # the loopback address anyway.
    args+=(--headless=new --remote-debugging-address=127.0.0.1 --disable-gpu)
fi
# The browser's own sandbox refuses to run as root.
[ "$(id -u)" -ne 0 ] || args+=(--no-sandbox)

log="$profile/launch.log"
if [ $# -eq 0 ]; then
    set -- about:blank
fi
setsid "$browser" "${args[@]}" "$@" >"$log" 2>&1 </dev/null &
pid=$!

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
