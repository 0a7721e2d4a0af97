# ensure_packages PKG...: installs with apt the Debian packages that are missing. Sourced by the
# entry-point scripts, so a fresh machine needs nothing installed by hand.
ensure_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    if [ -z "${QUEN_APT_UPDATED:-}" ]; then
        $sudo apt-get -o DPkg::Lock::Timeout=900 update -q
        export QUEN_APT_UPDATED=1
    fi
    # Another script of the project may be installing at the same time: wait for its lock.
    DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=900 install -y -q \
        --no-install-recommends "${missing[@]}"
}

# The packages every Linux build needs.
QUEN_BUILD_PACKAGES=(cmake make g++ openjdk-17-jdk-headless)

# The kernel tests (tests/kernel): qemu boots Debian's kernel, which fetch-kernel.sh takes apart
# with xz; the guest's initramfs is a static busybox packed with cpio.
QUEN_KERNEL_TEST_PACKAGES=(qemu-system-x86 busybox-static cpio xz-utils)

# The cross builds: Windows DLLs with MinGW-w64, ARM tills with Debian's aarch64 compiler (and its
# static C library, for the device controller that the arm64 kernel test runs); qemu-user runs the
# aarch64 unit tests.
QUEN_CROSS_PACKAGES=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix g++-aarch64-linux-gnu
    libc6-dev-arm64-cross)
QUEN_AARCH64_TEST_PACKAGES=(qemu-user)

# The ARM till on an ARM kernel (tests/kernel/arm64_till.cmake): qemu's aarch64 system emulator
# boots Debian's arm64 kernel with an initramfs packed by cpio; the kernel, busybox and the Java
# runtime are Debian's arm64 packages, unpacked, never installed (scripts/lib/deb-cache.sh).
QUEN_ARM64_KERNEL_PACKAGES=(qemu-system-arm cpio)

# The Debian packages (debian/): dpkg-buildpackage runs in a Debian 12 root that debootstrap makes
# and tar with zstd keeps (scripts/lib/deb-cache.sh); the source tree comes from git. Their tests
# run lintian, autopkgtest in a clean Debian 12 root, and the arm64 libraries in an arm64 JVM under
# qemu-user.
QUEN_DEB_PACKAGES=(dpkg-dev debootstrap zstd git)
QUEN_DEB_TEST_PACKAGES=(lintian autopkgtest qemu-user)

# The kernel tests whose guest runs udevd from Debian's udev package, unpacked, not installed, on
# the host's libraries (tests/kernel/udev-cache.sh: the Windows DLLs' under Wine, the till user's
# JVM): these are the libraries it needs.
QUEN_UDEVD_VM_PACKAGES=(libacl1 libblkid1 libcap2 libkmod2 libselinux1)
