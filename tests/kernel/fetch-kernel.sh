#!/usr/bin/env bash
# Fetches Debian's current amd64 or arm64 kernel into CACHE-DIR for the kernel tests, without
# installing it: the uncompressed kernel (qemu boots it in a few seconds instead of ten), the
# modules that make uhid devices appear as hidraw nodes, those that mount host folders over virtio
# 9p (for guests that run programs of a shared root), and those that plug USB gadgets into the
# guest's own USB host side (a virtual controller, configfs, the gadget's HID function, usbhid),
# each with whatever it depends on. Both kernels have the same modules (hidraw is built in).
# Usage: fetch-kernel.sh CACHE-DIR [amd64|arm64]   (default amd64)
# Prints the kernel folder (vmlinux for amd64, Image for arm64, modules/*.ko, modules/order,
# modules/order-9p, modules/order-usb: the load orders of the three sets) on stdout, also linked
# as current in the architecture's cache folder (CACHE-DIR for amd64, CACHE-DIR/arm64 for arm64);
# everything else goes to stderr. Idempotent: a kernel already in the cache costs one apt-cache
# look-up; a cached kernel that lacks a set is completed. Only the newest kernel of each
# architecture is kept. The arm64 kernel comes through an apt of its own state
# (scripts/lib/deb-cache.sh): this machine's dpkg never gets a foreign architecture.
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
    echo "usage: $0 CACHE-DIR [amd64|arm64]" >&2
    exit 2
fi
cache=$1
arch=${2:-amd64}
# hid-generic binds the uhid device; without it no hidraw node appears (hidraw itself is built in).
wanted_modules=(hid hid_generic uhid)
# Host folders in the guest: the virtio PCI transport, 9p over it, and the file system.
share_modules=(virtio_pci 9pnet_virtio 9p)
# USB gadgets: dummy_hcd is both a device controller (the gadget's side) and a host controller (the
# side usbhid binds, as on a till); configfs makes gadgets, usb_f_hid is their HID function.
usb_modules=(usb_common usbcore udc_core dummy_hcd configfs libcomposite usb_f_hid usbhid)

say() { echo "fetch-kernel: $*" >&2; }
fail() {
    say "$*"
    exit 1
}

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
case $arch in
amd64)
    image_name=vmlinux
    apt_get() { $sudo apt-get "$@"; }
    apt_cache() { apt-cache "$@"; }
    ;;
arm64)
    # A folder of its own: the amd64 kernel's clean-up below removes every other kernel beside it.
    cache=$cache/arm64
    image_name=Image
    source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/deb-cache.sh"
    apt_get() { deb_cache_apt_get arm64 "$@"; }
    apt_cache() { APT_CONFIG=$(deb_cache_apt arm64) apt-cache "$@"; }
    ;;
*) fail "no kernel for architecture $arch" ;;
esac

# The versioned package behind the metapackage, e.g. linux-image-6.1.0-57-amd64. The name changes
# whenever Debian bumps the kernel ABI, so it is looked up each time.
# Without package lists apt-cache fails: then nothing is printed, and the lists are fetched below.
resolve_package() {
    { apt_cache depends "linux-image-$arch" 2>/dev/null || true; } |
        awk '$1 == "Depends:" && $2 ~ /^linux-image-[0-9]/ { print $2; exit }'
}

mkdir -p "$cache"
cache=$(cd "$cache" && pwd)
# Two kernel tests started at once must not fetch into the same folder together.
exec 9>"$cache/.lock"
flock 9

package=$(resolve_package)
if [ -z "$package" ]; then
    say "no package lists: apt-get update"
    apt_get update -q >&2 || true
    package=$(resolve_package)
fi
[ -n "$package" ] || fail "cannot resolve the kernel package behind linux-image-$arch (apt-cache depends)"

# "current" names the newest kernel fetched, for runs that take it without asking apt again.
ready() {
    ln -sfn "$(basename "$kernel_dir")" "$cache/current"
    echo "$kernel_dir"
    exit 0
}
kernel_dir=$cache/$package
if [ -f "$kernel_dir/$image_name" ] && [ -f "$kernel_dir/modules/order" ] &&
    [ -f "$kernel_dir/modules/order-9p" ] && [ -f "$kernel_dir/modules/order-usb" ]; then
    ready
fi

work=$(mktemp -d "$cache/.fetch.XXXXXX")
trap 'rm -rf "$work"' EXIT
start=$(date +%s)

download() {
    (cd "$work" && apt_get download -q "$package" >&2 2>"$work/apt.err") && return 0
    cat "$work/apt.err" >&2
    return 1
}
if ! download; then
    # Stale package lists name a version the mirror no longer has.
    say "download failed: apt-get update and retry"
    apt_get update -q >&2 || true
    package=$(resolve_package)
    kernel_dir=$cache/$package
    download || fail "cannot download $package"
