# shellcheck shell=bash
# Debian packages of another architecture, fetched and unpacked without installing them and
# without adding the architecture to this machine's dpkg: apt runs with a state of its own under
# the cache (its own sources for that architecture, its own lists, an empty status), so the
# machine's apt and dpkg are never touched. It also keeps the Debian 12 roots that the packages
# are built and installed in (below). Sourced by scripts/release.sh (the package build), by the
# release tests (autopkgtest's root, an arm64 Java runtime for qemu-user) and by the kernel tests
# (Debian's kernels, udev, and the arm64 till's runtime).
# Environment: QUEN_DEB_CACHE  the cache (default ~/.cache/quenlink/deb-cache, shared by every
#                              clone on the machine, like the kernel cache)

deb_cache_dir() {
    local dir=${QUEN_DEB_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quenlink/deb-cache}
    mkdir -p "$dir"
    (cd "$dir" && pwd)
}

# deb_cache_mirrors: "URI SUITE COMPONENT" of each Debian archive this machine's apt reads for its
# own architecture, as apt-cache policy lists them.
deb_cache_mirrors() {
    apt-cache policy | awk -v arch="$(dpkg --print-architecture)" '
        $1 ~ /^[0-9]+$/ && $2 ~ /:\/\// && $4 == arch && $5 == "Packages" {
            n = split($3, part, "/"); if (n == 2) print $2, part[1], part[2] }' | sort -u
}

# deb_cache_apt ARCH: prints an APT_CONFIG file for ARCH's own apt state (made on first use).
deb_cache_apt() {
    local arch=$1 root
    root=$(deb_cache_dir)/apt-$arch
    if [ ! -f "$root/apt.conf" ]; then
        mkdir -p "$root"/etc/apt/{apt.conf.d,preferences.d,sources.list.d} \
            "$root"/state/lists/partial "$root"/cache/archives/partial
        : >"$root/state/status"
        # The machine's own Debian mirror and suites, for ARCH only.
        local keyring=/usr/share/keyrings/debian-archive-keyring.gpg
        deb_cache_mirrors | while read -r uri suite component; do
            echo "deb [arch=$arch signed-by=$keyring] $uri $suite $component"
        done >"$root/etc/apt/sources.list"
        [ -s "$root/etc/apt/sources.list" ] || { echo "deb-cache: apt knows no mirror" >&2; return 1; }
        cat >"$root/apt.conf.part" <<CONF
Dir::Etc "$root/etc/apt";
Dir::State "$root/state";
Dir::State::status "$root/state/status";
Dir::Cache "$root/cache";
APT::Architecture "$arch";
APT::Architectures { "$arch"; };
Acquire::Languages "none";
CONF
        mv "$root/apt.conf.part" "$root/apt.conf"
    fi
    echo "$root/apt.conf"
}

# deb_cache_fetch ARCH PACKAGE...: prints the path of each package's .deb for ARCH, downloading
# those not yet in the cache. The lists are fetched again only when a package is missing from
# them or its version is no longer on the mirror.
deb_cache_fetch() {
    local arch=$1 debs config package
    shift
    debs=$(deb_cache_dir)/debs-$arch
    config=$(deb_cache_apt "$arch")
    mkdir -p "$debs"
    (
        flock 9
        cd "$debs" || exit 1
        compgen -G "$(dirname "$config")/state/lists/*_Packages" >/dev/null ||
            APT_CONFIG=$config apt-get update -q >&2
        for package in "$@"; do
            compgen -G "${package}_*_$arch.deb" >/dev/null && continue
            # The download runs as root here: apt's sandbox user could not write to the cache.
            APT_CONFIG=$config apt-get download -q -o APT::Sandbox::User=root "$package" >&2 || {
                APT_CONFIG=$config apt-get update -q >&2
                APT_CONFIG=$config apt-get download -q -o APT::Sandbox::User=root "$package" >&2
            }
        done
    ) 9>"$debs/.lock"
    for package in "$@"; do
        compgen -G "$debs/${package}_*_$arch.deb" | sort -V | tail -n 1
    done
}

# deb_cache_unpacked_tree ARCH PACKAGE: prints a folder holding PACKAGE unpacked as a build tree
# (its files and DEBIAN/ with its shlibs and symbols), as dpkg-shlibdeps -S reads one.
deb_cache_unpacked_tree() {
    local arch=$1 package=$2 deb tree
    deb=$(deb_cache_fetch "$arch" "$package")
    tree=$(deb_cache_dir)/trees-$arch/$(basename "$deb" .deb)
    if [ ! -d "$tree" ]; then
        rm -rf "$tree.part"
        mkdir -p "$(dirname "$tree")"
        dpkg-deb -R "$deb" "$tree.part"
        mv "$tree.part" "$tree"
    fi
    echo "$tree"
}

