#!/bin/busybox sh
# Runs a Windows test program under the host's Wine inside the kernel VM, with a device controller
# beside it (device_controller.cpp) that makes the uhid devices the program asks for.
# run-wine-in-vm.sh puts this script in the VM's initramfs, with the host's folders mounted at
# their own paths.
# Usage: wine-guest.sh CONTROLLER UDEVD PREFIX LOADER PROGRAM [ARGS...]
# LOADER is Wine's loader for PROGRAM's architecture (/usr/lib/wine/wine or wine64): the generic
# "wine" command would pass an x64 program through a 32-bit start.exe first.
# Exits with PROGRAM's status; prints a "QUEN-WINE-TIME" line with the start-up's cost.
set -u
[ $# -ge 5 ] || {
    echo "usage: $0 CONTROLLER UDEVD PREFIX LOADER PROGRAM [ARGS...]"
    exit 2
}
controller=$1
udevd=$2
prefix=$3
loader=$4
shift 4
port=7781

uptime() { cut -d' ' -f1 /proc/uptime; }
start=$(uptime)
fail() {
    echo "wine-guest: FAILED: $*"
    exit 1
}

# --- A root of the host's own programs: /usr and /etc over 9p, the rest made here -------------
root=/wine-root
mkdir -p "$root/root"
shares=$(awk '$3 == "9p" { print $2 }' /proc/mounts)
for folder in $shares; do
    mkdir -p "$root$folder" && mount --bind "$folder" "$root$folder" || fail "cannot bind $folder"
done
# The host's top-level links into /usr (merged /usr): the loaders live behind /lib and /lib64.
for link in bin sbin lib lib32 lib64; do
    [ -d "/usr/$link" ] && ln -s "usr/$link" "$root/$link"
done
mkdir -p "$root/proc" "$root/sys" "$root/dev" "$root/tmp" "$root/run"
mount -t proc proc "$root/proc"
mount -t sysfs sysfs "$root/sys"
# devtmpfs itself, so that hidraw nodes made later appear inside too.
mount --bind /dev "$root/dev"
mkdir -p /dev/shm
for scratch in tmp run dev/shm; do
    mount -t tmpfs tmpfs "$root/$scratch"
done
mkdir -p "$root/run/udev"
# The controller and Wine talk over the loopback interface; the guest has no other network.
ip link set lo up

# --- udevd: Wine learns of hotplug and unplug only from its events ----------------------------
chroot "$root" "$udevd" --daemon || fail "systemd-udevd did not start"

"$controller" "$port" &

# --- Wine: one server for the run, its services started before the program --------------------
# Started by the program instead, the services would inherit its console and keep it open.
run_wine() {
    chroot "$root" /usr/bin/env -i PATH=/usr/bin:/bin HOME=/root WINEPREFIX="$prefix" \
        WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all \
        QUEN_DEVICE_CONTROLLER="127.0.0.1:$port" "$@"
}
run_wine wineserver -p || fail "wineserver did not start"
run_wine "$loader" wineboot </dev/null >/dev/null 2>&1 || fail "wineboot failed"
ready=$(uptime)

# Through a pipe: with the console's tty as its output, Wine would start a console host that
# redraws the output as a screen.
(
    run_wine "$loader" "$@" </dev/null 2>&1
    echo $? >"$root/tmp/status"
) | cat
status=$(cat "$root/tmp/status")
finished=$(uptime)

# The server saves the registry as it ends; sync puts it on the host before the VM powers off.
run_wine wineserver -k
run_wine wineserver -w
sync
echo "QUEN-WINE-TIME wine started in $(awk "BEGIN { print $ready - $start }") s," \
    "program ran $(awk "BEGIN { print $finished - $ready }") s"
exit $status
