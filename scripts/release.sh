#!/usr/bin/env bash
# Makes the release folders an integrator copies to a till, one per platform, and an archive of
# each: release/linux-x86_64, release/linux-aarch64, release/windows-x86, release/windows-x64, and
# release/quenlink-<version>-<platform>.tar.gz / .zip. Each folder holds that platform's shipped
# libraries (never the simulated-bus builds), quenlink.jar, the probe, a README and SHA256SUMS.
# The Linux builds also give the Debian packages release/quenlink_<version>_amd64.deb and
# release/quenlink_<version>_arm64.deb (packaging/deb/make-deb.sh).
# Builds everything afresh in build/release; installs the cross compilers with apt when missing.
# Usage: scripts/release.sh [platform...]   (default: all four)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/packages.sh

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
    local arch
    case $platform in
        linux-x86_64) arch=amd64 ;;
        linux-aarch64) arch=arm64 ;;
        *) return 0 ;;
    esac
    rm -f "$out"/quenlink_*_"$arch".deb
    bash packaging/deb/make-deb.sh "$build" "$out" >/dev/null
}

if [[ " ${platforms[*]} " != *" linux-x86_64 "* ]] && [ ! -f "$jar_build/java/quenlink.jar" ]; then
    platforms=(linux-x86_64 "${platforms[@]}")
fi
for platform in "${platforms[@]}"; do
    build_platform "$platform"
done
echo "archives and packages:"
(cd "$out" && ls -l quenlink[-_]* | awk '{ printf "  %-40s %9d bytes\n", $9, $5 }')