# Debian 12 roots, kept as tarballs in the cache and unpacked afresh for each use, so that every
# build and every install meets a root that has never had the project. Made under a lock and
# renamed into place when complete: other clones on the machine use the same cache.

# deb_root_mirror: the Debian mirror this machine's apt reads for bookworm.
deb_root_mirror() {
    deb_cache_mirrors | awk '$2 == "bookworm" { print $1; exit }'
}

# deb_root_unpack TARBALL DIR: DIR becomes a root unpacked from TARBALL, with /proc mounted
# (Java needs it); deb_root_release DIR undoes both.
deb_root_unpack() {
    mkdir -p "$2" && tar -C "$2" --zstd -xf "$1" && mount -t proc proc "$2/proc"
}
deb_root_release() {
    umount "$1/proc" 2>/dev/null || umount -l "$1/proc" 2>/dev/null || true
    # Never into a file system still mounted there.
    rm -rf --one-file-system "$1"
}

# deb_root_apt DIR ARGS...: apt-get in the root, without questions or a pseudo-terminal.
deb_root_apt() {
    local root=$1
    shift
    DEBIAN_FRONTEND=noninteractive chroot "$root" apt-get -o Dpkg::Use-Pty=0 -y -q "$@"
}

# deb_root_make TARBALL SETUP [ARGS...]: makes TARBALL, unless it is there: a root unpacked from
# the clean root (or made with debootstrap, for the clean root itself), then SETUP DIR ARGS..., then
# apt's lists and archives dropped. Prints TARBALL.
deb_root_make() {
    local tarball=$1 setup=$2 work
    shift 2
    (
        flock 9
        [ ! -f "$tarball" ] || exit 0
        work=$(mktemp -d "$tarball.XXXXXX")
        trap 'deb_root_release "$work/root"; rm -rf "$work"' EXIT
        "$setup" "$work/root" "$@" >&2 || exit 1
        deb_root_apt "$work/root" clean >&2
        umount "$work/root/proc"
        rm -rf "$work/root"/var/lib/apt/lists/*
        tar -C "$work/root" --zstd -cf "$work/root.tar.zst" . && mv "$work/root.tar.zst" "$tarball"
    ) 9>"$tarball.lock" || return 1
    echo "$tarball"
}

# The clean root: Debian 12 minbase with a Java runtime, as a till has it.
deb_root_setup_clean() {
    debootstrap --variant=minbase bookworm "$1" "$(deb_root_mirror)" &&
        mount -t proc proc "$1/proc" &&
        deb_root_apt "$1" install --no-install-recommends openjdk-17-jre-headless
}
deb_cache_clean_root() {
    deb_root_make "$(deb_cache_dir)/bookworm-jre.tar.zst" deb_root_setup_clean
}

# The build root: the clean root with arm64 added to its dpkg, and what dpkg-buildpackage needs
# to build the source package in SOURCE for amd64 and, as a cross build, for arm64: Debian's
# build-essential, crossbuild-essential-arm64 with Debian's aarch64 compiler named (that package
# would also take arm64's own compiler, which cannot run here), arm64's C and C++ development
# files (as sbuild adds them to a cross build) and the Build-Depends of SOURCE/debian/control for
# both. Named by a digest of the control file's source paragraph and of this set-up, so that a
# change of either makes a new root.
deb_root_setup_build() {
    local root=$1 source=$2
    deb_root_unpack "$(deb_cache_clean_root)" "$root" &&
        chroot "$root" dpkg --add-architecture arm64 &&
        deb_root_apt "$root" update &&
        deb_root_apt "$root" install --no-install-recommends build-essential \
            crossbuild-essential-arm64 g++-aarch64-linux-gnu libc6-dev:arm64 libstdc++-12-dev:arm64 &&
        mkdir -p "$root/tmp/source/debian" &&
        cp "$source/debian/control" "$root/tmp/source/debian/" &&
        deb_root_apt "$root" build-dep --no-install-recommends /tmp/source &&
        deb_root_apt "$root" build-dep --no-install-recommends -a arm64 /tmp/source &&
        rm -rf "$root/tmp/source"
}
deb_cache_build_root() {
    local digest
    digest=$( (sed '/^$/q' "$1/debian/control" && declare -f deb_root_setup_build) | sha256sum |
        cut -c1-12)
    deb_root_make "$(deb_cache_dir)/bookworm-build-$digest.tar.zst" deb_root_setup_build "$1"
}

# deb_cache_apt_get ARCH ARGUMENT...: apt-get with ARCH's own state, taking turns with
# deb_cache_fetch (other runs may be fetching through the same state).
deb_cache_apt_get() {
    local arch=$1 config debs
    shift
    config=$(deb_cache_apt "$arch")
    debs=$(deb_cache_dir)/debs-$arch
    mkdir -p "$debs"
    # The state lives in the cache, where apt's sandbox user cannot write.
    APT_CONFIG=$config flock "$debs/.lock" apt-get -o APT::Sandbox::User=root "$@"
}
