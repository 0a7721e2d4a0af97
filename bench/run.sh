#!/usr/bin/env bash
# Builds a Release tree with the benchmarks (build/bench) and runs them, printing the machine,
# the date and every figure as Markdown, ready for bench/RESULTS.md:
#   readers_bench  the readers' own work on the simulated bus (Google Benchmark)
#   hidraw_bench   the hidraw channel's read and write per call against a bare poll+read and
#                  write on the same socketpair (Google Benchmark)
#   the JVM harness (bench/java)  the scanner bridge built on the simulated bus, through its
#                  Java class, against a JNI floor of its own; the latency on the real clock;
#                  Open against the number of interfaces; the resident set over a long run
#
# Usage: bench/run.sh [--only cpp|java] [--bridges DIR --jar JAR] [-- HARNESS-ARGS...]
#   --bridges DIR  the harness loads libscannerlink.so from DIR instead of this tree's sim-lib:
#                  another tree's build on the simulated bus, measured by the same harness
#   --jar JAR      that tree's quenlink.jar
#   HARNESS-ARGS   --quick, --repetitions N, --only calls,latency,open,memory
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/packages.sh
ensure_packages "${QUEN_BUILD_PACKAGES[@]}" libbenchmark-dev

command="bench/run.sh${*:+ $*}"
build=$PWD/build/bench
bridges=$build/sim-lib
jar=$build/java/quenlink.jar
only=all
while [ $# -gt 0 ]; do
    case $1 in
        --bridges) bridges=$(realpath "$2"); shift 2 ;;
        --jar) jar=$(realpath "$2"); shift 2 ;;
        --only) only=$2; shift 2 ;;
        --) shift; break ;;
        *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
done

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUENLINK_BENCH=ON -DQUENLINK_TESTS=OFF \
    -DQUENLINK_WERROR=ON >/dev/null
cmake --build "$build" -j2 --target readers_bench hidraw_bench quenlink_bench >/dev/null

load() { cut -d' ' -f1-3 /proc/loadavg; }

echo "## $(date -u '+%Y-%m-%d %H:%M UTC')"
echo
echo "Command: \`$command\` (commit $(git rev-parse --short HEAD 2>/dev/null || echo unknown))"
echo
echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)," \
    "Linux $(uname -r), $(g++ --version | head -1), $(java -version 2>&1 | head -1);" \
    "load average at the start $(load)"

if [ "$only" != java ]; then
    echo
    echo "### readers_bench (load average $(load))"
    echo
    echo '```'
    "$build/bin/readers_bench" --benchmark_min_time=0.5 2>&1
    echo '```'
    echo
    echo "### hidraw_bench (load average $(load))"
    echo
    echo '```'
    "$build/bin/hidraw_bench" --benchmark_repetitions=9 --benchmark_enable_random_interleaving=true \
        --benchmark_report_aggregates_only=true 2>&1
    echo '```'
fi

harness() {
    # A fixed, pre-touched heap: the resident set then moves only with native memory.
    QUENLINK_SIM_SCENARIO=$scenario java -XX:+UseSerialGC -Xms256m -Xmx256m -XX:+AlwaysPreTouch \
        -Djava.library.path="$bridges:$build/bench-lib" \
        -cp "$jar:$build/bench/java/quenlink-bench.jar" com.quendal.bench.BridgeBench "$@"
}

if [ "$only" != cpp ]; then
    scenario=$(mktemp)
    trap 'rm -f "$scenario"' EXIT
    if [[ " $* " == *" --only "* ]]; then
        harness "$@"
    else
        harness "$@" --only calls,latency,open
        # In a JVM of its own: memory an earlier section freed would hide what a leak takes.
        harness "$@" --only memory | sed -n '/^### /,$p'
    fi
fi
