#!/bin/busybox sh
# Runs a Java benchmark in the host's own JVM inside the kernel VM: run-in-vm.sh puts this script
# in the initramfs with tests/kernel/host-root.sh beside it, and shares the host's /usr, /etc and
# the benchmark's build tree read-only; the JVM runs in a chroot of them, with the guest's /dev,
# where uhid makes its hidraw nodes.
# Usage: jvm-guest.sh JAVA [JVM-ARGS...] CLASS [ARGS...]
# The program's output is framed by QUEN-BENCH-BEGIN and QUEN-BENCH-END lines, for bench/run.sh
# to take out of the console.
set -u
fail() {
    echo "jvm-guest: FAILED: $*"
    exit 1
}
[ $# -ge 2 ] || fail "usage: $0 JAVA [JVM-ARGS...] CLASS [ARGS...]"

. /test/host-root.sh
root=/host-root
make_host_root "$root"

echo "QUEN-BENCH-BEGIN"
# What a clock read costs in the guest depends on it (TCG has no stable TSC to offer).
echo "Guest clock source: $(cat /sys/devices/system/clocksource/clocksource0/current_clocksource)."
chroot "$root" /usr/bin/env -i PATH=/usr/bin:/bin HOME=/root "$@" </dev/null 2>&1
status=$?
echo "QUEN-BENCH-END"
exit $status
