#!/usr/bin/env bash
# Runs a Java class in Debian's arm64 JVM on Debian's arm64 kernel under qemu-system-aarch64 (TCG),
# as on an ARM till: the project's packages (every *_arm64.deb and *_all.deb in PACKAGES-DIR)
# unpacked into an arm64 root of Debian's Java runtime, the JVM started with no library path, and
# device_controller (static, aarch64) beside it to plug uhid devices (arm64-till-guest.sh). The
# root is made afresh for each run, so the packages always meet one that never had them.
# Unpacked, not installed: dpkg's maintainer scripts need a root that dpkg manages, and making an
# arm64 one takes debootstrap's second stage under emulation (in this VM it had configured 80 of
# its 123 packages after 7.5 minutes, the Java runtime not yet begun). The scripts are the same
# shell on amd64, where the package tests install and run them.
# Usage: run-arm64-till-in-vm.sh CONTROLLER PACKAGES-DIR DRIVER-JAR CLASS
#   CLASS runs as CLASS PORT, with -Dquen.hidProbe naming the installed probe.
# Environment: QUEN_KERNEL_CACHE  the kernel cache (fetch-kernel.sh; arm64 in its folder arm64)
#              QUEN_DEB_CACHE     the arm64 packages' cache (scripts/lib/deb-cache.sh)
#              QUEN_VM_TIME_LIMIT hard limit in seconds for the whole VM run (default 300)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
fail() {
    echo "run-arm64-till-in-vm: FAILED: $*" >&2
    exit 1
}
[ $# -eq 4 ] || fail "usage: $0 CONTROLLER PACKAGES-DIR DRIVER-JAR CLASS"
controller=$1 packages=$2 driver=$3 class=$4
source "$here/../../scripts/lib/deb-cache.sh"

shopt -s nullglob
debs=("$packages"/*_arm64.deb "$packages"/*_all.deb)
[ -n "$(compgen -G "$packages/*_arm64.deb")" ] ||
    fail "no arm64 package in $packages: run scripts/release.sh"
echo "run-arm64-till-in-vm: packages: ${debs[*]##*/}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
# Debian's arm64 Java runtime and what it needs to start headless, then the project's packages.
for deb in $(deb_cache_fetch arm64 libc6 libgcc-s1 libstdc++6 zlib1g openjdk-17-jre-headless) \
    "${debs[@]}"; do
    dpkg-deb -x "$deb" "$root"
done
java=$(cd "$root" && echo usr/lib/jvm/java-17-openjdk-arm64/bin/java)
[ -x "$root/$java" ] || fail "no $java in Debian's arm64 Java runtime"
probe=usr/bin/quenlink-hid-probe
[ -x "$root/$probe" ] || fail "no /$probe in the packages"
# Mount points for the guest, and the driver where the application would be.
mkdir -p "$root"/{proc,sys,dev,tmp,run,opt/till}
cp "$driver" "$root/opt/till/"

# Each JVM start under emulation costs seconds: a small fixed heap and the quick compiler.
QUEN_VM_ARCH=arm64 QUEN_VM_SHARES=$root QUEN_VM_EXTRA_PROGRAMS=$controller \
    QUEN_VM_MEMORY=1024 QUEN_VM_CPUS=2 QUEN_VM_TIME_LIMIT=${QUEN_VM_TIME_LIMIT:-300} \
    bash "$here/run-in-vm.sh" "$here/arm64-till-guest.sh" "$root" "/$java" -Xcheck:jni \
    -XX:+UseSerialGC -Xmx96m -XX:TieredStopAtLevel=1 -XX:-UsePerfData -Dquen.hidProbe="/$probe" \
    -cp "/usr/share/java/quenlink.jar:/opt/till/${driver##*/}" "$class"
