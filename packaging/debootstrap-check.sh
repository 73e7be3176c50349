#!/usr/bin/env bash
# Installs the packages in a fresh Debian 12 system and checks them there, as a user's
# machine would see them: install, the manager started from its desktop entry's command
# under Xvfb with the soft token and the demo token, upgrade, removal, and a vendor's
# driver (a stand-in file) left alone by the soft token package. Needs root and the network
# to the Debian mirror; takes several minutes. Not part of the test suite.
#
#   packaging/debootstrap-check.sh            builds the packages with scripts/package first
#   NO_BUILD=1 packaging/debootstrap-check.sh uses build/packages/*.deb as they are
#
# The bare debootstrap result is kept in $DEBOOTSTRAP_BASE (default build/debootstrap/base)
# and copied for every run, so a second run skips the download of the base system.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
base=${DEBOOTSTRAP_BASE:-$root/build/debootstrap/base}
work=${DEBOOTSTRAP_WORK:-$root/build/debootstrap}
rootfs="$work/rootfs"
shots="$root/build/screenshots"
driver=/opt/apps/com.qorvex.ovrinkey/files/lib/libovrinskf.so.1.0.0
soft_lib=/usr/lib/softskf/libovrinskf.so.1.0.0
mounted=()

[[ $(id -u) -eq 0 ]] || { echo "debootstrap-check: run as root" >&2; exit 1; }

