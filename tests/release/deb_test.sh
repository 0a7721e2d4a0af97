#!/usr/bin/env bash
# Checks a Debian package that scripts/release.sh made, as a till would receive it:
#   - its files, modes and owners, one by one; its libraries, jar and udev rule are the release
#     folder's own files (its SHA256SUMS), so the folder's checks (check-release.cmake: exports,
#     hidraw build for the right machine, no simulated bus, no environment reads) hold for them;
#   - Depends names exactly the packages whose libraries the binaries need, at versions that
#     Debian 12 has for that architecture; lintian finds no error and no warning;
#   - amd64: installed with apt into a Debian 12 root that has nothing of the project, a JVM
#     there loads the libraries with no -Djava.library.path, the probe runs from the PATH, and
#     removing and purging leaves none of the package's files;
#   - arm64: Debian's arm64 Java runtime, unpacked with the package, runs under qemu-aarch64 and
#     calls every native method.
# Usage: deb_test.sh amd64|arm64 VERSION CHECK-JAR   (CHECK-JAR holds PackagedLibraries)
# Environment: QUEN_DEB_CACHE  the cache of Debian roots and packages (default build/deb-cache)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
source "$repo/scripts/lib/packages.sh"
source "$repo/scripts/lib/deb-cache.sh"

[ $# -eq 3 ] || {
    echo "usage: $0 amd64|arm64 VERSION CHECK-JAR" >&2
    exit 64
}
arch=$1 version=$2 check_jar=$3
case $arch in
    amd64) folder=$repo/release/linux-x86_64 ;;
    arm64) folder=$repo/release/linux-aarch64 ;;
    *) echo "unknown architecture $arch" >&2; exit 64 ;;
esac
deb=$repo/release/quenlink_${version}_$arch.deb
[ -f "$deb" ] || {
    echo "$deb is missing: run scripts/release.sh" >&2
    exit 1
}
ensure_packages "${QUEN_DEB_TEST_PACKAGES[@]}" >&2
multiarch=$(dpkg-architecture -a"$arch" -qDEB_HOST_MULTIARCH 2>/dev/null)
work=$(mktemp -d)
cleanup() { rm -rf "$work"; }
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
step() { echo "== $*"; }

step "contents"
jni=usr/lib/$multiarch/jni
expected="drwxr-xr-x root/root ./
drwxr-xr-x root/root ./usr/
drwxr-xr-x root/root ./usr/bin/
-rwxr-xr-x root/root ./usr/bin/quenlink-hid-probe
drwxr-xr-x root/root ./usr/lib/
drwxr-xr-x root/root ./usr/lib/$multiarch/
drwxr-xr-x root/root ./$jni/
-rw-r--r-- root/root ./$jni/libscalelink.so
-rw-r--r-- root/root ./$jni/libscannerlink.so
-rw-r--r-- root/root ./$jni/libsetuplink.so
drwxr-xr-x root/root ./usr/lib/udev/
drwxr-xr-x root/root ./usr/lib/udev/rules.d/
-rw-r--r-- root/root ./usr/lib/udev/rules.d/70-quenlink.rules
drwxr-xr-x root/root ./usr/share/
drwxr-xr-x root/root ./usr/share/doc/
drwxr-xr-x root/root ./usr/share/doc/quenlink/
-rw-r--r-- root/root ./usr/share/doc/quenlink/README.gz
-rw-r--r-- root/root ./usr/share/doc/quenlink/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/quenlink/copyright
drwxr-xr-x root/root ./usr/share/java/
-rw-r--r-- root/root ./usr/share/java/quenlink-$version.jar
lrwxrwxrwx root/root ./usr/share/java/quenlink.jar -> quenlink-$version.jar
drwxr-xr-x root/root ./usr/share/man/
drwxr-xr-x root/root ./usr/share/man/man1/
-rw-r--r-- root/root ./usr/share/man/man1/quenlink-hid-probe.1.gz"
actual=$(dpkg-deb -c "$deb" | awk '{ $3 = $4 = $5 = ""; print }' | tr -s ' ' | sort)
diff <(sort <<<"$expected") <(echo "$actual") || fail "the package's files differ (< expected, > found)"

