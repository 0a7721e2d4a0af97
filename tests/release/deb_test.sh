#!/usr/bin/env bash
# Checks a Debian package that scripts/release.sh made: its files, modes and owners; that its
# libraries, jar and rule are the release folder's own (so check-release.cmake's checks of the
# folder hold for them); Depends against Debian 12's packages for its architecture; lintian.
# Then amd64: installed with apt into a Debian 12 root that has nothing of the project, where a
# JVM finds the libraries with no -Djava.library.path and remove and purge leave nothing behind;
# arm64: Debian's arm64 Java runtime, unpacked with the package, runs them under qemu-aarch64.
# Usage: deb_test.sh amd64|arm64 VERSION CHECK-JAR   (CHECK-JAR holds PackagedLibraries)
# Environment: QUEN_DEB_CACHE  the cache of the Debian root and packages (default ~/.cache/quenlink/deb-cache)
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
source "$repo/scripts/lib/packages.sh"
source "$repo/scripts/lib/deb-cache.sh"
arch=$1 version=$2 check_jar=$3
folder=$repo/release/linux-$(case $arch in amd64) echo x86_64 ;; arm64) echo aarch64 ;; esac)
deb=$repo/release/quenlink_${version}_$arch.deb
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

echo "== files"
listing=$(dpkg-deb -c "$deb") || fail "no $deb: run scripts/release.sh"
# Debian's modes and owners: everything root's, directories and programs 0755, the rest 0644.
awk '$2 != "root/root" || ($1 !~ /^(drwxr-xr-x|-rw-r--r--|lrwxrwxrwx)$/ &&
     !($1 == "-rwxr-xr-x" && $6 ~ "^./usr/bin/"))' <<<"$listing" | grep . && fail "modes or owners"
diff <(awk '$1 !~ /^d/ { print $6 ($7 ? " " $7 " " $8 : "") }' <<<"$listing" | sort) <(sort <<EOF
./$jni/libscalelink.so
./$jni/libscannerlink.so
./$jni/libsetuplink.so
./usr/bin/quenlink-hid-probe
./usr/lib/udev/rules.d/70-quenlink.rules
./usr/share/doc/quenlink/README.gz
./usr/share/doc/quenlink/changelog.gz
./usr/share/doc/quenlink/copyright
./usr/share/java/quenlink-$version.jar
./usr/share/java/quenlink.jar -> quenlink-$version.jar
./usr/share/man/man1/quenlink-hid-probe.1.gz
EOF
) || fail "the package's files differ (< found, > expected)"
dpkg-deb -x "$deb" "$work/unpacked"
for file in $jni/libscannerlink.so $jni/libscalelink.so $jni/libsetuplink.so \
    usr/share/java/quenlink.jar usr/lib/udev/rules.d/70-quenlink.rules; do
    grep -qx "$(sha256sum <"$work/unpacked/$file" | cut -d' ' -f1)  ${file##*/}" \
        "$folder/SHA256SUMS" || fail "/$file is not the release folder's"
done
[ "$(dpkg-deb -f "$deb" Architecture)/$(dpkg-deb -f "$deb" Version)" = "$arch/$version" ] ||
    fail "Architecture or Version"

