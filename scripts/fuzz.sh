#!/usr/bin/env bash
# Builds every fuzz target with clang 14 and libFuzzer (build/fuzz) and runs each for a bounded
# time on a scratch copy of its seed corpus, tests/fuzz/corpus/<target>/, so that what a run
# discovers never grows the corpus in the repository. Prints each target's executions and
# findings (crashes, leaks, time-outs, out-of-memory). Each target counts as a test, failed on any
# finding (scripts/lib/steps.sh).
# Usage: scripts/fuzz.sh [seconds per target]   (default 60)
set -uo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-60}"
build="$repo/build/fuzz"

source "$repo/scripts/lib/packages.sh"
source "$repo/scripts/lib/steps.sh"
steps_begin

step "fuzzing: install clang" ensure_packages "${QUEN_BUILD_PACKAGES[@]}" libgtest-dev clang-14 \
    libclang-rt-14-dev || exit 0
step "fuzzing: configure" env CC=clang-14 CXX=clang++-14 cmake -S "$repo" -B "$build" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUENLINK_LIBFUZZER=ON -DQUENLINK_JAVA=OFF \
    -DQUENLINK_WERROR=ON >/dev/null || exit 0
mapfile -t targets <"$build/fuzz-targets.txt"
step "fuzzing: build" cmake --build "$build" -j2 --target "${targets[@]}" >/dev/null || exit 0

scratch=$(mktemp -d)
# fuzz_target TARGET: runs one target on a scratch corpus; fails on any finding.
fuzz_target() {
    local target=$1 corpus artifacts seeds log status executions edges findings finding
    corpus="$scratch/$target/corpus"
    artifacts="$scratch/$target/findings"
    mkdir -p "$corpus" "$artifacts"
    seeds="$repo/tests/fuzz/corpus/$target"
    if [ -d "$seeds" ]; then
        cp -r "$seeds/." "$corpus/"
    else
        echo "$target: no seed corpus in tests/fuzz/corpus/$target, starting empty"
    fi
    log="$scratch/$target/log"
    status=0
    "$build/bin/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" >"$log" 2>&1 || status=$?
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    # The coverage (edges reached) of libFuzzer's last status line.
    edges=$(awk '/^#[0-9]+.* cov: / { for (i = 1; i < NF; ++i) if ($i == "cov:") c = $(i + 1) }
        END { print c }' "$log")
    findings=$(find "$artifacts" -type f \( -name 'crash-*' -o -name 'leak-*' \
        -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
    printf '%-20s %10s executions in %s s, %d findings, %s edges, corpus %d -> %d inputs\n' \
        "$target" "${executions:-?}" "$seconds" "$findings" "${edges:-?}" \
        "$(find "$seeds" -type f 2>/dev/null | wc -l)" "$(find "$corpus" -type f | wc -l)"
    if [ "$findings" -ne 0 ] || [ "$status" -ne 0 ]; then
        tail -n 40 "$log"
        for finding in "$artifacts"/*; do
            [ -f "$finding" ] && cp "$finding" "$build/" && echo "kept $build/$(basename "$finding")"
        done
        return 1
    fi
}

for target in "${targets[@]}"; do
    test_step "fuzz target $target" fuzz_target "$target"
done
rm -rf "$scratch"
exit 0
