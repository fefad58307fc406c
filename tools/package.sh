#!/usr/bin/env bash
# Makes the Debian package winwarden_<version>_<arch>.deb: installs what is needed, builds
# (tools/build.sh), and packs that build with package/debian (debhelper) into OUT (default: the
# build folder). The version is the build's own, set once by project() in CMakeLists.txt.
#
#   bash tools/package.sh [OUT]           install what is needed, build, pack
#   bash tools/package.sh --built [OUT]   pack BUILD_DIR as it is, building nothing (the tests)
#
# It prints the package's path. `lintian` on it reports no errors.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
built=0
if [ "${1:-}" = --built ]; then
    built=1
    shift
fi
out=${1:-$build}
if [ "$built" = 0 ]; then
    bash "$root/tools/install-deps.sh"
    # What the package holds, not the tests.
    BUILD_TARGETS="winwarden winwarden-db winwarden-host winwarden-browser winwarden-guard \
winwarden-packed winwarden-man" bash "$root/tools/build.sh"
fi
build=$(cd "$build" && pwd)
mkdir -p "$out"
out=$(cd "$out" && pwd)

version=$("$build/winwarden" --version)
version=${version#winwarden }
# The changelog's date becomes the files' dates: the tree's last commit, so that one tree always
# gives the same package.
date=$(git -C "$root" log -1 --format=%cD 2>/dev/null || date -R)
maintainer=$(sed -n 's/^Maintainer: //p' "$root/package/debian/control")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source=$work/winwarden-$version
mkdir "$source"
cp -r "$root/package/debian" "$source/"
cat >"$source/debian/changelog" <<CHANGELOG
winwarden ($version) unstable; urgency=medium

  * Built from the winwarden tree at version $version.

 -- $maintainer  $date
CHANGELOG
(cd "$source" && WINWARDEN_BUILD_DIR=$build dpkg-buildpackage -b -us -uc >"$work/log" 2>&1) || {
    cat "$work/log" >&2
    exit 1
}
deb=winwarden_${version}_$(dpkg --print-architecture).deb
mv "$work/$deb" "$out/"
echo "$out/$deb"
