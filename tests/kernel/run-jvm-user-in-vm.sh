#!/usr/bin/env bash
# Runs a Java class in the host's JVM inside the kernel VM as a till's service user, with udevd
# and the shipped udev rule (jvm-user-guest.sh says how). Exits with the guest's status; a kernel,
# udev or JVM that cannot be had is a failure, never a skip.
# Usage: run-jvm-user-in-vm.sh CONTROLLER RULES PROBE LIBRARY-DIR CLASS-PATH CLASS
#   CONTROLLER device_controller, static; RULES the rules file as it ships; PROBE hid_probe,
#   which CLASS finds in the system property quen.hidProbe; LIBRARY-DIR the shipped libraries;
#   CLASS-PATH colon-separated jars. Every folder they are in is shared read-only.
# Environment: QUEN_KERNEL_CACHE  the kernel cache; it also keeps udevd
#              QUEN_VM_TIME_LIMIT hard limit in seconds for the whole VM run (default 300)
#              QUEN_VM_USB        1: the controller may plug USB gadgets in (run-in-vm.sh)
#              QUEN_JVM_PHASES    the phases to run CLASS in (jvm-user-guest.sh; default all three)
#              QUEN_JVM_OPTIONS   further JVM options, separated by spaces
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
cache=${QUEN_KERNEL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quenlink/kernel-cache}
fail() {
    echo "run-jvm-user-in-vm: FAILED: $*" >&2
    exit 1
}
[ $# -eq 6 ] || fail "usage: $0 CONTROLLER RULES PROBE LIBRARY-DIR CLASS-PATH CLASS"
controller=$1 rules=$(realpath "$2") probe=$(realpath "$3") libraries=$(realpath "$4") class_path=$5
shift 5
[ -f "$rules" ] || fail "$rules does not exist"
java=$(command -v java) || fail "java is missing (scripts/test.sh installs a JDK)"
java=$(readlink -f "$java")

mkdir -p "$cache"
cache=$(cd "$cache" && pwd -P)
source "$here/udev-cache.sh"
udev_in_cache "$cache"

# Each folder once: the shares are mounted at their own paths.
shares=/usr:/etc:$udev_dir:$(dirname "$rules"):$(dirname "$probe"):$libraries
IFS=: read -r -a jars <<<"$class_path"
for jar in "${jars[@]}"; do
    [ -f "$jar" ] || fail "$jar does not exist"
    shares+=:$(dirname "$(realpath "$jar")")
done
shares=$(tr : '\n' <<<"$shares" | sort -u | paste -sd:)

# A small fixed heap and the quick compiler: a JVM starts in some 5 s under emulation, twice here.
read -r -a options <<<"${QUEN_JVM_OPTIONS:-}"
QUEN_VM_SHARES=$shares QUEN_VM_EXTRA_PROGRAMS=$here/host-root.sh:$controller \
    QUEN_VM_MEMORY=1024 QUEN_VM_CPUS=2 QUEN_VM_TIME_LIMIT=${QUEN_VM_TIME_LIMIT:-300} \
    exec bash "$here/run-in-vm.sh" "$here/jvm-user-guest.sh" \
    --phases "${QUEN_JVM_PHASES:-without-rule outside-group group}" "$udev_dir/systemd-udevd" \
    "$rules" "$java" -XX:+UseSerialGC -Xmx96m -XX:TieredStopAtLevel=1 -XX:-UsePerfData \
    "${options[@]}" -Djava.library.path="$libraries" -Dquen.hidProbe="$probe" \
    -cp "$class_path" "$1"
