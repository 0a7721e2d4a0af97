#!/usr/bin/env bash
# Runs PROGRAM (a statically linked test program) in Debian's kernel under qemu (amd64, or arm64 on
# qemu's "virt" board), with the modules that make /dev/uhid devices appear as hidraw nodes, and
# exits with PROGRAM's status. The guest's console is streamed to stdout. A kernel that cannot be
# fetched or booted, or a guest that never reports PROGRAM's status, is a failure, never a skip.
# Usage: run-in-vm.sh PROGRAM [ARGS...]
# Environment: QUEN_KERNEL_CACHE  where fetch-kernel.sh keeps the kernel (default ~/.cache/quenlink/kernel-cache)
#              QUEN_VM_TIME_LIMIT hard limit in seconds for the whole VM run (default 240)
#              QUEN_VM_EXTRA_PROGRAMS  further static programs, colon-separated, put beside PROGRAM
#              QUEN_VM_DATA       folders, colon-separated, copied beside PROGRAM (/test/<name>)
#              QUEN_VM_SHARES     host folders, colon-separated, shared read-only over virtio 9p and
#                                 mounted in the guest at their own paths (PROGRAM may then be a
#                                 script that runs the host's own programs in a chroot)
#              QUEN_VM_SHARES_RW  the same, shared read-write, uncached: what the guest writes is
#                                 on the host when it powers off
#              QUEN_VM_SHARES_RW_CACHED  shared read-write but cached like the read-only ones: for
#                                 folders of programs the guest runs (pages of a program mapped
#                                 from an uncached share have read back as zeros) and whose
#                                 written files nobody reads afterwards
#              QUEN_VM_MEMORY     the guest's memory in MiB (default 512)
#              QUEN_VM_CPUS       the guest's virtual CPUs (default 1)
#              QUEN_VM_ARCH       amd64 (default) or arm64: the guest's kernel, busybox and PROGRAM
#              QUEN_VM_USB        1: also load the USB gadget modules (four virtual controllers,
#                                 dummy_udc.0-3, their host side bound by usbhid) and mount configfs
#                                 at /sys/kernel/config, for programs that plug USB HID gadgets in
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
cache=${QUEN_KERNEL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quenlink/kernel-cache}
time_limit=${QUEN_VM_TIME_LIMIT:-240}
memory=${QUEN_VM_MEMORY:-512}
cpus=${QUEN_VM_CPUS:-1}
arch=${QUEN_VM_ARCH:-amd64}

