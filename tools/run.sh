#!/usr/bin/env bash
# Installs what is missing, builds, starts a watched browser (with the companion extension, or
# with --devtools through its DevTools port) when none runs, and starts the
# program through the launcher, with this build's binaries: the rules live in the user's data
# folder (~/.local/share/winwarden/), created there when missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/install-deps.sh"
# Only what runs here; tests and benchmarks are tools/test.sh's to build.
BUILD_TARGETS="winwarden winwarden-db winwarden-host winwarden-browser" bash "$root/tools/build.sh"
build=${BUILD_DIR:-$root/build}

# --devtools (or WINWARDEN_DEVTOOLS): watch a browser through its DevTools port instead of the
# companion extension. Every other argument goes to the program, which starts monitoring.
devtools=0
[ -z "${WINWARDEN_DEVTOOLS:-}" ] || devtools=1
args=()
for arg in "$@"; do
    if [ "$arg" = --devtools ]; then
        devtools=1
    else
        args+=("$arg")
    fi
done
# The window shows the watch at work from the start (the launcher's own --autostart aside).
[ "${args[0]:-}" = --autostart ] || args+=(--monitor)

if [ "$devtools" = 0 ]; then
    # The browser with the companion extension, unless one runs already; no port to wait for:
    # its extension finds the program through winwarden-host whenever both are up.
    if ! pgrep -u "$(id -u)" -f -- "--load-extension=$root/extension" >/dev/null; then
        echo "run: starting a browser with the companion extension"
        bash "$root/tools/launch-browser.sh" || true
    fi
else
    # The first watched endpoint: host:port, or a DevToolsActivePort file whose first line is
    # the port.
    endpoint=${WINWARDEN_DEVTOOLS:-127.0.0.1:9222}
    endpoint=${endpoint%%,*}
    case "$endpoint" in
    */*)
        host=127.0.0.1
        port=$([ -r "$endpoint" ] && head -n 1 "$endpoint" || true)
        ;;
    *)
        host=${endpoint%:*}
        port=${endpoint##*:}
        host=${host#[}
        host=${host%]}
        ;;
    esac
    answers() { (exec 3<>"/dev/tcp/$host/$port") 2>/dev/null; }
    if [ -z "$port" ]; then
        echo "run: $endpoint names no port yet; not starting a browser"
    elif ! answers; then
        # A browser with a window when there is a display, a headless one otherwise.
        echo "run: nothing answers on $host:$port; starting a watched browser"
        WINWARDEN_BROWSER_PORT=$port bash "$root/tools/launch-browser.sh" --devtools || true
    fi
fi
WINWARDEN_BIN_DIR="$build:$build/tools" exec bash "$root/tools/winwarden-launcher" ${args[@]+"${args[@]}"}
