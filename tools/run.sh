#!/usr/bin/env bash
# Installs what is missing, builds, starts a watched browser when none answers, and starts the
# program through the launcher, with this build's binaries: the rules live in the user's data
# folder (~/.local/share/winwarden/), created there when missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/install-deps.sh"
bash "$root/tools/build.sh"
build=${BUILD_DIR:-$root/build}

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
    WINWARDEN_BROWSER_PORT=$port bash "$root/tools/launch-browser.sh" || true
fi
WINWARDEN_BIN_DIR="$build:$build/tools" exec bash "$root/tools/winwarden-launcher" "$@"
