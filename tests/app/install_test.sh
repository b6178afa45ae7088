#!/usr/bin/env bash
# Installs the build into a staging folder and checks that everything landed where a desktop looks.
set -euo pipefail
build=$1
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cmake --install "$build" --prefix "$stage/usr" > /dev/null

fail() { echo "FAIL: $*" >&2; exit 1; }
# A PNG's width and height are the big-endian words at bytes 16 and 20.
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{ print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8 }'; }
[ -x "$stage/usr/bin/Tesselby" ] || fail "no executable at bin/Tesselby"
[ -x "$stage/usr/bin/tesselby-contacts" ] || fail "no executable at bin/tesselby-contacts"
# The sync is a program of its own, found by the command in the installed tree, and run by the user timer.
if [ -f "$build/tesselby-contacts-sync" ]; then
    "$stage/usr/bin/tesselby-contacts" sync --help | grep -q -- '--password-command' ||
        fail "the installed tesselby-contacts does not reach its sync program"
    service="$stage/usr/lib/systemd/user/tesselby-contacts-sync.service"
    [ -f "$service" ] && [ -f "${service%.service}.timer" ] || fail "no systemd user service and timer for the sync"
    grep -qx "ExecStart=$stage/usr/bin/tesselby-contacts sync" "$service" || fail "the service runs another command"
fi
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
    read -r width height < <(png_size "$icon")
    [ "$width" = "$size" ] && [ "$height" = "$size" ] || fail "the ${size}x${size} icon is ${width}x${height}"
done
for page in "$stage"/usr/bin/*; do
    manual="$stage/usr/share/man/man1/$(basename "$page").1.gz"
    [ -f "$manual" ] || fail "no manual page for $(basename "$page")"
    gzip -t "$manual" || fail "the manual page of $(basename "$page") is not gzipped"
done
source_folder=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$build/CMakeCache.txt")
documents="$stage/usr/share/doc/tesselby"
grep -q '^License: Expat' "$documents/copyright" || fail "the copyright file names no licence"
cmp -s <(sed -n '/^Permission/,$p' "$source_folder/LICENSE") \
    <(sed -n '/^ Permission/,$p' "$documents/copyright" | sed 's/^ //; s/^\.$//') ||
    fail "the copyright file does not carry the terms of LICENSE"
zcat "$documents/changelog.gz" | head -n 1 | grep -q '^tesselby (' || fail "no Debian changelog"

metainfo=$(ls "$stage"/usr/share/metainfo/*.metainfo.xml) || fail "no AppStream metadata"
if command -v appstreamcli > /dev/null; then
    # The installed tree, so the metadata is checked together with the desktop entry it launches.
    appstreamcli validate-tree --no-net "$stage" > "$stage/appstream.log" ||
        { cat "$stage/appstream.log"; fail "the installed AppStream metadata does not validate"; }
fi
# The software centres show the README's pictures at the sizes the metadata gives.
pictures=0
while read -r width height picture; do
    read -r real_width real_height < <(png_size "$source_folder/docs/$picture")
    [ "$width $height" = "$real_width $real_height" ] ||
        fail "the metadata gives $picture as ${width}x$height, the picture is ${real_width}x$real_height"
    pictures=$((pictures + 1))
done < <(sed -n 's|.*width="\([0-9]*\)" height="\([0-9]*\)">https://[^<]*/docs/\([^<]*\)</image>|\1 \2 \3|p' "$metainfo")
[ "$pictures" -eq 3 ] || fail "the metadata shows $pictures of the README's 3 pictures"
echo "1 passed, 0 failed"
