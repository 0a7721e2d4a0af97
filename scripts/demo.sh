#!/usr/bin/env bash
# The demo: a till on the simulated HID bus in real time. Builds the libraries and the jar, then a
# Java program reads barcodes from the scanner in both modes and a settling weight from the scale
# through the real Java classes and native libraries.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/packages.sh
ensure_packages "${QUEN_BUILD_PACKAGES[@]}"

build=build/demo
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUENLINK_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target scannerlink_sim scalelink_sim quenlink_jar quenlink_demo >/dev/null
echo "built:"
ls -1 "$build"/sim-lib/*.so "$build"/java/*.jar | sed 's/^/  /'
echo
QUENLINK_SIM_SCENARIO="$PWD/$build/demo-scenario.txt" \
    java -Djava.library.path="$build/sim-lib" \
    -cp "$build/java/quenlink.jar:$build/java/quenlink-demo.jar" com.quendal.demo.TillDemo
