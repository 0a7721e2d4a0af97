#!/usr/bin/env bash
# Builds the Windows DLLs (x86 and x64, MinGW-w64 cross builds) with their tests and runs the
# tests under Wine, and (label kernel) in Debian's kernel under qemu against uhid devices. Installs
# the cross compilers, Wine and qemu with apt when they are missing.
#
# Two paths for the x86 tests, the same tests counted on both:
#   - a host that runs 32-bit programs runs Wine itself, and each kernel test boots its own VM;
#   - a host that cannot (some x86_64 kernels refuse them), or any host with QUEN_WINE_IN_VM=1,
#     runs them in one boot of the kernel VM, whose kernel can, beside the kernel tests' own boots.
#     Slower: see the README.
# The x64 tests need nothing 32-bit: they run on the host with Wine's 64-bit loader everywhere.
# Usage: scripts/test-windows.sh [preset...]   (default: windows-x86 windows-x64)
set -uo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
presets=("$@")
if [ ${#presets[@]} -eq 0 ]; then
    presets=(windows-x86 windows-x64)
fi

log() { printf '== %s\n' "$*"; }

source "$repo/scripts/lib/packages.sh"
source "$repo/scripts/lib/host.sh"
source "$repo/scripts/lib/steps.sh"
steps_begin

# --- Packages ------------------------------------------------------------------------------------
# wine32 is an i386 package: the architecture must be known before the package lists are read. It
# is wanted on both paths: the VM runs the host's own Wine.
add_i386() {
    dpkg --print-foreign-architectures | grep -qx i386 && return 0
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo dpkg --add-architecture i386 && unset QUEN_APT_UPDATED
}
step "Windows: install the cross compilers and Wine" eval 'add_i386 &&
    ensure_packages "${QUEN_BUILD_PACKAGES[@]}" googletest g++-mingw-w64-i686-posix \
        g++-mingw-w64-x86-64-posix wine wine64 wine32:i386 "${QUEN_KERNEL_TEST_PACKAGES[@]}" \
        "${QUEN_UDEVD_VM_PACKAGES[@]}"' || exit 0

cd "$repo" || exit 1

# in_vm PRESET: whether PRESET's tests run inside the kernel VM.
host_32bit=""
host_runs_32bit && host_32bit=1
in_vm() {
    [ "$1" = windows-x86 ] && { [ "${QUEN_WINE_IN_VM:-0}" = 1 ] || [ -z "$host_32bit" ]; }
}
on_host=()
for preset in "${presets[@]}"; do
    if ! in_vm "$preset"; then
        on_host+=("$preset")
    elif [ -z "$host_32bit" ]; then
        log "the host cannot run 32-bit programs: the x86 Windows tests run inside the kernel VM"
    else
        log "QUEN_WINE_IN_VM=1: the x86 Windows tests run inside the kernel VM"
    fi
done

# --- Wine on the host ----------------------------------------------------------------------------
# One prefix for both architectures (a win64 prefix runs 32-bit programs too), made once under the
# build folder; where the host cannot run 32-bit programs, by the 64-bit loader alone, which gives
# a prefix for x64 programs only. No display: Wine's "nodrv" messages are harmless. Mono and Gecko
# are not wanted.
export WINEPREFIX="$repo/build/wine-prefix"
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY
wine_log="$repo/build/wine.log"
wine64=/usr/lib/wine/wine64
mkdir -p "$repo/build"
make_prefix() {
    local start=$SECONDS
    log "making the Wine prefix $WINEPREFIX"
    if [ -n "$host_32bit" ]; then
        wineboot -i >"$wine_log" 2>&1
    else
        WINELOADER=$wine64 "$wine64" wineboot -i >"$wine_log" 2>&1
    fi && wineserver -w || {
        tail -n 20 "$wine_log"
        return 1
    }
    log "Wine prefix made in $((SECONDS - start)) s"
}
start_wine() {
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        step "Windows: the Wine prefix" make_prefix || return 1
    fi
    # One persistent server for the whole run, so that each test program does not pay for
    # starting Wine. Wine's services are started here, outside CTest: a service started by the
    # first test program would inherit its output pipe and CTest would wait on it for ever.
    if ! wineserver -p 2>/dev/null; then
        log "a Wine server already runs for $WINEPREFIX: using it"
    fi
    trap 'wineserver -k >/dev/null 2>&1 || true; steps_exit $?' EXIT
    step "Windows: start Wine" "$wine64" wineboot >>"$wine_log" 2>&1
}
wine_started=""
[ ${#on_host[@]} -eq 0 ] || { start_wine && wine_started=1; }

for preset in "${presets[@]}"; do
    if in_vm "$preset"; then
        # The kernel tests boot their own VM from the host, as on the other path, each with a
        # fresh Wine; then one more boot runs every other test of the preset.
        log "$preset: configure, build, test in the kernel VM"
        step "$preset: configure" cmake --preset "$preset" &&
            step "$preset: build" cmake --build --preset "$preset" &&
            { ctest_step "$preset: kernel tests" ctest --preset "$preset" -L kernel --timeout 300
            ctest_step "$preset: in the kernel VM" bash tests/kernel/run-wine-in-vm.sh --ctest \
                "$repo" "$preset" -LE kernel --timeout 900; }
    elif [ -n "$wine_started" ]; then
        log "$preset: configure, build, test"
        step "$preset: configure" cmake --preset "$preset" &&
            step "$preset: build" cmake --build --preset "$preset" &&
            ctest_step "$preset" ctest --preset "$preset" --timeout 300
    fi
done
exit 0
