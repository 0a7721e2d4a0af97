#!/usr/bin/env bash
# Installs what the tests need, builds everything and runs every test through CTest: the Linux
# build with its JVM tests and its tests against Debian's kernel under qemu, the same unit tests
# under AddressSanitizer and UBSan and under ThreadSanitizer, the aarch64 cross build under
# qemu-user, the release folders and the Debian packages, the arm64 packages on Debian's arm64
# kernel under qemu, and the Windows builds under Wine; then every fuzz target for 30 s with
# libFuzzer. A step that fails does not stop the others. Ends with the steps that failed, if any,
# and one line "quenlink: N passed, M failed" that counts every CTest test, every fuzz target and
# every step that failed outside CTest (scripts/lib/steps.sh); exits non-zero when M > 0.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
source scripts/lib/packages.sh
source scripts/lib/steps.sh
steps_begin

# libbenchmark-dev, libhidapi-dev, libjna-java: the linux preset compiles the benchmarks too
# (bench/, the kernel VM's peers among them), so that CI keeps them building; bench/run.sh runs
# them.
step "install the test packages" ensure_packages "${QUEN_BUILD_PACKAGES[@]}" \
    "${QUEN_KERNEL_TEST_PACKAGES[@]}" "${QUEN_UDEVD_VM_PACKAGES[@]}" libgtest-dev googletest \
    libbenchmark-dev libhidapi-dev libjna-java junit5 \
    clang-format clang-14 libclang-rt-14-dev

# preset NAME: configure, build and test one CMake preset; no tests without a build.
preset() {
    step "$1: configure" cmake --preset "$1" &&
        step "$1: build" cmake --build --preset "$1" &&
        ctest_step "$1" ctest --preset "$1"
}

preset linux
preset linux-asan
# The whole suite under ThreadSanitizer takes seconds (the virtual clock keeps nearly every test
# single-threaded and instant), so all of it runs, not just the tests that use threads.
preset linux-tsan

# ARM tills: the hidraw libraries cross-built for aarch64, their unit tests run under qemu-user.
step "install the cross compilers" ensure_packages "${QUEN_CROSS_PACKAGES[@]}" \
    "${QUEN_AARCH64_TEST_PACKAGES[@]}" &&
    preset linux-aarch64

# The release folders, made as an integrator gets them, and checked file by file; the Debian
# packages, built by dpkg-buildpackage in a Debian 12 root, checked with lintian and autopkgtest;
# then the ARM till on an ARM kernel: the arm64 packages in Debian's arm64 JVM on Debian's arm64
# kernel under qemu, against uhid devices that the aarch64 build's device controller plugs.
if step "release folders and Debian packages: scripts/release.sh" bash scripts/release.sh; then
    ctest_step release ctest --preset release
    step "install the arm64 kernel test packages" ensure_packages "${QUEN_ARM64_KERNEL_PACKAGES[@]}" &&
        ctest_step release-arm64 ctest --preset release-arm64
fi

if [ "${QUEN_SKIP_WINDOWS:-0}" != 1 ]; then
    script_step "Windows tests: scripts/test-windows.sh" bash scripts/test-windows.sh
fi

# 30 s per target: long enough to get past the seeds, short enough for every run.
script_step "fuzzing: scripts/fuzz.sh" bash scripts/fuzz.sh 30
exit 0