unpacked=$work/unpacked
dpkg-deb -x "$deb" "$unpacked"
same_as_folder() {  # same_as_folder PATH-IN-PACKAGE NAME-IN-FOLDER
    local sum
    sum=$(sha256sum <"$unpacked/$1" | cut -d' ' -f1)
    grep -qx "$sum  $2" "$folder/SHA256SUMS" || fail "/$1 is not the release folder's $2"
}
for library in libscannerlink.so libscalelink.so libsetuplink.so; do
    same_as_folder "$jni/$library" "$library"
done
same_as_folder usr/share/java/quenlink.jar quenlink.jar
same_as_folder usr/lib/udev/rules.d/70-quenlink.rules 70-quenlink.rules
case $arch in amd64) machine=X86-64 ;; arm64) machine=AArch64 ;; esac
readelf -h "$unpacked/usr/bin/quenlink-hid-probe" | grep -Eq "Machine:.*$machine" ||
    fail "the probe is not built for $arch"
[ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || fail "Architecture is not $arch"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "Version is not $version"

step "Depends: $(dpkg-deb -f "$deb" Depends)"
# Which of Debian 12's packages for this architecture provides each library the binaries need,
# from those packages' own shlibs files.
needed=$(for elf in "$unpacked/$jni"/*.so "$unpacked/usr/bin/quenlink-hid-probe"; do
    readelf -d "$elf" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'
done | sort -u)
providers=()
for package in libc6 libstdc++6 libgcc-s1; do
    tree=$(deb_cache_unpacked_tree "$arch" "$package")
    for soname in $needed; do
        # shlibs lines read "libname major package (>= version)"; libc.so.6 is "libc 6".
        if awk -v so="$soname" '{ if (so == $1 ".so." $2 || so == $1 "-" $2 ".so") found = 1 }
                END { exit !found }' "$tree/DEBIAN/shlibs"; then
            providers+=("$package $(dpkg-deb -f "$(deb_cache_fetch "$arch" "$package")" Version)")
            needed=$(grep -vx "$soname" <<<"$needed" || true)
        fi
    done
done
[ -z "$needed" ] || fail "no package of Debian 12 found for: $needed"
declare -A available
for provider in "${providers[@]}"; do
    available[${provider% *}]=${provider#* }
done
mapfile -t depends < <(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/^ *//')
[ ${#depends[@]} -eq ${#available[@]} ] ||
    fail "Depends names ${#depends[@]} packages; the binaries need ${!available[*]}"
for depend in "${depends[@]}"; do
    read -r name op wanted <<<"${depend//[()]/}"
    [ -n "${available[$name]:-}" ] || fail "Depends names $name, which no binary needs"
    [ -z "$op" ] || dpkg --compare-versions "${available[$name]}" "$op" "$wanted" ||
        fail "Debian 12's $name ${available[$name]} does not meet $depend"
done

step "lintian"
lint=$(lintian --fail-on error,warning "$deb" 2>&1) || fail "lintian: $lint"
grep -v '^running with root privileges' <<<"$lint" || true

if [ "$arch" = arm64 ]; then
    step "arm64 JVM under qemu-aarch64"
    # Debian's arm64 Java runtime and the libraries it needs, unpacked (not installed) once.
    jre=$(deb_cache_dir)/jre-arm64
    if [ ! -f "$jre/.complete" ]; then
        rm -rf "$jre"
        for package_deb in $(deb_cache_fetch arm64 libc6 libgcc-s1 libstdc++6 zlib1g \
            openjdk-17-jre-headless); do
            dpkg-deb -x "$package_deb" "$jre"
        done
        # Absolute links (the runtime's jvm.cfg and conf/ point into /etc/java-17-openjdk) would
        # be followed on this machine, not under the folder that qemu-aarch64 -L maps /.
        find "$jre" -type l -lname '/*' | while read -r link; do
            ln -sfn "$jre$(readlink "$link")" "$link"
        done
        touch "$jre/.complete"
    fi
    # The package in the same root, so the JVM finds the libraries in /usr/lib/<multiarch>/jni
    # by its own default search. (The class path names the jar by its path on this machine: given
    # as /usr/share/java/quenlink.jar, the JVM under qemu-aarch64 -L does not find the classes.)
    dpkg-deb -x "$deb" "$jre"
    output=$(qemu-aarch64 -L "$jre" "$jre/usr/lib/jvm/java-17-openjdk-arm64/bin/java" -Xcheck:jni \
        -cp "$jre/usr/share/java/quenlink.jar:$check_jar" PackagedLibraries 2>&1) ||
        fail "the arm64 JVM: $output"
    echo "$output"
fi

if [ "$arch" = amd64 ]; then
    step "install into a Debian 12 root"
    # A minimal Debian 12 with a Java runtime, made once and kept as a tarball: each run unpacks
    # it afresh, so the package always meets a root that has never seen it.
    root_tar=$(deb_cache_dir)/bookworm-jre.tar.zst
    if [ ! -f "$root_tar" ]; then
        made=$work/made
        debootstrap --variant=minbase bookworm "$made" http://deb.debian.org/debian >&2
        mount -t proc proc "$made/proc"
        chroot "$made" apt-get install -y -q --no-install-recommends openjdk-17-jre-headless >&2 ||
            { umount "$made/proc"; fail "openjdk-17-jre-headless did not install"; }
        umount "$made/proc"
        chroot "$made" apt-get clean
        rm -rf "$made"/var/lib/apt/lists/*
        tar -C "$made" --zstd -cf "$root_tar.part" .
        mv "$root_tar.part" "$root_tar"
        rm -rf "$made"
    fi
    root=$work/root
    mkdir "$root"
    tar -C "$root" --zstd -xf "$root_tar"
    mount -t proc proc "$root/proc"
    cleanup() {
        umount "$root/proc" 2>/dev/null || true
        rm -rf "$work"
    }
    in_root() { chroot "$root" "$@"; }
    # What of the package's paths the root has before (/usr, /usr/bin...): all else must go.
    paths=$(dpkg-deb -c "$deb" | awk '{ print substr($6, 2) }' | sed 's|/$||' | grep .)
    before=$(for path in $paths; do [ -e "$root$path" ] && echo "$path"; done || true)
    cp "$deb" "$check_jar" "$root/tmp/"
    in_root apt-get -o Dpkg::Use-Pty=0 install -y -q "/tmp/$(basename "$deb")" || fail "apt install"

    output=$(in_root java -Xcheck:jni -cp "/usr/share/java/quenlink.jar:/tmp/$(basename "$check_jar")" \
        PackagedLibraries 2>&1) || fail "the JVM: $output"
    echo "$output"
    [ "$(in_root sh -c 'command -v quenlink-hid-probe')" = /usr/bin/quenlink-hid-probe ] ||
        fail "quenlink-hid-probe is not on the PATH"
    status=0
    probe=$(in_root quenlink-hid-probe 2>&1) || status=$?
    echo "$probe"
    # No hidraw device in the root: "not found", status 1, having run to the end.
    [ "$status" -eq 1 ] || fail "quenlink-hid-probe exited $status"
    [ -f "$root/usr/lib/udev/rules.d/70-quenlink.rules" ] ||
        fail "the udev rule is not in /usr/lib/udev/rules.d"

    in_root apt-get -o Dpkg::Use-Pty=0 remove -y -q quenlink
    in_root apt-get -o Dpkg::Use-Pty=0 purge -y -q quenlink
    left=$(for path in $paths; do [ -e "$root$path" ] || [ -L "$root$path" ] && echo "$path"; done || true)
    [ "$left" = "$before" ] || fail "left after purge: $(comm -13 <(echo "$before") <(echo "$left"))"
    ! in_root dpkg-query -W quenlink 2>/dev/null || fail "dpkg still knows quenlink after purge"
fi
echo "$output" | grep -q "scannerlink: /usr/lib/$multiarch/jni/libscannerlink.so" ||
    fail "the JVM did not find scannerlink in /usr/lib/$multiarch/jni: $output"
echo "$output" | grep -q "every native method answered" || fail "the JVM: $output"
# -Xcheck:jni reports a misuse of JNI as a warning and goes on: any warning is a failure.
! echo "$output" | grep -qi "warning" || fail "-Xcheck:jni: $output"
echo "quenlink_${version}_$arch.deb: all checks passed"
