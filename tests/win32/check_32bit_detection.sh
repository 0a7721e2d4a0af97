#!/usr/bin/env bash
# The check that sends the Wine tests into the kernel VM (scripts/lib/host.sh) answers what Wine's
# own 32-bit loader finds, and refuses a program the kernel cannot run whatever the host.
# Usage: check_32bit_detection.sh
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/host.sh"

wine_runs=no
/usr/lib/wine/wine --version >/dev/null 2>&1 && wine_runs=yes
detected=no
host_runs_32bit && detected=yes
echo "32-bit programs: detected $detected, Wine's 32-bit loader runs: $wine_runs"
[ "$detected" = "$wine_runs" ] || exit 1

# The same program for a machine no kernel here runs (e_machine 0xFFFF).
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
write_elf32 "$folder/elf32"
printf '\xff\xff' | dd of="$folder/elf32" bs=1 seek=18 conv=notrunc status=none
if host_runs_32bit "$folder/elf32"; then
    echo "a program for no known machine was taken to run"
    exit 1
fi
