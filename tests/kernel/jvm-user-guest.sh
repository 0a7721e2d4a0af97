#!/bin/busybox sh
# Runs the host's JVM inside the kernel VM as a till's service user: not root, and a member of the
# group plugdev unless the phase says otherwise. run-jvm-user-in-vm.sh puts this script in the
# initramfs with host-root.sh and device_controller beside it, and shares the host's /usr and
# /etc, udev and the build read-only.
# udevd runs as it does on a till; the JVM runs once per phase, each time with devices of its own
# plugged by device_controller (root, beside it) as the JVM asks: with no rule of ours, then with
# the group form of the shipped rule (taken from the rules file as it ships) for the user outside
# the group, and in it.
# Usage: jvm-user-guest.sh --phases "PHASE..." UDEVD RULES JAVA [JVM-ARGS...] CLASS
# CLASS is run as CLASS PHASE PORT UDEVADM, PHASE being without-rule, outside-group, group, in
# that order.
set -u
fail() {
    echo "jvm-user-guest: FAILED: $*"
    exit 1
}
[ $# -ge 6 ] && [ "$1" = --phases ] ||
    fail "usage: $0 --phases PHASES UDEVD RULES JAVA [JVM-ARGS...] CLASS"
phases=$2
udevd=$3
rules=$4
shift 4
udevadm=$(dirname "$udevd")/$(readlink "$udevd")
port=7781
uid=4242

. /test/host-root.sh
root=/host-root
make_host_root "$root"
mkdir -p "$root/run/udev/rules.d"
ip link set lo up
/test/device_controller "$port" &

chroot "$root" "$udevd" --daemon || fail "systemd-udevd did not start"
# udevd resolves the rule's group through the host's /etc/group, and so does this.
plugdev=$(chroot "$root" /usr/bin/getent group plugdev | cut -d: -f3)
[ -n "$plugdev" ] || fail "the host's /etc/group has no group plugdev"

# udevadm ignores requests in a chroot unless told that this one is the system's root.
export SYSTEMD_IGNORE_CHROOT=1
as_till_user() {  # as_till_user PHASE SETPRIV-GROUPS JAVA [JVM-ARGS...] CLASS
    phase=$1
    groups=$2
    shift 2
    echo "jvm-user-guest: $phase, as uid $uid gid $uid $groups"
    chroot "$root" /usr/bin/setpriv --reuid=$uid --regid=$uid $groups /usr/bin/env -i \
        PATH=/usr/bin:/bin HOME=/tmp SYSTEMD_IGNORE_CHROOT=1 "$@" "$phase" "$port" "$udevadm" \
        </dev/null 2>&1
}
# The group form is the rule's commented line that sets GROUP.
rule=$root/run/udev/rules.d/70-quenlink.rules
install_group_rule() {
    [ -f "$rule" ] && return
    sed -n 's/^# *\(SUBSYSTEM==.*GROUP=.*\)$/\1/p' "$rules" >"$rule"
    echo "jvm-user-guest: rule: $(cat "$rule")"
    [ "$(wc -l <"$rule")" = 1 ] || fail "$rules holds no single commented group form"
    chroot "$root" "$udevadm" control --reload || fail "udevd did not reload its rules"
}
status=0
for phase in $phases; do
    case $phase in
    without-rule) as_till_user without-rule --groups=$plugdev "$@" || status=1 ;;
    outside-group)
        install_group_rule
        as_till_user outside-group --clear-groups "$@" || status=1
        ;;
    group)
        install_group_rule
        as_till_user group --groups=$plugdev "$@" || status=1
        ;;
    *) fail "unknown phase $phase" ;;
    esac
done
exit $status
