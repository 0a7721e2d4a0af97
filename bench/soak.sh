#!/usr/bin/env bash
# A whole shift at the till, soaked, on demand: the soak that CI runs small (till_shift_soak, and
# WineShift in wine_dll_bridges_test) at the size asked for, in the kernel VM against USB gadgets
# that device_controller plays from the seed (tests/kernel/shift_run.h). On Linux the shipped
# hidraw libraries run in the host's JVM as the till's service user (TillShift); with --wine the
# shipped x86 DLLs run under the host's Wine, called through their exports. Builds what it needs
# in the linux (or windows-x86) preset's tree, then prints the machine, its load, the command and
# the accounting as Markdown, ready for bench/SOAK.md. Exits non-zero when the accounting failed.
#
# Usage: bench/soak.sh [--wine] [--seed N] [--scans N] [--reseats N] [--flashes N]
#   defaults: a shift of 10,000 scans, 100 reseats and 10 flashes, seed 1; with --wine a shorter
#   one of 1,000 scans, 10 reseats and 2 flashes (Wine's plug and play takes seconds per replug)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/packages.sh
# What the linux preset builds with; --wine needs the cross compilers and Wine besides, which
# scripts/test-windows.sh installs.
ensure_packages "${QUEN_BUILD_PACKAGES[@]}" "${QUEN_KERNEL_TEST_PACKAGES[@]}" \
    "${QUEN_UDEVD_VM_PACKAGES[@]}" libgtest-dev googletest junit5

command="bench/soak.sh${*:+ $*}"
wine="" seed=1 scans="" reseats="" flashes=""
while [ $# -gt 0 ]; do
    case $1 in
        --wine) wine=1; shift ;;
        --seed) seed=$2; shift 2 ;;
        --scans) scans=$2; shift 2 ;;
        --reseats) reseats=$2; shift 2 ;;
        --flashes) flashes=$2; shift 2 ;;
        *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
done
if [ -n "$wine" ]; then
    size="$seed,${scans:-1000},${reseats:-10},${flashes:-2}"
else
    size="$seed,${scans:-10000},${reseats:-100},${flashes:-10}"
fi
export QUEN_KERNEL_CACHE=${QUEN_KERNEL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quenlink/kernel-cache}
# A shift of 10,000 scans takes some 20 minutes in the VM on an idle machine.
export QUEN_VM_TIME_LIMIT=${QUEN_VM_TIME_LIMIT:-7200}
load() { cut -d' ' -f1-3 /proc/loadavg; }

if [ -n "$wine" ]; then
    build=$PWD/build/windows-x86
    cmake --preset windows-x86 >/dev/null
    cmake --build "$build" -j2 --target wine_dll_bridges_test scannerlink scalelink \
        device_controller >/dev/null
else
    build=$PWD/build/linux
    cmake --preset linux >/dev/null
    cmake --build "$build" -j2 --target device_controller hid_probe scannerlink scalelink \
        quenlink_jar quenlink_jvm_tests >/dev/null
fi
bash tests/kernel/fetch-kernel.sh "$QUEN_KERNEL_CACHE" >/dev/null

echo "## $(date -u '+%Y-%m-%d %H:%M UTC'): $([ -n "$wine" ] && echo "Wine, x86 DLLs" || echo "Linux, JVM")"
echo
commit=$(git rev-parse --short HEAD 2>/dev/null || echo unknown)
git diff --quiet HEAD 2>/dev/null || commit+=", with uncommitted changes"
echo "Command: \`$command\` (commit $commit; seed, scans, reseats, flashes: $size)"
echo
echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)," \
    "Linux $(uname -r), $(java -version 2>&1 | head -1), $(wine --version 2>/dev/null);" \
    "Debian's kernel $(basename "$(readlink -f "$QUEN_KERNEL_CACHE/current")") under" \
    "qemu-system-x86_64 -accel tcg, 2 vCPUs; load average before the VM $(load)"
echo

console=$build/soak-console.log
status=0
if [ -n "$wine" ]; then
    bash tests/kernel/run-wine-in-vm.sh "$build/bin/device_controller" \
        "$build/bin/wine_dll_bridges_test.exe" --gtest_filter='WineShift.*' --shift="$size" \
        >"$console" 2>&1 || status=$?
else
    QUEN_VM_USB=1 QUEN_JVM_PHASES=group \
        QUEN_JVM_OPTIONS="-Xms96m -XX:+AlwaysPreTouch -XX:-UseDynamicNumberOfCompilerThreads -Dquen.shift=$size" \
        bash tests/kernel/run-jvm-user-in-vm.sh "$build/bin/device_controller" \
        packaging/70-quenlink.rules "$build/bin/hid_probe" "$build/lib" \
        "$build/java/quenlink.jar:$build/tests/java/quenlink-jvm-tests.jar" \
        com.quendal.javapos.usb.TillShift >"$console" 2>&1 || status=$?
fi
sed -n 's/^shift: /- /p' "$console"
echo
echo "Load average after the VM $(load); the VM $(grep -o 'whole run [0-9.]* s' "$console")."
if [ "$status" != 0 ]; then
    echo "the soak failed (status $status); console in $console" >&2
fi
exit "$status"
