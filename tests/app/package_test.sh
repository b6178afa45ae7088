#!/usr/bin/env bash
# Checks the Debian package with lintian: no error and no warning. Given a package, checks it; given
# --build and a build folder, packs that build first. Skipped (77) where lintian is not installed.
set -euo pipefail
if ! command -v lintian > /dev/null; then
    echo "lintian is not installed (scripts/package installs it); skipped"
    exit 77
fi
if [ "$1" = "--build" ]; then
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
    cpack -G DEB --config "$2/CPackConfig.cmake" -B "$scratch" > "$scratch/cpack.log" || { cat "$scratch/cpack.log"; exit 1; }
    package=$(ls "$scratch"/tesselby_*.deb)
else
    package=$1
fi
lintian --fail-on error,warning --display-level ">=info" "$package"
echo "lintian: no error or warning on $(basename "$package")"