fi
deb=$(echo "$work"/*.deb)
[ -f "$deb" ] || fail "apt-get download left no .deb for $package"
say "downloaded $(basename "$deb") ($(($(stat -c %s "$deb") / 1048576)) MB)"

# Unpacks only the named members: the whole package is 400 MB unpacked, we need a few MB of it.
extract() {  # extract PATTERN...
    dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$work/x" --wildcards "$@" 2>/dev/null || true
}
# A module's file name may spell its "_" as "-" (hid-generic.ko holds hid_generic).
module_pattern() { echo "*/kernel/*/${1//_/[-_]}.ko*"; }
find_module() {
    find "$work/x" -type f -regextype posix-extended -regex ".*/${1//_/[-_]}\.ko(\.(xz|gz|zst))?" |
        head -n 1
}

module_depends() {  # module_depends FILE: the names the module needs loaded first
    local deps
    if command -v modinfo >/dev/null 2>&1; then
        deps=$(modinfo -F depends "$1")
    else
        # Without kmod: the .modinfo section is a list of NUL-terminated key=value strings.
        deps=$(tr '\0' '\n' <"$1" | sed -n 's/^depends=//p' | head -n 1)
    fi
    echo "${deps//,/ }"
}

mkdir -p "$work/x" "$work/kernel/modules"
patterns=('./boot/vmlinuz-*')
for m in "${wanted_modules[@]}" "${share_modules[@]}" "${usb_modules[@]}"; do
    patterns+=("$(module_pattern "$m")")
done
extract "${patterns[@]}"

# Copies each module (decompressed) and, before it, everything it depends on: the load order.
declare -A placed=()
order=()
place_module() {  # place_module NAME
    local name=$1 file dep
    [ -n "${placed[$name]:-}" ] && return 0
    placed[$name]=1
    file=$(find_module "$name")
    if [ -z "$file" ]; then
        extract "$(module_pattern "$name")"
        file=$(find_module "$name")
    fi
    [ -n "$file" ] || fail "module $name is not in $package"
    case $file in
    *.ko.xz) xz -dc "$file" >"$work/kernel/modules/$name.ko" ;;
    *.ko.gz) gzip -dc "$file" >"$work/kernel/modules/$name.ko" ;;
    *.ko.zst) zstd -qdc "$file" >"$work/kernel/modules/$name.ko" ||
        fail "module $name is zstd-compressed: install zstd" ;;
    *) cp "$file" "$work/kernel/modules/$name.ko" ;;
    esac
    for dep in $(module_depends "$work/kernel/modules/$name.ko"); do
        place_module "${dep//-/_}"
    done
    order+=("$name.ko")
}
for m in "${wanted_modules[@]}"; do
    place_module "$m"
done
printf '%s\n' "${order[@]}" >"$work/kernel/modules/order"
# The 9p set loads after the first one; what both need is listed once, in the first.
order=()
for m in "${share_modules[@]}"; do
    place_module "$m"
done
printf '%s\n' "${order[@]}" >"$work/kernel/modules/order-9p"
# The USB set likewise (it shares nothing with the 9p set).
order=()
for m in "${usb_modules[@]}"; do
    place_module "$m"
done
printf '%s\n' "${order[@]}" >"$work/kernel/modules/order-usb"

is_elf() { [ "$(head -c 4 "$1" | od -An -c | tr -d ' ')" = '177ELF' ]; }

image=$(echo "$work"/x/boot/vmlinuz-*)
[ -f "$image" ] || fail "no /boot/vmlinuz-* in $package"
if [ "$arch" = arm64 ]; then
    # Debian's arm64 vmlinuz is the uncompressed Image itself, which qemu boots as it is; its
    # header has the magic "ARM\x64" at byte 56.
    [ "$(tail -c +57 "$image" | head -c 4 | od -An -tx1 | tr -d ' ')" = 41524d64 ] ||
        fail "$(basename "$image") is not an uncompressed arm64 Image"
    cp "$image" "$work/kernel/Image"
else
    # vmlinuz is a small decompressor followed by the kernel as an XZ stream: find the stream's
    # magic bytes, decompress from there and keep the first result that is an ELF file (the same
    # search the kernel tree's extract-vmlinux makes).
    for offset in $(LC_ALL=C grep -obUaP '\xFD7zXZ\x00' "$image" | cut -d: -f1); do
        tail -c +$((offset + 1)) "$image" |
            xz -dc --single-stream >"$work/kernel/vmlinux" 2>/dev/null || true
        is_elf "$work/kernel/vmlinux" && break
        rm -f "$work/kernel/vmlinux"
    done
    [ -f "$work/kernel/vmlinux" ] ||
        fail "no XZ-compressed ELF kernel found in $(basename "$image")"
fi

# Only the newest kernel stays: each is some 70 MB.
for old in "$cache"/linux-image-*; do
    [ -e "$old" ] && [ "$old" != "$kernel_dir" ] && rm -rf "$old"
done
if [ -d "$kernel_dir" ]; then
    # Completing a cached kernel that lacked a set: other runs may be booting it right now, so
    # files are only added, and each order file appears whole (a rename) after its modules.
    cp -n "$work"/kernel/modules/*.ko "$kernel_dir/modules/"
    for list in order order-9p order-usb; do
        cp "$work/kernel/modules/$list" "$kernel_dir/modules/.$list.new"
        mv -f "$kernel_dir/modules/.$list.new" "$kernel_dir/modules/$list"
    done
else
    mv "$work/kernel" "$kernel_dir"
fi
say "$package ready in $(($(date +%s) - start)) s: $(du -sh "$kernel_dir" | cut -f1) in $kernel_dir"
ready
