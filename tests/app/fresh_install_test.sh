#!/usr/bin/env bash
# Installs the package on a fresh Debian 12 root, as a new user would (apt, nothing but what the package
# depends on), then starts /usr/bin/Tesselby there as an ordinary user under a virtual X server and
# waits until its main window shows. Needs root, debootstrap, Xvfb, xwininfo and deb.debian.org.
#   fresh_install_test.sh PACKAGE ROOT_FOLDER
# The root is removed afterwards; the downloaded packages are kept beside it for the next run.
set -euo pipefail
package=$(realpath "$1")
root=$(realpath -m "$2")
cache="$root-cache"
mirror=${TESSELBY_DEBIAN_MIRROR:-http://deb.debian.org/debian}

fail() { echo "FAIL: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || fail "making a Debian root needs root"

xvfb_pid=
program_pid=
cleanup() {
    [ -n "$program_pid" ] && kill "$program_pid" 2> /dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2> /dev/null
    wait 2> /dev/null
    # The host's /dev and X socket folder are mounted inside: never remove the root while they are.
    local mount
    for mount in $(findmnt -rn -o TARGET | grep -F "$root/" | sort -r); do
        umount -l "$mount"
    done
    if findmnt -rn -o TARGET | grep -qF "$root/"; then
        echo "left $root in place: something is still mounted inside it" >&2
    else
        rm -rf --one-file-system "$root"
    fi
}
trap cleanup EXIT

started=$SECONDS
rm -rf --one-file-system "$root"
mkdir -p "$cache/debootstrap" "$cache/apt/partial"
debootstrap --variant=minbase --cache-dir="$cache/debootstrap" bookworm "$root" "$mirror" > "$root.log" 2>&1 ||
    { tail -n 20 "$root.log"; fail "debootstrap could not make a Debian 12 root"; }
echo "debootstrap: a Debian 12 root in $((SECONDS - started)) s"

mount -t proc proc "$root/proc"
mount --bind /dev "$root/dev"
mount --bind "$cache/apt" "$root/var/cache/apt/archives"
cp /etc/resolv.conf "$root/etc/resolv.conf"
cp "$package" "$root/tmp/"
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive "$@"; }
in_root apt-get update -qq
in_root apt-get install -y -qq --no-install-recommends "./tmp/$(basename "$package")" > "$root.log" 2>&1 ||
    { tail -n 20 "$root.log"; fail "apt could not install the package"; }
echo "apt: installed $(basename "$package") and what it depends on, $((SECONDS - started)) s in all"
in_root useradd --create-home tester

# A display number no other X server holds; its socket is shared with the root through the folder.
display=99
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
    display=$((display + 1))
done
Xvfb ":$display" -nolisten tcp -screen 0 1024x768x24 > /dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -e "/tmp/.X11-unix/X$display" ] && break
    sleep 0.1
done
[ -e "/tmp/.X11-unix/X$display" ] || fail "Xvfb did not start"
mkdir -p "$root/tmp/.X11-unix"
mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"

chroot --userspec=tester:tester "$root" env -i PATH=/usr/bin:/bin HOME=/home/tester DISPLAY=":$display" \
    /usr/bin/Tesselby > "$root.log" 2>&1 &
program_pid=$!
for _ in $(seq 300); do
    if xwininfo -display ":$display" -root -tree 2> /dev/null | grep -qF '"Tesselby: Main Screen"'; then
        echo "Tesselby showed its main window on a fresh Debian 12, $((SECONDS - started)) s in all"
        rm -f "$root.log"
        exit 0
    fi
    kill -0 "$program_pid" 2> /dev/null || { cat "$root.log"; fail "Tesselby ended without showing its window"; }
    sleep 0.2
done
cat "$root.log"
fail "Tesselby's main window did not show within a minute"
