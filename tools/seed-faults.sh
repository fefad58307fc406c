#!/bin/bash
# Seeds each fault of tests/faults.txt into the source in turn, builds what the named tests
# need, runs them, and says CAUGHT or MISSED; exits 1 when any is missed. The source file is
# put back after each seed, also on Ctrl-C. The named tests must pass before any seed.
#   tools/seed-faults.sh [BUILD_DIR] [FILTER]   (BUILD_DIR: build by default; FILTER: an
#   extended regular expression on the entries' descriptions and tests)
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$top/build}")
filter=${2:-}
saved=$(mktemp -d)
file=
restore() { [ -n "$file" ] && cp -p "$saved/original" "$top/$file" && touch "$top/$file"; file=; }
trap 'restore; rm -rf "$saved"' EXIT
trap 'exit 130' INT TERM

# Builds the test programs matching $1, the programs and manual pages they run and install, and
# the packed extension that the browsers' policies install.
build() {
    local targets
    targets=$(cd "$build" && ctest -N -R "$1" | sed -n 's/^ *Test *#[0-9]*: \([^.]*\)\.\(.*\)$/\1_\2/p')
    [ -n "$targets" ] || { echo "no test matches $1" >"$saved/log"; return 1; }
    cmake --build "$build" -j2 --target $targets winwarden winwarden-db winwarden-host \
        winwarden-browser winwarden-guard winwarden-man winwarden-packed >"$saved/log" 2>&1 </dev/null
}
# 0: the tests matching $1 pass; 1: one fails; 2: they cannot be built.
build_and_test() {
    build "$1" || return 2
    (cd "$build" && ctest -R "$1" >"$saved/log" 2>&1 </dev/null) || return 1
}

# Entries: "file:", "from:", "to:", "tests:" and "what:" lines, each entry ending at "what:".
files=() froms=() tos=() tests=() whats=()
while IFS= read -r line; do
    case $line in
    file:*) f=${line#file: } ;;
    from:*) from=${line#from: } ;;
    to:*) to=${line#to:} && to=${to# } ;;
    tests:*) t=${line#tests: } ;;
    what:*)
        what=${line#what: }
        grep -qE -- "$filter" <<<"$what $t" || continue
        files+=("$f") froms+=("$from") tos+=("$to") tests+=("$t") whats+=("$what")
        ;;
    esac
done <"$top/tests/faults.txt"

all=$(IFS='|' && echo "${tests[*]}")
if ! build_and_test "$all"; then
    echo "the tests fail without any fault seeded:" && tail -n 20 "$saved/log"
    exit 2
fi
missed=0
for i in "${!files[@]}"; do
    count=$(python3 -c 'import sys; print(open(sys.argv[1]).read().count(sys.argv[2]))' \
        "$top/${files[i]}" "${froms[i]}")
    if [ "$count" != 1 ]; then
        verdict="BROKEN (the text occurs $count times in ${files[i]})"
    else
        file=${files[i]}
        cp -p "$top/$file" "$saved/original"
        python3 -c 'import sys; p, a, b = sys.argv[1:]; s = open(p).read(); open(p, "w").write(s.replace(a, b))' \
            "$top/$file" "${froms[i]}" "${tos[i]}"
        build_and_test "${tests[i]}"
        case $? in
        0) verdict=MISSED ;;
        1) verdict=CAUGHT ;;
        *) verdict="BROKEN ($(grep -m1 -E 'error|no test' "$saved/log"))" ;;
        esac
        restore
    fi
    printf '%-7s %s [%s]\n' "$verdict" "${whats[i]}" "${tests[i]}"
    [ "$verdict" = CAUGHT ] || missed=1
done
# The tree as it is again, so that the build folder holds no seeded program.
build "$all"
exit $missed
