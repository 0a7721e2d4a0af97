#!/usr/bin/env bash
# Installs what the tests need, builds everything and runs every test through CTest: the Linux
# build with its JVM tests and its tests against Debian's kernel under qemu, the same unit tests
# under AddressSanitizer and UBSan and under ThreadSanitizer, the aarch64 cross build under
# qemu-user, the release folders, and the Windows builds under Wine; then every fuzz target for
# 30 s with libFuzzer. Ends with one line
# "quenlink: N passed, N failed".
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/packages.sh

# libbenchmark-dev: the linux preset compiles the benchmarks too (bench/), so that CI keeps them
# building; bench/run.sh runs them.
ensure_packages "${QUEN_BUILD_PACKAGES[@]}" "${QUEN_KERNEL_TEST_PACKAGES[@]}" libgtest-dev googletest \
    libbenchmark-dev junit5 clang-format clang-14 libclang-rt-14-dev

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
status=0

run_ctest() {  # run_ctest NAME CTEST-ARGS...
    local name=$1
    shift
    ctest "$@" 2>&1 | tee "$logs/$name.log" || status=1
}

cmake --preset linux
cmake --build --preset linux
run_ctest linux --preset linux

cmake --preset linux-asan
cmake --build --preset linux-asan
run_ctest linux-asan --preset linux-asan

# The whole suite under ThreadSanitizer takes seconds (the virtual clock keeps nearly every test
# single-threaded and instant), so all of it runs, not just the tests that use threads.
cmake --preset linux-tsan
cmake --build --preset linux-tsan
run_ctest linux-tsan --preset linux-tsan

# ARM tills: the hidraw libraries cross-built for aarch64, their unit tests run under qemu-user.
ensure_packages "${QUEN_CROSS_PACKAGES[@]}" "${QUEN_AARCH64_TEST_PACKAGES[@]}"
cmake --preset linux-aarch64
cmake --build --preset linux-aarch64
run_ctest linux-aarch64 --preset linux-aarch64

# The release folders, made as an integrator gets them, and checked file by file.
bash scripts/release.sh
run_ctest release --preset release

if [ -x scripts/test-windows.sh ] && [ "${QUEN_SKIP_WINDOWS:-0}" != 1 ]; then
    QUEN_CTEST_LOG_DIR="$logs" bash scripts/test-windows.sh || status=1
fi

# 30 s per target: long enough to get past the seeds, short enough for every run.
bash scripts/fuzz.sh 30 || status=1

# Sum what every CTest run counted.
cat "$logs"/*.log | awk '
    /tests passed, [0-9]+ tests? failed out of [0-9]+/ {
        failed += $4; total += $NF
    }
    END { printf "quenlink: %d passed, %d failed\n", total - failed, failed }'
exit $status
