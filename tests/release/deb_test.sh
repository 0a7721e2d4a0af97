#!/usr/bin/env bash
# Checks the Debian packages of one architecture that scripts/release.sh built, with the
# arch-independent ones and the source package: each package's files, modes and owners; the
# libraries and the jar as check-release.cmake checks a release folder's; Depends against Debian
# 12's packages for that architecture; lintian, which must report no tag up to pedantic ones (its
# experimental tags are not held against the packages). Then amd64: autopkgtest runs debian/tests
# in a clean Debian 12 root (made once, unpacked afresh each run); arm64: Debian's arm64 Java
# runtime, with the packages unpacked beside it, runs the libraries under qemu-aarch64.
# Usage: deb_test.sh amd64|arm64 VERSION CHECK-JAR JAVAP   (CHECK-JAR holds PackagedLibraries)
# Environment: QUEN_DEB_CACHE  the cache of the Debian roots and packages (default ~/.cache/quenlink/deb-cache)
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
source "$repo/scripts/lib/packages.sh"
source "$repo/scripts/lib/deb-cache.sh"
arch=$1 version=$2 check_jar=$3 javap=$4
release=$repo/release
multiarch=$(dpkg-architecture -a"$arch" -qDEB_HOST_MULTIARCH 2>/dev/null)
jni=usr/lib/$multiarch/jni
ensure_packages "${QUEN_DEB_TEST_PACKAGES[@]}" >&2
work=$(mktemp -d)
cleanup() { rm -rf "$work"; }
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
deb() { echo "$release/${1}_${version}_$2.deb"; }
debs=("$(deb libquenlink-java all)" "$(deb quenlink-udev all)" "$(deb libquenlink-jni "$arch")"
    "$(deb quenlink-hid-probe "$arch")")

echo "== files"
# Debian's modes and owners: everything root's, directories and programs 0755, the rest 0644.
files() {
    local listing
    listing=$(dpkg-deb -c "$1") || fail "no $1: run scripts/release.sh"
    awk '$2 != "root/root" || ($1 !~ /^(drwxr-xr-x|-rw-r--r--|lrwxrwxrwx)$/ &&
         !($1 == "-rwxr-xr-x" && $6 ~ "^./usr/bin/"))' <<<"$listing" | grep . && fail "modes or owners"
    awk '$1 !~ /^d/ { print $6 ($7 ? " " $7 " " $8 : "") }' <<<"$listing"
}
expected() {
    printf '%s\n' "./$jni/libscalelink.so" "./$jni/libscannerlink.so" "./$jni/libsetuplink.so" \
        ./usr/bin/quenlink-hid-probe ./usr/lib/udev/rules.d/70-quenlink.rules \
        ./usr/share/doc/libquenlink-java/README.gz "./usr/share/java/quenlink-$version.jar" \
        "./usr/share/java/quenlink.jar -> quenlink-$version.jar" \
        ./usr/share/man/man1/quenlink-hid-probe.1.gz
    for package in libquenlink-java libquenlink-jni quenlink-udev quenlink-hid-probe; do
        printf './usr/share/doc/%s/%s\n' "$package" changelog.gz "$package" copyright
    done
}
diff <(for deb in "${debs[@]}"; do files "$deb"; done | sort) <(expected | sort) ||
    fail "the packages' files differ (< found, > expected)"
for deb in "${debs[@]}"; do dpkg-deb -x "$deb" "$work/unpacked"; done
cmp "$work/unpacked/usr/lib/udev/rules.d/70-quenlink.rules" "$repo/packaging/70-quenlink.rules" ||
    fail "the packaged rule is not packaging/70-quenlink.rules"
cmake -DDEB_TREE="$work/unpacked" -DPLATFORM="linux-${multiarch%%-*}" -DJAVAP="$javap" \
    -P "$repo/packaging/check-release.cmake" || fail "the packaged libraries or jar"

