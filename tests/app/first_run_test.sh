#!/usr/bin/env bash
# What the README tells a newcomer, on a copy of the source: scripts/run, then cmake --install into a
# folder. scripts/run is given --version, so that it ends instead of waiting for a person at the window;
# the build is the same. Then both installed programs run.
#   first_run_test.sh SOURCE_FOLDER VERSION
set -euo pipefail
source_folder=$(realpath "$1")
version=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# The files of a clone: what git tracks, with the changes not yet committed; a folder without git whole.
copy="$scratch/tesselby"
mkdir "$copy"
if git -C "$source_folder" rev-parse --show-toplevel > /dev/null 2>&1; then
    git -C "$source_folder" ls-files -z --cached --others --exclude-standard |
        (cd "$source_folder" && xargs -0 cp --parents -t "$copy" 2> /dev/null || true)
else
    cp -r "$source_folder/." "$copy"
    rm -rf "$copy"/build*
fi
[ -x "$copy/scripts/run" ] || fail "the copy of the source has no scripts/run"

started=$SECONDS
(cd "$copy" && QT_QPA_PLATFORM=offscreen scripts/run --version) > "$scratch/run.log" 2>&1 ||
    { tail -n 30 "$scratch/run.log"; fail "scripts/run did not build and start Tesselby"; }
tail -n 1 "$scratch/run.log" | grep -qx "Tesselby $version" ||
    { tail -n 5 "$scratch/run.log"; fail "the Tesselby scripts/run started did not say its version"; }
echo "scripts/run built and started Tesselby in $((SECONDS - started)) s"

(cd "$copy" && cmake --install build --prefix "$scratch/installed") > "$scratch/install.log" 2>&1 ||
    { cat "$scratch/install.log"; fail "cmake --install right after scripts/run failed"; }
for program in Tesselby tesselby-contacts; do
    [ -x "$scratch/installed/bin/$program" ] || fail "no bin/$program installed"
    "$scratch/installed/bin/$program" --version | grep -qx "$program $version" ||
        fail "the installed $program does not say its version"
    [ -f "$scratch/installed/share/man/man1/$program.1.gz" ] || fail "no manual page for $program"
done
echo "1 passed, 0 failed"
