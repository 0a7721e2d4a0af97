#!/usr/bin/env bash
# Builds a Release tree with the benchmarks (build/bench) and runs them, printing the machine,
# the date and every figure as Markdown, ready for bench/RESULTS.md. Every figure is of shipped
# code; nothing here runs on the simulated bus.
#   null   the scanner and scale bridges built on the null platform (bench/null_platform: a read
#          hands back a fixed report at once, a write is taken at once) through their Java
#          classes, against the JNI floor in the same JVM; the resident set over long runs
#   vm     the shipped Linux scanner bridge (lib/, the hidraw platform) in Debian's kernel under
#          qemu (TCG, 2 vCPUs): the host's JVM runs in the guest, the scanner is made through uhid
#          by a library in that JVM, and the floor is poll + read on the same hidraw node
#   peer   in the same VM and JVM as vm (one boot serves both), on the same node, the bridge
#          against its peers: Debian's hidapi (hidraw backend) through JNA, and from C
#   micro  hidraw_bench: the hidraw channel's code alone against bare system calls on a
#          socketpair (no kernel HID code involved)
# Each section prints the load average as it starts (the VM's sections the guest's, with the
# host's before and after the VM).
#
# Usage: bench/run.sh [--only null,vm,peer,micro] [--quick]
#   --quick  a smoke run: every section, few calls; the figures mean nothing
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/packages.sh
# The peers: JNA and hidapi, hidraw backend (and its header, for the peer from C).
peer_packages=(libjna-java libhidapi-hidraw0 libhidapi-dev)
ensure_packages "${QUEN_BUILD_PACKAGES[@]}" "${QUEN_KERNEL_TEST_PACKAGES[@]}" libbenchmark-dev \
    "${peer_packages[@]}"

command="bench/run.sh${*:+ $*}"
build=$PWD/build/bench
only=null,vm,peer,micro
quick=()
while [ $# -gt 0 ]; do
    case $1 in
        --only) only=$2; shift 2 ;;
        --quick) quick=(--quick); shift ;;
        *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
done
wants() { [[ ",$only," == *",$1,"* ]]; }

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUENLINK_TESTS=OFF -DQUENLINK_WERROR=ON \
    >/dev/null
cmake --build "$build" -j2 --target scannerlink quenlink_bench quenlink_bench_vm hidraw_bench \
    >/dev/null

java=$(readlink -f "$(command -v java)")
classes="$build/java/quenlink.jar:$build/bench/java/quenlink-bench.jar"
vm_classes="$classes:$build/bench/vm/quenlink-bench-vm.jar:/usr/share/java/jna.jar"
# A fixed heap, so that the resident set moves only with native memory, and one collector.
jvm=(-XX:+UseSerialGC -Xms256m -Xmx256m)
load() { cut -d' ' -f1-3 /proc/loadavg; }

echo "## $(date -u '+%Y-%m-%d %H:%M UTC')"
echo
commit=$(git rev-parse --short HEAD 2>/dev/null || echo unknown)
git diff --quiet HEAD 2>/dev/null || commit+=", with uncommitted changes"
echo "Command: \`$command\` (commit $commit)"
echo
echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)," \
    "Linux $(uname -r), $(g++ --version | head -1), $("$java" -version 2>&1 | head -1);" \
    "load average at the start $(load)"

if wants null; then
    null_platform() {
        "$java" "${jvm[@]}" -XX:+AlwaysPreTouch \
            -Djava.library.path="$build/bench-lib/null:$build/bench-lib" -cp "$classes" \
            com.quendal.bench.NullPlatformBench "${quick[@]}" "$@"
    }
    echo
    null_platform --only calls
    # In a JVM of its own: memory an earlier section freed would hide what a leak takes.
    echo
    null_platform --only memory | sed -n '/^### /,$p'
fi

if wants vm || wants peer; then
    # What the JVM in the guest measures the bridge against: the floor (vm), the peers (peer).
    against=()
    wants vm && against+=(floor)
    wants peer && against+=(peer)
    against=$(IFS=,; echo "${against[*]}")
    kernel_cache=${QUEN_KERNEL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quenlink/kernel-cache}
    bash tests/kernel/fetch-kernel.sh "$kernel_cache" >/dev/null 2>"$build/fetch-kernel.log" ||
        { cat "$build/fetch-kernel.log" >&2; exit 1; }
    console=$build/vm-console.log
    echo
    echo "### Kernel VM"
    echo
    echo "Debian's kernel $(basename "$(readlink -f "$kernel_cache/current")") under" \
        "qemu-system-x86_64 -accel tcg, 2 vCPUs, 1536 MiB; the host's JVM runs in the guest" \
        "(a chroot of the host's /usr and /etc over 9p), with the shipped" \
        "\`lib/libscannerlink.so\`. Host load average before the VM: $(load)."
    if wants peer; then
        version() { dpkg-query -W -f='${Package} ${Version}' "$1:$(dpkg --print-architecture)"; }
        echo
        echo "The peers: $(version libhidapi-hidraw0) (the hidraw backend, on" \
            "$(version libudev1)) through $(dpkg-query -W -f='${Package} ${Version}' libjna-java)" \
            "(an interface bound with \`Native.load\`), and the same hidapi calls from C through a" \
            "JNI skin."
    fi
    echo
    status=0
    QUEN_KERNEL_CACHE=$kernel_cache QUEN_VM_SHARES="/usr:/etc:$build" \
        QUEN_VM_EXTRA_PROGRAMS=$PWD/tests/kernel/host-root.sh QUEN_VM_CPUS=2 QUEN_VM_MEMORY=1536 \
        QUEN_VM_TIME_LIMIT=1500 \
        bash tests/kernel/run-in-vm.sh bench/vm/jvm-guest.sh "$java" "${jvm[@]}" \
        -XX:-UsePerfData -Djava.library.path="$build/lib:$build/bench-lib" -cp "$vm_classes" \
        com.quendal.bench.HidrawVmBench "${quick[@]}" --only "calls,latency,open,$against" \
        >"$console" 2>&1 || status=$?
    sed -n '/^QUEN-BENCH-BEGIN/,/^QUEN-BENCH-END/p' "$console" | sed '1d;$d'
    echo
    echo "Host load average after the VM: $(load); the VM $(grep -o 'whole run [0-9.]* s' "$console")."
    if [ "$status" != 0 ]; then
        echo "the VM benchmark failed (status $status); console in $console" >&2
        exit "$status"
    fi
fi

if wants micro; then
    echo
    echo "### hidraw_bench: the channel's code on a socketpair (load average $(load))"
    echo
    echo '```'
    "$build/bin/hidraw_bench" --benchmark_repetitions=9 --benchmark_enable_random_interleaving=true \
        --benchmark_report_aggregates_only=true 2>&1
    echo '```'
fi
