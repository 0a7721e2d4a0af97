#!/usr/bin/env bash
# Builds the Windows DLLs (x86 and x64, MinGW-w64 cross builds) with their tests and runs the
# tests under Wine: on the host, and (label kernel) in Debian's kernel under qemu against uhid
# devices, one VM boot per architecture. Installs the cross compilers, Wine and qemu with apt when
# they are missing.
# Usage: scripts/test-windows.sh [preset...]   (default: windows-x86 windows-x64)
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
presets=("$@")
if [ ${#presets[@]} -eq 0 ]; then
    presets=(windows-x86 windows-x64)
fi

log() { printf '== %s\n' "$*"; }

# --- Packages ------------------------------------------------------------------------------------
source "$repo/scripts/lib/packages.sh"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    # wine32 is an i386 package: the architecture must be known before the package lists are read.
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo dpkg --add-architecture i386
    unset QUEN_APT_UPDATED
fi
ensure_packages "${QUEN_BUILD_PACKAGES[@]}" googletest g++-mingw-w64-i686-posix \
    g++-mingw-w64-x86-64-posix wine wine64 wine32:i386 "${QUEN_KERNEL_TEST_PACKAGES[@]}" \
    "${QUEN_WINE_VM_PACKAGES[@]}"

# --- Wine ---------------------------------------------------------------------------------------
# One prefix for both architectures (a win64 prefix runs 32-bit programs too), made once under the
# build folder. No display: Wine's "nodrv" messages are harmless. Mono and Gecko are not wanted.
export WINEPREFIX="$repo/build/wine-prefix"
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY
wine_log="$repo/build/wine.log"
mkdir -p "$repo/build"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    log "making the Wine prefix $WINEPREFIX"
    start=$(date +%s)
    wineboot -i >"$wine_log" 2>&1
    wineserver -w
    log "Wine prefix made in $(($(date +%s) - start)) s"
fi

# One persistent server for the whole run, so that each test program does not pay for starting
# Wine. Wine's services are started here, outside CTest: a service started by the first test
# program would inherit its output pipe and CTest would wait on it for ever.
if ! wineserver -p 2>/dev/null; then
    log "a Wine server already runs for $WINEPREFIX: using it"
fi
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
wine wineboot >>"$wine_log" 2>&1

# --- Build and test -----------------------------------------------------------------------------
cd "$repo"
# scripts/test.sh passes a folder in which to leave each CTest output, to count the results.
ctest_logs="${QUEN_CTEST_LOG_DIR:-$repo/build}"
failed=()
for preset in "${presets[@]}"; do
    log "$preset: configure, build, test"
    if cmake --preset "$preset" &&
        cmake --build --preset "$preset" &&
        ctest --preset "$preset" --timeout 300 2>&1 | tee "$ctest_logs/$preset.log"; then
        log "$preset: passed"
    else
        failed+=("$preset")
        log "$preset: FAILED"
    fi
done

if [ ${#failed[@]} -gt 0 ]; then
    log "failed: ${failed[*]}"
    exit 1
fi
log "Windows builds passed: ${presets[*]}"
