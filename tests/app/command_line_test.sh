#!/usr/bin/env bash
# Tesselby's command line: --help and --version print and end, needing no display; anything else is
# refused in one line with exit status 2, before a window opens.
#   command_line_test.sh PROGRAM VERSION
set -uo pipefail
program=$1
version=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
# Qt warns on standard error without a runtime folder of the user's, as a desktop session has.
runtime="$scratch/runtime"
mkdir -m 700 "$runtime"
# Whether the file holds a line matching the pattern; "-" wants it empty.
holds() { if [ "$2" = - ]; then [ ! -s "$1" ]; else grep -qE -- "$2" "$1"; fi; }
# arguments | exit status | what standard output holds (a pattern) | what standard error holds
while IFS='|' read -r arguments status out err; do
    # No display: what is answered must not need one; what is refused gets the offscreen one, so that
    # a refusal is not mistaken for a missing display.
    if [ "$status" = 2 ]; then platform=offscreen; else platform=xcb; fi
    # shellcheck disable=SC2086
    env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=$platform XDG_RUNTIME_DIR="$runtime" timeout 20 "$program" $arguments \
        > "$scratch/out" 2> "$scratch/err"
    got=$?
    lines=$(wc -l < "$scratch/err")
    if [ "$got" != "$status" ] || ! holds "$scratch/out" "$out" || ! holds "$scratch/err" "$err" ||
        { [ "$status" = 2 ] && [ "$lines" != 1 ]; }; then
        echo "FAIL: Tesselby $arguments: exit $got (wanted $status)"
        sed 's/^/  out: /' "$scratch/out"
        sed 's/^/  err: /' "$scratch/err"
        failures=$((failures + 1))
    fi
done << TABLE
--version|0|^Tesselby $version\$|-
--help|0|^Usage: Tesselby|-
-h|0|--version|-
extra|2|-|^Tesselby: unknown argument 'extra'; .*--help
--bogus|2|-|^Tesselby: unknown argument '--bogus'
-style fusion extra|2|-|unknown argument 'extra'
TABLE
[ "$failures" -eq 0 ] || exit 1
echo "6 passed, 0 failed"
