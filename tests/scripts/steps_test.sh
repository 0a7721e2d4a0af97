#!/usr/bin/env bash
# The test command's closing line counts every step: a step that fails outside CTest, a CTest run
# that never reached its summary and a script that stopped early each count as failed and are
# named; CTest's own failures are not counted twice; a run that exits non-zero never says
# "0 failed".
set -uo pipefail
steps=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib" && pwd)/steps.sh
fails=0

# expect NAME EXIT-STATUS CLOSING-LINE FAILED-STEPS SCRIPT: runs SCRIPT as a test command would.
expect() {
    local out status=0
    # A record of its own: run by the test command, the test must not join the command's record.
    out=$(env -u QUEN_STEP_DIR -u QUEN_STEPS_OWNER bash -c "source '$steps'; steps_begin; $5" 2>&1) ||
        status=$?
    local closing=${out##*$'\n'} named
    named=$(sed -n 's/^failed steps: //p' <<<"$out")
    if [ "$status" != "$2" ] || [ "$closing" != "$3" ] || [ "$named" != "$4" ]; then
        printf 'FAILED %s: exit %s, "%s", named "%s"\n%s\n' "$1" "$status" "$closing" "$named" "$out"
        fails=$((fails + 1))
    fi
}
summary() { echo "echo '$1% tests passed, $2 tests failed out of $3'; exit $4"; }

expect "all passed" 0 "quenlink: 5 passed, 0 failed" "" \
    "ctest_step suite bash -c \"$(summary 100 0 3 0)\"; test_step fuzz1 true; test_step fuzz2 true; exit 0"
expect "a build and a fuzz target failed" 1 "quenlink: 3 passed, 2 failed" "build of x, fuzz2" \
    "step 'build of x' false; ctest_step suite bash -c \"$(summary 100 0 3 0)\"; test_step fuzz2 false; exit 0"
expect "CTest failures counted once" 1 "quenlink: 2 passed, 1 failed" "suite" \
    "ctest_step suite bash -c \"$(summary 67 1 3 8)\"; exit 0"
expect "a VM that never reached CTest's summary" 1 "quenlink: 0 passed, 1 failed" "in the VM" \
    "ctest_step 'in the VM' bash -c 'echo booting; exit 1'; exit 0"
expect "a script that stopped early" 1 "quenlink: 0 passed, 1 failed" "bash stopped early (status 3)" \
    "exit 3"
expect "a called script's failures counted once" 1 "quenlink: 2 passed, 1 failed" "windows" \
    "script_step 'Windows tests' bash -c \"source '$steps'; steps_begin; ctest_step windows bash -c \\\"$(summary 67 1 3 8)\\\"; exit 0\"; exit 0"
expect "a called script that died before recording" 1 "quenlink: 0 passed, 1 failed" "Windows tests" \
    "script_step 'Windows tests' bash -c 'exit 2'; exit 0"
[ "$fails" -eq 0 ]
