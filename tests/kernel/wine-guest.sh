#!/bin/busybox sh
# Runs the host's Wine inside the kernel VM. run-wine-in-vm.sh puts this script in the VM's
# initramfs, with the host's folders mounted at their own paths, and names what to do:
#   prefix                               make the Wine prefix PREFIX (wineboot -i)
#   program CONTROLLER LOADER PROGRAM [ARGS...]
#                                        run one Windows test program, with a device controller
#                                        beside it (device_controller.cpp) that makes the uhid
#                                        devices the program asks for
#   ctest SOURCE-DIR PRESET [ARGS...]    run a Windows build's CTest tests, as a host that can run
#                                        32-bit programs runs them
# LOADER is Wine's loader for PROGRAM's architecture (/usr/lib/wine/wine or wine64): the generic
# "wine" command would pass an x64 program through a 32-bit start.exe first.
# Usage: wine-guest.sh UDEVD PREFIX MODE [MODE-ARGS...]
# Exits with the status of what it ran; prints a "QUEN-WINE-TIME" line with the start-up's cost.
set -u
[ $# -ge 3 ] || {
    echo "usage: $0 UDEVD PREFIX prefix|program|ctest [ARGS...]"
    exit 2
}
udevd=$1
prefix=$2
mode=$3
shift 3
port=7781

uptime() { cut -d' ' -f1 /proc/uptime; }
start=$(uptime)
fail() {
    echo "wine-guest: FAILED: $*"
    exit 1
}

# The guest's kernel must run what the host's may not: the reason the tests are here at all.
# elf32 is scripts/lib/host.sh's probe, put beside this script; it exits with 42 when it runs.
/test/elf32
[ $? -eq 42 ] || fail "this kernel does not run 32-bit programs either"

# --- A root of the host's own programs: /usr and /etc over 9p, the rest made here -------------
. /test/host-root.sh
root=/wine-root
make_host_root "$root"
mkdir -p "$root/run/udev"
# The controller and Wine talk over the loopback interface; the guest has no other network.
ip link set lo up

# --- udevd: Wine learns of hotplug and unplug only from its events ----------------------------
chroot "$root" "$udevd" --daemon || fail "systemd-udevd did not start"

run_wine() {
    chroot "$root" /usr/bin/env -i PATH=/usr/bin:/bin HOME=/root WINEPREFIX="$prefix" \
        WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all "$@"
}
# The server saves the registry as it ends; sync puts it on the host before the VM powers off.
stop_wine() {
    run_wine wineserver -k
    run_wine wineserver -w
    sync
}

if [ "$mode" = prefix ]; then
    # winebus's Linux HID bus does not start while "Enable SDL" is on, the default even without
    # SDL; the device made from /dev/input/mice is left out.
    key='HKLM\System\CurrentControlSet\Services\winebus'
    run_wine wineboot -i </dev/null 2>&1 | tail -n 20
    run_wine wine reg add "$key" /v "Enable SDL" /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1 &&
        run_wine wine reg add "$key" /v DisableInput /t REG_DWORD /d 1 /f </dev/null >/dev/null 2>&1 ||
        fail "cannot set winebus's options"
    stop_wine
    [ -f "$root$prefix/system.reg" ] || fail "wineboot made no registry"
    echo "QUEN-WINE-TIME prefix made in $(awk "BEGIN { print $(uptime) - $start }") s"
    exit 0
fi

# --- Wine: one server for the run, its services started before the program --------------------
# Started by the program instead, the services would inherit its console and keep it open.
run_wine wineserver -p || fail "wineserver did not start"
run_wine wineboot </dev/null >/dev/null 2>&1 || fail "wineboot failed"
ready=$(uptime)

# Through a pipe: with the console's tty as its output, Wine would start a console host that
# redraws the output as a screen.
case $mode in
program)
    [ $# -ge 3 ] || fail "program: CONTROLLER LOADER PROGRAM [ARGS...]"
    controller=$1
    shift
    "$controller" "$port" &
    (
        run_wine QUEN_DEVICE_CONTROLLER="127.0.0.1:$port" "$@" </dev/null 2>&1
        echo $? >"$root/tmp/status"
    ) | cat
    ;;
ctest)
    [ $# -ge 2 ] || fail "ctest: SOURCE-DIR PRESET [ARGS...]"
    source_dir=$1
    preset=$2
    shift 2
    (
        run_wine /bin/sh -c 'cd "$1" && shift && exec ctest --preset "$@"' \
            ctest "$source_dir" "$preset" "$@" </dev/null 2>&1
        echo $? >"$root/tmp/status"
    ) | cat
    ;;
*)
    fail "unknown mode $mode"
    ;;
esac
status=$(cat "$root/tmp/status")
finished=$(uptime)
stop_wine
echo "QUEN-WINE-TIME wine started in $(awk "BEGIN { print $ready - $start }") s," \
    "$mode ran $(awk "BEGIN { print $finished - $ready }") s"
exit $status
