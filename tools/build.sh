#!/usr/bin/env bash
# Configures and builds winwarden into BUILD_DIR (default: build/ beside this folder).
# Extra arguments go to the configure step, e.g. -DWINWARDEN_SANITIZE=ON. BUILD_TARGETS names
# the targets to build (space-separated); unset, everything is built, tests and benchmarks too.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} "$@" >/dev/null
targets=()
for target in ${BUILD_TARGETS:-}; do
    targets+=(--target "$target")
done
cmake --build "$build" -j"$(nproc)" ${targets[@]+"${targets[@]}"}