echo "== Depends"
# Each library the binaries need must come from a package that Depends names, at a version that
# Debian 12 has for this architecture; and Depends names no other package but ours (that
# installing libquenlink-java brings the others, autopkgtest checks).
for package in libquenlink-jni quenlink-hid-probe; do
    deb=$(deb $package "$arch")
    depends=$(dpkg-deb -f "$deb" Depends)
    echo "$package: $depends"
    declare -A names=()
    binaries=$(dpkg-deb -c "$deb" | awk -v root="$work/unpacked" '$1 !~ /^d/ && $6 ~ /\.so$|\/bin\// {
        print root substr($6, 2) }')
    # shellcheck disable=SC2086
    for soname in $(readelf -d $binaries | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort -u); do
        for provider in libc6 libstdc++6 libgcc-s1; do
            grep -q "^${soname%.so.*} ${soname##*.so.} $provider\b" \
                "$(deb_cache_unpacked_tree "$arch" "$provider")/DEBIAN/shlibs" || continue
            names[$provider]=1
            minimum=$(grep -o "$provider (>= [^)]*)" <<<"$depends" | sed 's/.*>= \(.*\))/\1/') ||
                fail "$package: Depends lacks $provider, which provides $soname"
            dpkg --compare-versions "$(dpkg-deb -f "$(deb_cache_fetch "$arch" "$provider")" Version)" \
                ge "$minimum" || fail "Debian 12's $provider is older than $minimum"
        done
    done
    [ "$(tr ',' '\n' <<<"$depends" | grep -vc quenlink)" -eq ${#names[@]} ] ||
        fail "$package: Depends names more than ${!names[*]}"
    unset names
done

echo "== lintian"
# The source package and the arch-independent packages with amd64's.
linted=("${debs[@]:2}")
[ "$arch" = arm64 ] || linted+=("$release/quenlink_$version.dsc" "${debs[@]:0:2}")
lint=$(lintian --pedantic --fail-on error,warning,info,pedantic "${linted[@]}" 2>&1) ||
    fail "lintian: $lint"
lint=$(grep -v "running with root privileges" <<<"$lint" || true)
[ -z "$lint" ] || fail "lintian: $lint"

if [ "$arch" = arm64 ]; then
    echo "== an arm64 JVM under qemu-aarch64"
    # Debian's arm64 Java runtime and the libraries it needs, unpacked (not installed) once.
    jre=$(deb_cache_dir)/jre-arm64
    if [ ! -f "$jre/.complete" ]; then
        rm -rf "$jre"
        for package in $(deb_cache_fetch arm64 libc6 libgcc-s1 libstdc++6 zlib1g \
            openjdk-17-jre-headless); do
            dpkg-deb -x "$package" "$jre"
        done
        # Absolute links (jvm.cfg and conf/ point into /etc) would lead out of the folder.
        find "$jre" -type l -lname '/*' | while read -r link; do
            ln -sfn "$jre$(readlink "$link")" "$link"
        done
        touch "$jre/.complete"
    fi
    # A copy of it (of links, not of the files) with the packages unpacked into it: qemu maps
    # /usr/lib/<multiarch>/jni, the JVM's default, there. (Given as /usr/share/java/quenlink.jar,
    # the jar is not found under qemu: the full path.)
    cp -al "$jre" "$work/jre"
    rm -rf "${work:?}/jre/$jni" "$work/jre/usr/share/java"
    for deb in "${debs[@]}"; do dpkg-deb -x "$deb" "$work/jre"; done
    output=$(qemu-aarch64 -L "$work/jre" "$work/jre/usr/lib/jvm/java-17-openjdk-arm64/bin/java" \
        -Xcheck:jni -cp "$work/jre/usr/share/java/quenlink.jar:$check_jar" PackagedLibraries 2>&1) ||
        fail "the JVM: $output"
    echo "$output"
    grep -q "every native method answered" <<<"$output" || fail "the JVM: $output"
    # -Xcheck:jni reports a misuse of JNI as a warning and goes on.
    ! grep -qi "warning" <<<"$output" || fail "-Xcheck:jni: $output"
else
    echo "== autopkgtest in a clean Debian 12 root"
    # The tests as the source package holds them, run against the packages built from it (a tree
    # of debian/tests alone, so that autopkgtest builds nothing in the root).
    dpkg-source -x "$release/quenlink_$version.dsc" "$work/source" >/dev/null 2>&1
    mkdir -p "$work/tests/debian"
    cp -r "$work/source/debian/tests" "$work/source/debian/changelog" "$work/tests/debian/"
    root=$work/root
    cleanup() {
        deb_root_release "$root"
        rm -rf "$work"
    }
    deb_root_unpack "$(deb_cache_clean_root)" "$root"
    # No terminal in the root for apt's log; autopkgtest brings apt-utils, and so needs apt's lists.
    echo 'Dpkg::Use-Pty "0";' >"$root/etc/apt/apt.conf.d/90quenlink-no-pty"
    autopkgtest --setup-commands="apt-get update -q" "$work/tests" "${debs[@]}" -- chroot "$root" ||
        fail "autopkgtest"
fi
echo "the $arch packages: all checks passed"
