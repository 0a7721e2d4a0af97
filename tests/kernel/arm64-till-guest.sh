#!/bin/busybox sh
# Runs a Java class in the arm64 root that run-arm64-till-in-vm.sh shares (read-only, at its own
# path), chrooted, as root, with device_controller beside it outside the root. Exits 1 when the
# class fails or -Xcheck:jni warns.
# Usage: arm64-till-guest.sh ROOT JAVA [JVM-ARGS...] CLASS   (CLASS runs as CLASS PORT)
set -u
fail() {
    echo "arm64-till-guest: FAILED: $*"
    exit 1
}
[ $# -ge 3 ] || fail "usage: $0 ROOT JAVA [JVM-ARGS...] CLASS"
root=$1
shift
port=7781

mount -t proc proc "$root/proc" && mount -t sysfs sysfs "$root/sys" &&
    mount --bind /dev "$root/dev" && mount -t tmpfs tmpfs "$root/tmp" &&
    mount -t tmpfs tmpfs "$root/run" || fail "cannot mount the root's file systems"
ip link set lo up
/test/device_controller $port &

env -i PATH=/usr/bin:/bin HOME=/tmp chroot "$root" "$@" $port >/tmp/jvm.log 2>&1
status=$?
cat /tmp/jvm.log
# -Xcheck:jni reports a misuse of JNI as a warning and goes on.
if grep -q '^WARNING' /tmp/jvm.log; then
    fail "-Xcheck:jni warned"
fi
exit $status
