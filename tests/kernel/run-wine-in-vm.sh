#!/usr/bin/env bash
# Runs a Windows test program under Wine in Debian's kernel under qemu, beside CONTROLLER (a static
# Linux program that makes the uhid devices the test asks for), and exits with the program's
# status. The guest runs the host's own Wine: /usr and /etc are shared into it read-only, with the
# program's folder; a Wine prefix of its own is made here once and shared read-write.
# Usage: run-wine-in-vm.sh CONTROLLER PROGRAM [ARGS...]
# Environment: QUEN_KERNEL_CACHE  the kernel cache; it also keeps udevd and the guest's Wine prefix
#              QUEN_VM_TIME_LIMIT hard limit in seconds for the whole VM run (default 600)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
cache=${QUEN_KERNEL_CACHE:-$here/../../build/kernel-cache}

say() { echo "run-wine-in-vm: $*"; }
fail() {
    echo "run-wine-in-vm: FAILED: $*" >&2
    exit 1
}
[ $# -ge 2 ] || fail "usage: $0 CONTROLLER PROGRAM [ARGS...]"
controller=$(realpath "$1")
program=$(realpath "$2")
shift 2
[ -x "$controller" ] || fail "$controller is not an executable file"
[ -f "$program" ] || fail "$program does not exist"
for tool in wine wineboot wineserver apt-get dpkg-deb; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/test-windows.sh installs Wine)"
done

mkdir -p "$cache"
cache=$(cd "$cache" && pwd -P)
# The x86 and x64 tests share what is made here, and the guest's prefix is written to: the lock is
# held until the VM has powered off (run-in-vm.sh inherits it), so that one guest uses it at a time.
exec 9>"$cache/.wine-lock"
flock 9

# --- udevd ---------------------------------------------------------------------------------------
# Wine sees hotplug and unplug only through udevd's events. The host need not run or even have
# udev: Debian's package is unpacked into the cache, and runs in the guest on the host's libraries.
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
udev_version() { apt-cache policy udev 2>/dev/null | awk '$1 == "Candidate:" && $2 != "(none)" { print $2 }'; }
version=$(udev_version)
if [ -z "$version" ]; then
    $sudo apt-get update -q >&2 || true
    version=$(udev_version)
fi
[ -n "$version" ] || fail "apt knows no udev package"
udev_dir=$cache/udev-${version//[^0-9A-Za-z.+-]/_}
if [ ! -x "$udev_dir/systemd-udevd" ]; then
    rm -rf "$cache"/udev-*
    work=$(mktemp -d "$cache/.udev.XXXXXX")
    # Stale package lists name a version the mirror no longer has: update once and try again.
    (cd "$work" && apt-get download -q "udev=$version" >&2) ||
        { $sudo apt-get update -q >&2 && version=$(udev_version) &&
            udev_dir=$cache/udev-${version//[^0-9A-Za-z.+-]/_} &&
            (cd "$work" && apt-get download -q "udev=$version" >&2); } ||
        fail "cannot download udev $version"
    dpkg-deb -x "$work"/udev_*.deb "$work/x"
    # udevadm is udevd when called by that name.
    udevadm=$(cd "$work/x" && find . -path '*bin/udevadm' | head -n 1)
    [ -n "$udevadm" ] || fail "no udevadm in the udev package"
    ln -s "$udevadm" "$work/x/systemd-udevd"
    mv "$work/x" "$udev_dir"
    rm -rf "$work"
fi

# --- The guest's Wine prefix ---------------------------------------------------------------------
# Made on the host once (20 s, where wineboot in the guest takes minutes), with winebus's Linux HID
# bus switched on: it does not start while "Enable SDL" is on, which is the default even without
# SDL. The device made from /dev/input/mice is left out. A prefix of its own, so that the guest's
# registry never meets that of a Wine server on the host.
prefix=$cache/wine-prefix
if [ ! -f "$prefix/.quen-vm-ready" ]; then
    rm -rf "$prefix"
    say "making the guest's Wine prefix $prefix"
    (
        export WINEPREFIX=$prefix WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all
        unset DISPLAY WAYLAND_DISPLAY
        key='HKLM\System\CurrentControlSet\Services\winebus'
        wineboot -i
        wine reg add "$key" /v "Enable SDL" /t REG_DWORD /d 0 /f
        wine reg add "$key" /v DisableInput /t REG_DWORD /d 1 /f
        wineserver -w
    ) >"$cache/wine-prefix.log" 2>&1 || fail "cannot make the Wine prefix (see $cache/wine-prefix.log)"
    mkdir -p "$prefix/.quen-pristine"
    cp "$prefix"/*.reg "$prefix/.quen-pristine/"
    touch "$prefix/.quen-vm-ready"
fi
# Every run starts from the registry as made: Wine keeps what it learnt of earlier runs' devices
# there, and a device met before under the same IDs is then listed long after it is unplugged.
cp "$prefix/.quen-pristine"/*.reg "$prefix/"

# --- Boot ------------------------------------------------------------------------------------------
# Two virtual CPUs let qemu run Wine's server, its services and the test on two host threads. The
# guest's Wine needs some 600 MB.
shares="/usr:/etc:$udev_dir:$(dirname "$program")"
[ "$(dirname "$controller")" = "$(dirname "$program")" ] || shares+=":$(dirname "$controller")"
export QUEN_VM_SHARES=$shares
export QUEN_VM_SHARES_RW=$prefix
export QUEN_VM_MEMORY=2048 QUEN_VM_CPUS=2
export QUEN_VM_TIME_LIMIT=${QUEN_VM_TIME_LIMIT:-600}
# The loader for the program's architecture: the PE header's machine field, at e_lfanew + 4.
pe_offset=$(od -An -tu4 -j60 -N4 "$program" | tr -d ' ')
case $(od -An -tx2 -j$((pe_offset + 4)) -N2 "$program" | tr -d ' ') in
014c) loader=/usr/lib/wine/wine ;;
8664) loader=/usr/lib/wine/wine64 ;;
*) fail "$program is neither an x86 nor an x64 Windows program" ;;
esac
exec bash "$here/run-in-vm.sh" "$here/wine-guest.sh" "$controller" "$udev_dir/systemd-udevd" \
    "$prefix" "$loader" "$program" "$@"
