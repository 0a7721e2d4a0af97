#!/usr/bin/env bash
# Runs Windows tests under Wine in Debian's kernel under qemu. The guest runs the host's own Wine:
# /usr and /etc are shared into it read-only, with the tests' folders; a Wine prefix of its own is
# made once and shared read-write.
# Usage: run-wine-in-vm.sh CONTROLLER PROGRAM [ARGS...]
#            one Windows test program, beside CONTROLLER (a static Linux program that makes the
#            uhid and USB devices the test asks for); exits with the program's status
#        run-wine-in-vm.sh --ctest SOURCE-DIR PRESET [CTEST-ARGS...]
#            a Windows build's CTest tests (those that boot no VM of their own), for a host that
#            cannot run 32-bit programs; exits with CTest's status
# Environment: QUEN_KERNEL_CACHE  the kernel cache; it also keeps udevd and the guest's Wine prefix
#              QUEN_VM_TIME_LIMIT hard limit in seconds for the whole VM run (default 600)
#              QUEN_WINE_IN_VM    1: make the prefix in the guest even where the host could
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
cache=${QUEN_KERNEL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quenlink/kernel-cache}
source "$here/../../scripts/lib/host.sh"

say() { echo "run-wine-in-vm: $*"; }
fail() {
    echo "run-wine-in-vm: FAILED: $*" >&2
    exit 1
}

# The loader for a Windows program's architecture: the PE header's machine field, at e_lfanew + 4.
wine_loader() {
    local pe_offset
    pe_offset=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
    case $(od -An -tx2 -j$((pe_offset + 4)) -N2 "$1" | tr -d ' ') in
    014c) echo /usr/lib/wine/wine ;;
    8664) echo /usr/lib/wine/wine64 ;;
    *) fail "$1 is neither an x86 nor an x64 Windows program" ;;
    esac
}

ctest_run=""
if [ "${1:-}" = --ctest ]; then
    [ $# -ge 3 ] || fail "usage: $0 --ctest SOURCE-DIR PRESET [CTEST-ARGS...]"
    ctest_run=1
    source_dir=$(cd "$2" && pwd -P)
    shift
else
    [ $# -ge 2 ] || fail "usage: $0 CONTROLLER PROGRAM [ARGS...]"
    controller=$(realpath "$1")
    program=$(realpath "$2")
    shift 2
    [ -x "$controller" ] || fail "$controller is not an executable file"
    [ -f "$program" ] || fail "$program does not exist"
    loader=$(wine_loader "$program")
fi
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
# Wine sees hotplug and unplug only through udevd's events.
source "$here/udev-cache.sh"
udev_in_cache "$cache"

# --- The VM -------------------------------------------------------------------------------------
# Two virtual CPUs let qemu run Wine's server, its services and the test on two host threads. The
# guest's Wine needs some 600 MB. The guest checks first that it runs 32-bit programs, with the
# probe from scripts/lib/host.sh beside it, and builds its root of the host's programs with
# host-root.sh.
probe_dir=$(mktemp -d)
trap 'rm -rf "$probe_dir"' EXIT
write_elf32 "$probe_dir/elf32"
export QUEN_VM_EXTRA_PROGRAMS=$probe_dir/elf32:$here/host-root.sh
export QUEN_VM_MEMORY=2048 QUEN_VM_CPUS=2
boot_guest() {  # boot_guest READ-ONLY-SHARES READ-WRITE-SHARES TIME-LIMIT MODE [ARGS...]
    QUEN_VM_SHARES=/usr:/etc:$udev_dir:$1 QUEN_VM_SHARES_RW=$2 QUEN_VM_TIME_LIMIT=$3 \
        bash "$here/run-in-vm.sh" "$here/wine-guest.sh" "$udev_dir/systemd-udevd" "$prefix" \
        "${@:4}"
}

# --- The guest's Wine prefix ---------------------------------------------------------------------
# With winebus's Linux HID bus switched on (wine-guest.sh's prefix mode says why). Made on the
# host where it can (20 s), in the guest where it cannot (wineboot starts 32-bit programs too; it
# takes minutes under emulation). A prefix of its own, so that the guest's registry never meets
# that of a Wine server on the host.
# The cache outlives a clone: a prefix made by another version of Wine is made again, since Wine
# would otherwise bring it up to date in every guest, for minutes, from the registry as first made.
prefix=$cache/wine-prefix
wine_version=$(/usr/lib/wine/wine64 --version)
if [ "$(cat "$prefix/.quen-vm-ready" 2>/dev/null)" != "$wine_version" ]; then
    rm -rf "$prefix"
    mkdir -p "$prefix"
    start=$SECONDS
    if wine_runs_in_vm; then
        say "making the guest's Wine prefix $prefix in the VM (minutes under emulation)"
        boot_guest "" "$prefix" 1800 prefix >"$cache/wine-prefix.log" 2>&1 ||
            fail "cannot make the Wine prefix in the VM (see $cache/wine-prefix.log)"
    else
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
    fi
    say "Wine prefix made in $((SECONDS - start)) s"
    mkdir -p "$prefix/.quen-pristine"
    cp "$prefix"/*.reg "$prefix/.quen-pristine/"
    echo "$wine_version" >"$prefix/.quen-vm-ready"
fi
# Every run starts from the registry as made: Wine keeps what it learnt of earlier runs' devices
# there, and a device met before under the same IDs is then listed long after it is unplugged.
cp "$prefix/.quen-pristine"/*.reg "$prefix/"

if [ -n "$ctest_run" ]; then
    # The source folder read-only; the build folder written to (the tests keep scratch files
    # there, CTest its records) but cached, as Wine maps the programs from it.
    preset=$2
    build_dir=$source_dir/build/$preset
    [ -f "$build_dir/CTestTestfile.cmake" ] || fail "$build_dir holds no configured build"
    QUEN_VM_SHARES_RW_CACHED=$build_dir boot_guest "$source_dir" "$prefix" \
        "${QUEN_VM_TIME_LIMIT:-2400}" ctest "$source_dir" "${@:2}"
else
    shares=$(dirname "$program")
    [ "$(dirname "$controller")" = "$shares" ] || shares+=":$(dirname "$controller")"
    # The controller also plugs USB gadgets in.
    QUEN_VM_USB=1 boot_guest "$shares" "$prefix" "${QUEN_VM_TIME_LIMIT:-600}" program \
        "$controller" "$loader" "$program" "$@"
fi
