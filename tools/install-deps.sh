#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing winwarden need.
# Does nothing when they are all there already, so it is cheap to run every time.
set -euo pipefail
packages=(
    build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev clang-format
    qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-charts-dev libqt6sql6-sqlite libqt6svg6 qt6-qpa-plugins
    libcurl4-openssl-dev libbenchmark-dev libsimdjson-dev libssl-dev
    qt6-translations-l10n sqlite3 chromium firefox-esr xvfb xauth xdotool trayer imagemagick
    fonts-noto-cjk x11-utils openbox
    libqt6sql6-psql postgresql postgresql-client
    systemd # systemd-analyze verify for the guard's unit (only the tools: nothing starts it)
    debhelper lintian # the Debian package (tools/package.sh) and its check
    man-db groff-base # the manual pages, checked with man --warnings
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