step() { echo "== $*"; }
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
in_root() { chroot "$rootfs" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"; }

cleanup() {
    local i
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
        umount -l "${mounted[i]}" 2>/dev/null || true
    done
}
trap cleanup EXIT

if [[ -z ${NO_BUILD:-} ]]; then
    bash scripts/package
fi
packages=${PACKAGE_OUT:-build/packages}
manager_deb=$(ls "$packages"/ovrinkey_*.deb 2>/dev/null | head -n1)
soft_deb=$(ls "$packages"/softskf_*.deb 2>/dev/null | head -n1)
module_deb=$(ls "$packages"/skfp11_*.deb 2>/dev/null | head -n1)
[[ -n $manager_deb && -n $soft_deb && -n $module_deb ]] || fail "no packages in $packages (run scripts/package)"

if [[ ! -d $base ]]; then
    step "debootstrap bookworm into $base"
    rm -rf "$base.tmp"
    debootstrap --variant=minbase bookworm "$base.tmp" "$mirror"
    mv "$base.tmp" "$base"
fi

step "a fresh system in $rootfs"
# A run that was killed may have left /dev bound inside: deleting through it would delete
# the host's /dev. Unmount whatever is left, and never delete while anything is mounted.
if [[ -d $rootfs ]]; then
    for target in $(findmnt -rn -o TARGET | grep "^$rootfs/" | sort -r); do
        umount -l "$target" || true
    done
    ! findmnt -rn -o TARGET | grep -q "^$rootfs/" || fail "something is still mounted under $rootfs"
fi
rm -rf --one-file-system "$rootfs"
cp -a "$base" "$rootfs"
mount -t proc proc "$rootfs/proc" && mounted+=("$rootfs/proc")
mount --bind /dev "$rootfs/dev" && mounted+=("$rootfs/dev")
mount -t tmpfs tmpfs "$rootfs/dev/shm" && mounted+=("$rootfs/dev/shm")
cp /etc/resolv.conf "$rootfs/etc/resolv.conf"
mkdir -p "$rootfs/debs"

# Upgrade candidates: the same packages with a higher version.
repack() {
    local deb=$1 version=$2 tree
    tree=$(mktemp -d)
    dpkg-deb -R "$deb" "$tree"
    sed -i "s/^Version: .*/Version: $version/" "$tree/DEBIAN/control"
    dpkg-deb -b "$tree" "$rootfs/debs/$(dpkg-deb -f "$deb" Package)_${version}_amd64.deb" >/dev/null
    rm -rf "$tree"
}
cp "$manager_deb" "$soft_deb" "$module_deb" "$rootfs/debs/"
version=$(dpkg-deb -f "$manager_deb" Version)
repack "$manager_deb" "$version.1"
repack "$soft_deb" "$version.1"
repack "$module_deb" "$version.1"

step "installing the packages with apt (dependencies from the mirror)"
in_root apt-get update -qq
in_root apt-get install -y -qq "/debs/${manager_deb##*/}" "/debs/${soft_deb##*/}" "/debs/${module_deb##*/}" \
    xvfb xdotool x11-utils trayer imagemagick desktop-file-utils p11-kit >"$work/install.log" 2>&1 ||
    { tail -n 30 "$work/install.log" >&2; fail "installing the packages failed"; }
in_root dpkg -s ovrinkey softskf skfp11 | grep -E '^(Package|Status|Version|Depends):'

step "checking the installed layout"
[[ -L $rootfs$driver && $(readlink "$rootfs$driver") == "$soft_lib" ]] || fail "the driver path is not linked to the soft token"
in_root desktop-file-validate /usr/share/applications/com.qorvex.ovrinkey.desktop || fail "the installed entry does not validate"
exec_line=$(sed -n 's/^Exec=//p' "$rootfs/opt/apps/com.qorvex.ovrinkey/entries/applications/com.qorvex.ovrinkey.desktop")
[[ -x $rootfs$exec_line ]] || fail "the entry's command $exec_line is not installed"
# The links in /usr/share are absolute: they resolve inside the new system only.
in_root test -f /usr/share/icons/hicolor/48x48/apps/com.qorvex.ovrinkey.png || fail "the icon link is broken"
in_root test -f /usr/share/metainfo/com.qorvex.ovrinkey.metainfo.xml || fail "the metainfo link is broken"
in_root man -w skftool >/dev/null 2>&1 || [[ -f $rootfs/usr/share/man/man1/skftool.1.gz ]] || fail "no manual page"
echo "   driver link: $driver -> $(readlink "$rootfs$driver")"
echo "   entry command: $exec_line"

step "running the manager from the entry's command under Xvfb with the demo token"
cat >"$rootfs/tmp/run-manager.sh" <<SCRIPT
#!/bin/bash
# Runs inside the fresh system: the demo token in a fresh store, the manager under Xvfb,
# success when its tray icon appears (the tray shows once a token's insertion is handled).
set -u
export SOFTSKF_DIR=\$(mktemp -d)
export XDG_RUNTIME_DIR=\$(mktemp -d)
skftool demo >/dev/null || exit 10
skftool devices
# The module, registered with p11-kit by its package, shows the demo token.
p11-kit list-modules | grep -A12 '^skfp11:' | grep -q 'Velkora Z Idi' || { p11-kit list-modules; exit 11; }
Xvfb :42 -screen 0 1024x768x24 -nolisten tcp >/tmp/xvfb.log 2>&1 &
xvfb=\$!
export DISPLAY=:42
for _ in \$(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
trayer --edge top --align right --widthtype request --height 32 --SetDockType false >/dev/null 2>&1 &
tray=\$!
$exec_line >/tmp/ovrinkey.log 2>&1 &
manager=\$!
window=""; icon=""
for _ in \$(seq 300); do
    kill -0 \$manager 2>/dev/null || break
    for id in \$(xdotool search --pid \$manager 2>/dev/null); do
        eval "\$(xdotool getwindowgeometry --shell \$id)"
        if ((WIDTH == 662 && HEIGHT == 460)); then window=\$id
        elif ((WIDTH > 1 && WIDTH <= 64 && HEIGHT <= 64)); then icon=\$id; fi
    done
    [[ -n \$window && -n \$icon ]] && break
    sleep 0.1
done
sleep 1
[[ -n \$window ]] && import -window \$window /tmp/debootstrap-manager.png
echo "window=\${window:-none} trayicon=\${icon:-none}"
kill -TERM \$manager 2>/dev/null; wait \$manager; echo "manager exit code \$?"
kill \$tray \$xvfb 2>/dev/null; wait
[[ -n \$window && -n \$icon ]]
SCRIPT
chmod +x "$rootfs/tmp/run-manager.sh"
in_root /tmp/run-manager.sh || { cat "$rootfs/tmp/ovrinkey.log" >&2; fail "the manager did not show the demo token"; }
mkdir -p "$shots"
cp "$rootfs/tmp/debootstrap-manager.png" "$shots/debootstrap-manager.png" && echo "   saved $shots/debootstrap-manager.png"

step "upgrading to $version.1"
in_root apt-get install -y -qq "/debs/ovrinkey_$version.1_amd64.deb" "/debs/softskf_$version.1_amd64.deb" \
    "/debs/skfp11_$version.1_amd64.deb" >>"$work/install.log" 2>&1 ||
    { tail -n 30 "$work/install.log" >&2; fail "the upgrade failed"; }
in_root dpkg-query -W ovrinkey softskf skfp11
[[ $(readlink "$rootfs$driver") == "$soft_lib" ]] || fail "the upgrade lost the driver link"
[[ -x $rootfs$exec_line ]] || fail "the upgrade lost the manager"

step "removing the packages"
in_root apt-get purge -y -qq ovrinkey softskf skfp11 >>"$work/install.log" 2>&1 || fail "the removal failed"
[[ ! -e $rootfs$driver && ! -L $rootfs$driver ]] || fail "the driver link outlived the soft token"
left=$(find "$rootfs/opt/apps" "$rootfs/usr/lib/softskf" "$rootfs/usr/lib/x86_64-linux-gnu/pkcs11/libskfp11.so" \
    "$rootfs/usr/share/p11-kit/modules/skfp11.module" -mindepth 0 2>/dev/null | grep -v '^'"$rootfs"'/opt/apps$' || true)
[[ -z $left ]] || fail "removal left files behind: $left"
echo "   nothing left under /opt/apps or /usr/lib/softskf"

step "a vendor's driver (stand-in file) is never touched by the soft token package"
mkdir -p "$rootfs${driver%/*}"
echo "vendor driver stand-in" >"$rootfs$driver"
before=$(sha256sum <"$rootfs$driver")
in_root apt-get install -y -qq "/debs/${manager_deb##*/}" "/debs/${soft_deb##*/}" >>"$work/install.log" 2>&1 ||
    fail "installing beside a vendor's driver failed"
[[ ! -L $rootfs$driver && $(sha256sum <"$rootfs$driver") == "$before" ]] || fail "installing replaced the vendor's driver"
echo "   after install: $(ls -l "$rootfs$driver" | awk '{print $1, $5, $NF}')"
in_root apt-get purge -y -qq softskf >>"$work/install.log" 2>&1 || fail "removing the soft token failed"
[[ ! -L $rootfs$driver && $(sha256sum <"$rootfs$driver") == "$before" ]] || fail "removing the soft token took the vendor's driver"
echo "   after removing softskf: $(ls -l "$rootfs$driver" | awk '{print $1, $5, $NF}')"
in_root apt-get purge -y -qq ovrinkey >>"$work/install.log" 2>&1 || fail "removing the manager failed"
[[ $(sha256sum <"$rootfs$driver") == "$before" ]] || fail "removing the manager took the vendor's driver"

step "all checks passed"