fail() {
    echo "run-in-vm: FAILED: $*" >&2
    exit 1
}
[ $# -ge 1 ] || fail "usage: $0 PROGRAM [ARGS...]"
program=$1
shift
[ -x "$program" ] || fail "$program is not an executable file"

now_ms() { echo $((${EPOCHREALTIME//[!0-9]/} / 1000)); }  # the separator follows the locale
seconds_since() {  # seconds_since START-MS: "3.4"
    local ms=$(($(now_ms) - $1))
    printf '%d.%d' $((ms / 1000)) $((ms % 1000 / 100))
}
run_start=$(now_ms)

case $arch in
amd64)
    qemu=(qemu-system-x86_64)
    console=ttyS0
    image=vmlinux
    kernel_cache=$cache
    busybox=/bin/busybox
    ;;
arm64)
    # cortex-a57 rather than max: TCG emulates max's pointer authentication at a cost on every call.
    qemu=(qemu-system-aarch64 -M virt -cpu cortex-a57)
    console=ttyAMA0
    image=Image
    kernel_cache=$cache/arm64
    # Debian's arm64 busybox-static, unpacked in the package cache (never installed).
    source "$here/../../scripts/lib/deb-cache.sh"
    busybox=$(deb_cache_unpacked_tree arm64 busybox-static)/bin/busybox
    ;;
*) fail "no guest for architecture $arch" ;;
esac
for tool in "${qemu[0]}" cpio timeout; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/test.sh installs it)"
done
# The guest has no C library: busybox and PROGRAM must both be static.
is_static() { ! readelf -l "$1" 2>/dev/null | grep -q INTERP; }
[ -x "$busybox" ] && is_static "$busybox" || fail "$busybox is not a static busybox (install busybox-static)"
is_static "$program" || fail "$program is dynamically linked: the guest has no C library"

# The kernel fetched last; CTest runs fetch-kernel.sh (test kernel_fetch) before every kernel test,
# so a newer kernel from Debian is taken there, not again for each VM.
if [ -f "$kernel_cache/current/$image" ]; then
    kernel_dir=$(cd "$kernel_cache/current" && pwd -P)
else
    kernel_dir=$(bash "$here/fetch-kernel.sh" "$cache" "$arch") ||
        fail "cannot fetch Debian's kernel (see above)"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# --- initramfs: busybox, the modules, PROGRAM and an /init that runs it ---------------------------
root=$work/root
mkdir -p "$root"/{bin,dev,proc,sys,modules,test}
cp "$busybox" "$root/bin/busybox"
cp "$kernel_dir"/modules/* "$root/modules/"
cp "$program" "$root/test/"
IFS=: read -r -a extra_programs <<<"${QUEN_VM_EXTRA_PROGRAMS:-}"
for extra in "${extra_programs[@]}"; do
    [ -n "$extra" ] || continue
    is_static "$extra" || fail "$extra is dynamically linked: the guest has no C library"
    cp "$extra" "$root/test/"
done

IFS=: read -r -a data_folders <<<"${QUEN_VM_DATA:-}"
for folder in "${data_folders[@]}"; do
    [ -n "$folder" ] || continue
    [ -d "$folder" ] || fail "data folder $folder does not exist"
    cp -r "$folder" "$root/test/"
done

# Host folders: one 9p device each; /init loads the 9p modules and mounts them before PROGRAM runs.
share_options=()
share_mounts=""
add_shares() {  # add_shares LIST QEMU-OPTIONS MOUNT-OPTIONS
    local folder tag mount_options="trans=virtio,version=9p2000.L,msize=512000,$3"
    IFS=: read -r -a folders <<<"$1"
    for folder in "${folders[@]}"; do
        [ -n "$folder" ] || continue
        [ -d "$folder" ] || fail "shared folder $folder does not exist"
        folder=$(cd "$folder" && pwd -P)
        tag=share$((${#share_options[@]} / 2))
        share_options+=(-virtfs "local,path=$folder,mount_tag=$tag,security_model=none$2")
        share_mounts+="mkdir -p $(printf %q "$folder") &&"
        share_mounts+=" mount -t 9p -o $mount_options $tag $(printf %q "$folder") || share_failed=$tag"$'\n'
    done
}
# Read-only folders are cached in the guest; written ones are not, so that what the guest wrote
# is on the host when it powers off.
add_shares "${QUEN_VM_SHARES:-}" ",readonly=on" cache=loose
add_shares "${QUEN_VM_SHARES_RW:-}" "" cache=mmap
add_shares "${QUEN_VM_SHARES_RW_CACHED:-}" "" cache=loose
usb_modules=""
usb_mount=""
if [ "${QUEN_VM_USB:-0}" = 1 ]; then
    [ -f "$kernel_dir/modules/order-usb" ] ||
        fail "the kernel cache has no USB gadget modules: run fetch-kernel.sh"
    usb_modules=$(tr '\n' ' ' <"$kernel_dir/modules/order-usb")
    usb_mount="mount -t configfs none /sys/kernel/config || share_failed=configfs"
fi
share_modules=""
if [ ${#share_options[@]} -gt 0 ]; then
    [ -f "$kernel_dir/modules/order-9p" ] || fail "the kernel cache has no 9p modules: run fetch-kernel.sh"
    share_modules=$(tr '\n' ' ' <"$kernel_dir/modules/order-9p")
fi

name=$(basename "$program")
command_line=$(printf ' %q' "/test/$name" "$@")
cat >"$root/init" <<EOF
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
unset TERM
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
# The kernel's HID debug interface (/sys/kernel/debug/hid) shows how it parsed each device.
mount -t debugfs debugfs /sys/kernel/debug
echo "QUEN-VM-BOOTED \$(cut -d' ' -f1 /proc/uptime)"
for module in \$(cat /modules/order) $usb_modules $share_modules; do
    # One gadget per virtual controller, and no more than four HID functions exist at once.
    parameters=""
    [ "\$module" = dummy_hcd.ko ] && parameters="num=4"
    if ! insmod "/modules/\$module" \$parameters; then
        echo "QUEN-VM-ERROR cannot load \$module"
        poweroff -f
    fi
done
share_failed=""
$usb_mount
$share_mounts
if [ -n "\$share_failed" ]; then
    echo "QUEN-VM-ERROR cannot mount \$share_failed"
    poweroff -f
fi
echo "QUEN-VM-MODULES-LOADED \$(cut -d' ' -f1 /proc/uptime)"
cd /test
$command_line
status=\$?
echo
echo "QUEN-VM-EXIT \$status"
poweroff -f
EOF
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet) >"$work/initramfs.cpio"

# --- boot --------------------------------------------------------------------------------------
# TCG always, also where /dev/kvm exists: CI machines have no hardware virtualisation, and the
# tests must see the same timing here as there.
echo "run-in-vm: booting $(basename "$kernel_dir") with $name (limit ${time_limit} s)"
boot_start=$(now_ms)
booted=""
guest_uptime=""
status=""
shopt -s extglob
while IFS= read -r line; do
    # Without the firmware's terminal resets and the serial line's carriage returns.
    line=${line//$'\e'@(c|\[*([0-9;?])[A-Za-z])/}
    line=${line%$'\r'}
    printf '%s\n' "$line"
    if [[ $line =~ QUEN-VM-BOOTED\ ([0-9.]+) ]] && [ -z "$booted" ]; then
        booted=$(seconds_since "$boot_start")
        guest_uptime=${BASH_REMATCH[1]}
    elif [[ $line =~ QUEN-VM-EXIT\ ([0-9]+)$ ]]; then
        status=${BASH_REMATCH[1]}
    fi
done < <(
    qemu_status=0
    timeout -k 5 "$time_limit" "${qemu[@]}" -accel tcg -nographic -no-reboot -nic none \
        -m "$memory" -smp "$cpus" -kernel "$kernel_dir/$image" -initrd "$work/initramfs.cpio" \
        "${share_options[@]}" -append "console=$console quiet panic=-1" </dev/null 2>&1 ||
        qemu_status=$?
    echo "$qemu_status" >"$work/qemu-status"
)
qemu_status=$(cat "$work/qemu-status")

echo "run-in-vm: boot to /init ${booted:-never} s (guest clock ${guest_uptime:-none} s)," \
    "whole run $(seconds_since "$run_start") s"
if [ "$qemu_status" = 124 ] || [ "$qemu_status" = 137 ]; then
    [ -n "$status" ] || fail "the VM did not finish within ${time_limit} s"
    echo "run-in-vm: warning: the VM did not power off after $name finished"
elif [ "$qemu_status" != 0 ]; then
    [ -n "$status" ] || fail "qemu exited with status $qemu_status"
fi
[ -n "$booted" ] || fail "the kernel never reached /init (see the console above)"
[ -n "$status" ] || fail "the guest gave no result line for $name (see the console above)"
exit "$status"
