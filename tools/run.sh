#!/usr/bin/env bash
# Installs what is missing, builds, creates the rule database winwarden.mdb in the current
# directory if there is none, and starts the program there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/install-deps.sh"
bash "$root/tools/build.sh"
build=${BUILD_DIR:-$root/build}
[ -e winwarden.mdb ] || "$build/tools/winwarden-db" create winwarden.mdb
exec "$build/winwarden" "$@"
