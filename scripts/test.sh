#!/usr/bin/env bash
# Installs what the tests need, builds everything and runs every test through CTest: the Linux
# build with its JVM tests, the same unit tests under AddressSanitizer and UBSan, and the Windows
# builds under Wine; then every fuzz target for 30 s with libFuzzer. Ends with one line
# "quenlink: N passed, N failed".
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/packages.sh

ensure_packages "${QUEN_BUILD_PACKAGES[@]}" libgtest-dev googletest junit5 clang-format \
    clang-14 libclang-rt-14-dev

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
