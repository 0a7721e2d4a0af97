# Sourced by the VM runners whose guest runs udevd (run-wine-in-vm.sh, run-jvm-user-in-vm.sh).
# udev_in_cache CACHE sets udev_dir to Debian's udev package unpacked in the kernel cache, with
# a link systemd-udevd to its udevadm (udevadm is udevd when called by that name). The host need
# not run or even have udev: the package runs in the guest on the host's libraries. Calls the
# caller's `fail` when it cannot be had.
udev_in_cache() {
    local cache=$1 sudo="" version work udevadm
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    udev_version() {
        apt-cache policy udev 2>/dev/null | awk '$1 == "Candidate:" && $2 != "(none)" { print $2 }'
    }
    version=$(udev_version)
    if [ -z "$version" ]; then
        $sudo apt-get update -q >&2 || true
        version=$(udev_version)
    fi
    [ -n "$version" ] || fail "apt knows no udev package"
    # Runners of other presets may fetch it at the same time.
    exec 8>"$cache/.udev-lock"
    flock 8
    udev_dir=$cache/udev-${version//[^0-9A-Za-z.+-]/_}
    if [ ! -x "$udev_dir/systemd-udevd" ]; then
        rm -rf "$cache"/udev-*
        work=$(mktemp -d "$cache/.udev.XXXXXX")
        # Stale package lists name a version the mirror no longer has: update once and try again.
        (cd "$work" && apt-get download -q "udev=$version" >&2) ||
            { $sudo apt-get update -q >&2 && version=$(udev_version) &&
                udev_dir=$cache/udev-${version//[^0-9A-Za-z.+-]/_} &&
                (cd "$work" && apt-get download -q "udev=$version" >&2); } ||
            fail "cannot download udev $version"
        dpkg-deb -x "$work"/udev_*.deb "$work/x"
        udevadm=$(cd "$work/x" && find . -path '*bin/udevadm' | head -n 1)
        [ -n "$udevadm" ] || fail "no udevadm in the udev package"
        ln -s "$udevadm" "$work/x/systemd-udevd"
        mv "$work/x" "$udev_dir"
        rm -rf "$work"
    fi
    flock -u 8
}
