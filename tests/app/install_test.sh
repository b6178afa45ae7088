#!/usr/bin/env bash
# Installs the build into a staging folder and checks that everything landed where a desktop looks.
set -euo pipefail
build=$1
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cmake --install "$build" --prefix "$stage/usr" > /dev/null

fail() { echo "FAIL: $*" >&2; exit 1; }
[ -x "$stage/usr/bin/Tesselby" ] || fail "no executable at bin/Tesselby"
[ -x "$stage/usr/bin/tesselby-contacts" ] || fail "no executable at bin/tesselby-contacts"
[ -f "$stage/usr/share/man/man1/tesselby-contacts.1" ] || fail "no man page for tesselby-contacts"
desktop="$stage/usr/share/applications/tesselby.desktop"
[ -f "$desktop" ] || fail "no desktop entry"
grep -qx 'Name=Tesselby' "$desktop" || fail "the desktop entry is not named Tesselby"
grep -qx 'Icon=tesselby' "$desktop" || fail "the desktop entry names another icon"
grep -q '^Categories=.*ContactManagement;' "$desktop" || fail "the desktop entry is not in an address-book category"
if command -v desktop-file-validate > /dev/null; then
    desktop-file-validate "$desktop" || fail "the desktop entry does not validate"
fi
for size in 16 32 48 64 128; do
    icon="$stage/usr/share/icons/hicolor/${size}x${size}/apps/tesselby.png"
    [ -f "$icon" ] || fail "no ${size}x${size} icon"
    # A PNG's width and height are the big-endian words at bytes 16 and 20.
    read -r width height < <(od -An -tu1 -j16 -N8 "$icon" | awk '{ print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8 }')
    [ "$width" = "$size" ] && [ "$height" = "$size" ] || fail "the ${size}x${size} icon is ${width}x${height}"
done
echo "1 passed, 0 failed"
