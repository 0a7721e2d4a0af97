#!/usr/bin/env bash
# Makes quenlink_<version>_<arch>.deb from a Linux release build (the build folder that
# scripts/release.sh made the release folder from): CMake installs the package's files (install
# component "deb", the same shipped builds, stripped), this script adds Debian's own files, and
# Debian's tools finish it (dpkg-shlibdeps, dpkg-gencontrol, dpkg-deb) on a tree laid out as a
# source package's debian/<package>, so Depends, Installed-Size and the control fields come out
# as Debian computes them.
# Usage: make-deb.sh BUILD-DIR OUT-DIR   (prints the package's path)
# Environment: QUEN_DEB_CACHE  where the arm64 C and C++ runtime packages are kept (default
#              ~/.cache/quenlink/deb-cache)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/lib/deb-cache.sh"

[ $# -eq 2 ] || {
    echo "usage: $0 BUILD-DIR OUT-DIR" >&2
    exit 64
}
build=$(cd "$1" && pwd)
out=$(mkdir -p "$2" && cd "$2" && pwd)
cached() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
case $(cached QUENLINK_RELEASE_PLATFORM) in
    linux-x86_64) arch=amd64 ;;
    linux-aarch64) arch=arm64 ;;
    *) echo "make-deb: $build is not a Linux release build" >&2; exit 64 ;;
esac

# The package's version is the project's; its changelog must have an entry for it.
version=$(cached CMAKE_PROJECT_VERSION)
changelog_version=$(dpkg-parsechangelog -l "$here/changelog" -S Version)
if [ "$version" != "$changelog_version" ]; then
    echo "make-deb: version $version has no entry in packaging/deb/changelog" \
        "(its newest is $changelog_version)" >&2
    exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/debian"
cp "$here/control" "$here/changelog" "$work/debian/"
tree=$work/debian/quenlink
cmake --install "$build" --component deb --prefix "$tree/usr" --strip >/dev/null
doc=$tree/usr/share/doc/quenlink
install -m 0644 "$here/copyright" "$doc/"
# A native package's changelog is changelog.gz. Documents and manual pages are compressed
# without a time stamp, so that the same input gives the same package.
install -m 0644 "$here/changelog" "$doc/changelog"
install -D -m 0644 "$here/quenlink-hid-probe.1" "$tree/usr/share/man/man1/quenlink-hid-probe.1"
gzip -9n "$doc/README" "$doc/changelog" "$tree/usr/share/man/man1/quenlink-hid-probe.1"
install -D -m 0755 "$here/postinst" "$here/postrm" -t "$tree/DEBIAN"

# Depends from what the libraries and the probe link. The arm64 C and C++ runtimes are not
# installed here: their packages, unpacked as build trees (-S), give dpkg-shlibdeps their
# libraries and symbols files.
shlibdeps_trees=()
if [ "$arch" != "$(dpkg --print-architecture)" ]; then
    for package in libc6 libstdc++6 libgcc-s1; do
        shlibdeps_trees+=("-S$(deb_cache_unpacked_tree "$arch" "$package")")
    done
fi

# Every file gets the changelog's date, so that the package does not change with the build time.
export SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l "$here/changelog" -S Timestamp)
(
    cd "$work"
    export DEB_HOST_ARCH=$arch
    dpkg-shlibdeps "${shlibdeps_trees[@]}" -Tdebian/substvars debian/quenlink/usr/lib/*/jni/*.so \
        debian/quenlink/usr/bin/quenlink-hid-probe
    (cd "$tree" && find usr -type f -print0 | sort -z | xargs -0 md5sum) >"$tree/DEBIAN/md5sums"
    dpkg-gencontrol -pquenlink -Tdebian/substvars -Pdebian/quenlink
)
chmod 0644 "$tree/DEBIAN/control" "$tree/DEBIAN/md5sums"
find "$tree" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
deb=$out/quenlink_${version}_$arch.deb
dpkg-deb --root-owner-group --build "$tree" "$deb" >/dev/null
echo "$deb"
