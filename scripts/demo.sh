#!/usr/bin/env bash
# The demo: a till on the simulated HID bus in real time. Builds the bridges on the simulated bus,
# the jar and the configuration library's stand-in, then a Java program reads barcodes from the
# scanner in both modes and a settling weight from the scale, and downloads a configuration to the
# scanner and flashes it, through the real Java classes and native libraries.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/packages.sh
ensure_packages "${QUEN_BUILD_PACKAGES[@]}"

build=build/demo
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUENLINK_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target scannerlink_sim scalelink_sim setuplink ReaderSetupKit \
    quenlink_jar quenlink_demo >/dev/null
echo "built (the simulated-bus bridges in sim-lib/ are for this demo and the tests only):"
ls -1 "$build"/sim-lib/*.so "$build"/lib/libsetuplink.so "$build"/config-double/*.so \
    "$build"/java/*.jar | sed 's/^/  /'
echo
# The HID classes find the simulated-bus bridges first; setuplink finds the stand-in by its bare
# name on the library search path, as it would find the maker's library.
QUENLINK_SIM_SCENARIO="$PWD/$build/demo-scenario.txt" QUEN_DOUBLE_DIR="$PWD/$build/demo-config" \
    LD_LIBRARY_PATH="$PWD/$build/config-double" \
    java -Djava.library.path="$build/sim-lib:$build/lib" \
    -cp "$build/java/quenlink.jar:$build/java/quenlink-demo.jar" com.quendal.demo.TillDemo
