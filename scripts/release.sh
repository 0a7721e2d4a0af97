#!/usr/bin/env bash
# Makes the release folders an integrator copies to a till, one per platform, and an archive of
# each: release/linux-x86_64, release/linux-aarch64, release/windows-x86, release/windows-x64, and
# release/quenlink-<version>-<platform>.tar.gz / .zip. Each folder holds that platform's shipped
# libraries (never the simulated-bus builds), quenlink.jar, the probe, a README and SHA256SUMS.
# With the Linux platforms come the Debian packages, built from the source package in debian/ by
# dpkg-buildpackage in a Debian 12 build root (scripts/lib/deb-build.sh), amd64 natively and arm64
# as a cross build: release/quenlink_<version>.dsc with its tarball, and each binary package
# under Debian's file name (<package>_<version>_<amd64|arm64|all>.deb); their build logs,
# .buildinfo and .changes files go to build/release/debian.
# Builds everything afresh in build/release; installs the cross compilers with apt when missing.
# Usage: scripts/release.sh [platform...]   (default: all four)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/packages.sh
source scripts/lib/deb-cache.sh
source scripts/lib/deb-build.sh

platforms=("$@")
[ ${#platforms[@]} -gt 0 ] || platforms=(linux-x86_64 linux-aarch64 windows-x86 windows-x64)
ensure_packages "${QUEN_BUILD_PACKAGES[@]}" "${QUEN_CROSS_PACKAGES[@]}" "${QUEN_DEB_PACKAGES[@]}"

out=$PWD/release
builds=$PWD/build/release
mkdir -p "$out" "$builds"

toolchain() {
    case $1 in
        linux-x86_64) ;;
        linux-aarch64) echo "-DCMAKE_TOOLCHAIN_FILE=$PWD/cmake/toolchain-aarch64-linux-gnu.cmake" ;;
        windows-x86) echo "-DCMAKE_TOOLCHAIN_FILE=$PWD/cmake/toolchain-mingw-i686.cmake" ;;
        windows-x64) echo "-DCMAKE_TOOLCHAIN_FILE=$PWD/cmake/toolchain-mingw-x86_64.cmake" ;;
        *) echo "unknown platform $1" >&2; exit 64 ;;
    esac
}

# The jar is made by the native build; the cross builds install that same file.
jar_build=$builds/linux-x86_64
build_platform() {
    local platform=$1 build=$builds/$1
    local extra=()
    [ "$platform" = linux-x86_64 ] || extra+=("-DQUENLINK_PREBUILT_JAR=$jar_build/java/quenlink.jar")
    # shellcheck disable=SC2046
    cmake -S . -B "$build" $(toolchain "$platform") -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DQUENLINK_WERROR=ON -DQUENLINK_TESTS=OFF -DQUENLINK_BENCH=OFF \
        -DQUENLINK_RELEASE_PLATFORM="$platform" \
        -DCPACK_PACKAGE_DIRECTORY="$out" "${extra[@]}" >/dev/null
    cmake --build "$build" -j2 >/dev/null
    rm -rf "${out:?}/$platform" "$out"/quenlink-*-"$platform".*
    cmake --install "$build" --prefix "$out/$platform" --strip >/dev/null
    (cd "$build" && cpack -C RelWithDebInfo >/dev/null)
    rm -rf "$out/_CPack_Packages"
    echo "$platform:"
    (cd "$out/$platform" && ls -l | awk 'NR > 1 { printf "  %-22s %9d bytes\n", $9, $5 }')
}

if [[ " ${platforms[*]} " != *" linux-x86_64 "* ]] && [ ! -f "$jar_build/java/quenlink.jar" ]; then
    platforms=(linux-x86_64 "${platforms[@]}")
fi
for platform in "${platforms[@]}"; do
    build_platform "$platform"
done

if [[ " ${platforms[*]} " == *" linux-"* ]]; then
    # The packages' version is the project's; the changelog must have an entry for it.
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$jar_build/CMakeCache.txt")
    changelog_version=$(dpkg-parsechangelog -l debian/changelog -S Version)
    if [ "$version" != "$changelog_version" ]; then
        echo "release: version $version has no entry in debian/changelog" \
            "(its newest is $changelog_version)" >&2
        exit 1
    fi
    deb_build_packages "$PWD" "$out" "$builds/debian"
fi
echo "archives and packages:"
(cd "$out" && ls -l quenlink-[0-9]* quenlink_* ./*.deb 2>/dev/null |
    awk '{ sub("^./", "", $9); printf "  %-44s %9d bytes\n", $9, $5 }' || true)