depends=$(dpkg-deb -f "$deb" Depends)
echo "== Depends: $depends"
# Each library the binaries need must come from a package that Depends names, at a version that
# Debian 12 has for this architecture; and Depends names no other package.
declare -A names
for soname in $(readelf -d "$work/unpacked/$jni"/*.so "$work/unpacked/usr/bin/quenlink-hid-probe" |
    sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort -u); do
    for package in libc6 libstdc++6 libgcc-s1; do
        grep -q "^${soname%.so.*} ${soname##*.so.} $package\b" \
            "$(deb_cache_unpacked_tree "$arch" "$package")/DEBIAN/shlibs" || continue
        names[$package]=1
        minimum=$(grep -o "$package (>= [^)]*)" <<<"$depends" | sed 's/.*>= \(.*\))/\1/') ||
            fail "Depends lacks $package, which provides $soname"
        dpkg --compare-versions "$(dpkg-deb -f "$(deb_cache_fetch "$arch" "$package")" Version)" \
            ge "$minimum" || fail "Debian 12's $package is older than $minimum"
    done
done
[ "$(tr ',' '\n' <<<"$depends" | wc -l)" -eq ${#names[@]} ] || fail "Depends names more than ${!names[*]}"

echo "== lintian"
lint=$(lintian --fail-on error,warning "$deb" 2>&1) || fail "lintian: $lint"

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
    # The package in the same root: qemu maps /usr/lib/<multiarch>/jni, the JVM's default, there.
    # (Given as /usr/share/java/quenlink.jar, the jar is not found under qemu: the full path.)
    dpkg-deb -x "$deb" "$jre"
    output=$(qemu-aarch64 -L "$jre" "$jre/usr/lib/jvm/java-17-openjdk-arm64/bin/java" -Xcheck:jni \
        -cp "$jre/usr/share/java/quenlink.jar:$check_jar" PackagedLibraries 2>&1) ||
        fail "the JVM: $output"
else
    echo "== apt install into a Debian 12 root"
    # A minimal Debian 12 with a Java runtime, made once and kept as a tarball: each run unpacks
    # it afresh, so the package always meets a root that has never had it.
    root_tar=$(deb_cache_dir)/bookworm-jre.tar.zst
    root=$work/root
    mkdir "$root"
    cleanup() {
        umount "$root/proc" 2>/dev/null || true
        rm -rf "$work"
    }
    in_root() { chroot "$root" "$@"; }
    apt_in_root() { in_root apt-get -o Dpkg::Use-Pty=0 -y -q "$@"; }
    if [ ! -f "$root_tar" ]; then
        debootstrap --variant=minbase bookworm "$root" \
            "$(deb_cache_mirrors | awk '$2 == "bookworm" { print $1; exit }')" >&2
        mount -t proc proc "$root/proc"
        apt_in_root install --no-install-recommends openjdk-17-jre-headless >&2
        umount "$root/proc"
        apt_in_root clean
        rm -rf "$root"/var/lib/apt/lists/*
        tar -C "$root" --zstd -cf "$root_tar.part" . && mv "$root_tar.part" "$root_tar"
    else
        tar -C "$root" --zstd -xf "$root_tar"
    fi
    mount -t proc proc "$root/proc"
    # Which of the package's paths the root already has (/usr, /usr/bin...): all others must go.
    paths=$(awk '{ print substr($6, 2) }' <<<"$listing" | sed 's|/$||' | grep .)
    present() { for path in $paths; do [ -e "$root$path" ] || [ -L "$root$path" ] && echo "$path"; done; }
    before=$(present || true)
    cp "$deb" "$check_jar" "$root/tmp/"
    # udevadm as a stand-in that logs its calls. No udev runs here, so installing must not call
    # it; once udev's control socket is there, configure and remove must reload and trigger.
    printf '#!/bin/sh\necho "$*" >>/tmp/udevadm.log\n' >"$root/usr/bin/udevadm"
    chmod 0755 "$root/usr/bin/udevadm"
    apt_in_root install "/tmp/${deb##*/}"
    [ ! -e "$root/tmp/udevadm.log" ] || fail "udevadm called where no udev runs"
    mkdir -p "$root/run/udev"
    perl -MIO::Socket::UNIX -e 'IO::Socket::UNIX->new(Local => $ARGV[0], Listen => 1) or die' \
        "$root/run/udev/control"
    in_root /var/lib/dpkg/info/quenlink.postinst configure
    output=$(in_root java -Xcheck:jni -cp "/usr/share/java/quenlink.jar:/tmp/${check_jar##*/}" \
        PackagedLibraries 2>&1) || fail "the JVM: $output"
    [ "$(in_root sh -c 'command -v quenlink-hid-probe')" = /usr/bin/quenlink-hid-probe ] ||
        fail "quenlink-hid-probe is not on the PATH"
    # No hidraw node in the root: the probe runs to its end and finds nothing (status 1).
    status=0
    in_root quenlink-hid-probe || status=$?
    [ $status -eq 1 ] || fail "quenlink-hid-probe exited $status"
    [ -f "$root/usr/lib/udev/rules.d/70-quenlink.rules" ] || fail "no rule in /usr/lib/udev/rules.d"
    apt_in_root remove quenlink
    diff <(printf '%s\n' "control --reload-rules" "trigger --subsystem-match=hidraw --action=change" \
        "control --reload-rules" "trigger --subsystem-match=hidraw --action=change") \
        "$root/tmp/udevadm.log" || fail "udevadm calls of configure and remove (< expected)"
    apt_in_root purge quenlink
    [ "$(wc -l <"$root/tmp/udevadm.log")" -eq 4 ] || fail "purge called udevadm"
    [ "$(present || true)" = "$before" ] || fail "left by purge: $(present | grep -vxF "$before")"
    ! in_root dpkg-query -W quenlink 2>/dev/null || fail "dpkg still knows quenlink"
fi
echo "$output"
grep -q "every native method answered" <<<"$output" || fail "the JVM: $output"
# -Xcheck:jni reports a misuse of JNI as a warning and goes on.
! grep -qi "warning" <<<"$output" || fail "-Xcheck:jni: $output"
echo "quenlink_${version}_$arch.deb: all checks passed"
