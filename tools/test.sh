#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/install-deps.sh"
bash "$root/tools/build.sh" "$@"
build=${BUILD_DIR:-$root/build}
cd "$build"
ctest --output-on-failure -j"$(nproc)" ${CTEST_ARGS:-}
