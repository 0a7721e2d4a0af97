# shellcheck shell=bash
# Builds the Debian source package and its binary packages the Debian way, never on this machine
# itself: dpkg-buildpackage in a Debian 12 build root unpacked afresh from the cache
# (scripts/lib/deb-cache.sh), as an unprivileged user, first the source package with the amd64 and
# the arch-independent packages, then the arm64 packages as a cross build of that source package.
# Sourced by scripts/release.sh, after deb-cache.sh.

# deb_build_source_tree REPO DIR: DIR gets the project's files as git knows them (tracked, or new
# and not ignored): no build folders, no release folder.
deb_build_source_tree() {
    mkdir -p "$2"
    # Files deleted but not yet committed are listed too: only those that exist are taken.
    # shellcheck disable=SC2016
    git -C "$1" ls-files -z --cached --others --exclude-standard |
        (cd "$1" && xargs -0 sh -c 'for f; do [ -e "$f" ] && printf "%s\0" "$f"; done' sh) |
        tar -C "$1" --null -T - -c | tar -C "$2" -x
}

# deb_build_packages REPO OUT LOGS: the .dsc, its tarball and every .deb in OUT; the build logs
# and the .buildinfo and .changes files in LOGS.
deb_build_packages() {
    local repo=$1 out=$2 logs=$3 name version work root status=0
    name=$(dpkg-parsechangelog -l "$repo/debian/changelog" -S Source)
    version=$(dpkg-parsechangelog -l "$repo/debian/changelog" -S Version)
    work=$(mktemp -d)
    root=$work/root
    deb_root_unpack "$(deb_cache_build_root "$repo")" "$root" || { rm -rf "$work"; return 1; }
    chroot "$root" useradd --create-home --home-dir /build builder
    deb_build_source_tree "$repo" "$root/build/$name-$version"
    chroot "$root" chown -R builder: /build
    # shellcheck disable=SC2016
    chroot --userspec=builder:builder "$root" env HOME=/build \
        DEB_BUILD_OPTIONS="parallel=2 noautodbgsym" sh -ec '
        cd /build/$0-$1
        dpkg-buildpackage -us -uc >../build-amd64.log 2>&1 || { tail -n 60 ../build-amd64.log; exit 1; }
        mkdir /build/arm64 && cd /build
        dpkg-source -x $0_$1.dsc arm64/$0-$1 >build-arm64.log 2>&1
        cd arm64/$0-$1
        dpkg-buildpackage -us -uc -B -a arm64 >>../../build-arm64.log 2>&1 ||
            { tail -n 60 ../../build-arm64.log; exit 1; }
        mv ../*.deb ../*.changes ../*.buildinfo /build/' "$name" "$version" >&2 || status=1
    mkdir -p "$out" "$logs"
    rm -f "$out/${name}"_*.dsc "$out/${name}"_*.tar.* "$out"/*.deb
    if [ $status -eq 0 ]; then
        cp "$root"/build/*.dsc "$root"/build/*.tar.* "$root"/build/*.deb "$out/"
    fi
    cp "$root"/build/*.log "$root"/build/*.changes "$root"/build/*.buildinfo "$logs/" \
        2>/dev/null || true
    deb_root_release "$root"
    rm -rf "$work"
    return $status
}
