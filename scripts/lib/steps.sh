# The steps of a test run and what became of each, for one closing line that counts them all:
# "quenlink: N passed, M failed". A CTest run counts its own tests; a step outside CTest (a package
# install, a build, the Wine prefix, a VM that never reported) counts as one failed test when it
# fails, and is named on the line before; a fuzz target counts as a test, passed or failed.
# Sourced by scripts/test.sh and the scripts it calls; they share one record folder through
# QUEN_STEP_DIR, so that a script run on its own keeps a record of its own.

# steps_begin: starts the record (or joins the caller's) and, at the script's exit, ends it. The
# script ends with "exit 0" once every step has run: any other exit means it stopped early, which
# is a failed step too, so that a run that exits non-zero never closes with "0 failed".
steps_begin() {
    if [ -z "${QUEN_STEP_DIR:-}" ]; then
        QUEN_STEP_DIR=$(mktemp -d)
        export QUEN_STEP_DIR
        QUEN_STEPS_OWNER=$$
    fi
    touch "$QUEN_STEP_DIR/failed" "$QUEN_STEP_DIR/passed"
    QUEN_STEPS_FAILURES_AT_BEGIN=$(failures_so_far)
    trap 'steps_exit $?' EXIT
}

steps_exit() {
    trap - EXIT
    [ "$1" -eq 0 ] || step_failed "${0##*/} stopped early (status $1)"
    steps_end
    exit $?
}

step_failed() {  # step_failed NAME: records a failure that CTest did not count
    echo "$1" >>"$QUEN_STEP_DIR/failed"
    echo "== FAILED: $1"
}

# step NAME COMMAND...: runs COMMAND; its failure is a failed step.
step() {
    local name=$1
    shift
    "$@" && return 0
    step_failed "$name"
    return 1
}

# test_step NAME COMMAND...: runs COMMAND as one test of its own (a fuzz target).
test_step() {
    local name=$1
    shift
    if "$@"; then
        echo "$name" >>"$QUEN_STEP_DIR/passed"
        return 0
    fi
    step_failed "$name"
    return 1
}

# ctest_counts LOG: "PASSED FAILED" from CTest's summary lines in LOG (nothing if it has none).
ctest_counts() {
    awk '/tests passed, [0-9]+ tests? failed out of [0-9]+/ { failed += $4; total += $NF; seen = 1 }
        END { if (seen) print total - failed, failed }' "$1"
}

# ctest_step NAME COMMAND...: runs a command that runs CTest (ctest itself, or a VM that runs it)
# and keeps its output for the count. A command that fails without CTest having counted a failed
# test (no tests found, a VM that never finished, a crash before the summary) is a failed step.
ctest_step() {
    local name=$1 status counts
    shift
    local log=$QUEN_STEP_DIR/ctest-${name//[^A-Za-z0-9_.-]/_}.log
    echo "$name" >"$log.name"
    "$@" 2>&1 | tee "$log"
    status=${PIPESTATUS[0]}
    [ "$status" -eq 0 ] && return 0
    counts=$(ctest_counts "$log")
    if [ -z "$counts" ] || [ "${counts#* }" -eq 0 ]; then
        step_failed "$name"
    fi
    return 1
}

# failures_so_far: every failure the record holds: failed steps and tests CTest counted as failed.
failures_so_far() {
    local failed log counts
    failed=$(wc -l <"$QUEN_STEP_DIR/failed")
    for log in "$QUEN_STEP_DIR"/ctest-*.log; do
        [ -f "$log" ] || continue
        counts=$(ctest_counts "$log")
        [ -z "$counts" ] || failed=$((failed + ${counts#* }))
    done
    echo "$failed"
}

# script_step NAME COMMAND...: runs a script that records its own steps here. If it fails without
# having recorded why (it died early), that is a failed step of its own.
script_step() {
    local name=$1 before
    shift
    before=$(failures_so_far)
    "$@" && return 0
    [ "$(failures_so_far)" -gt "$before" ] || step_failed "$name"
    return 1
}

# steps_end [PREFIX]: the script that began the record prints the failed steps, then the closing
# line. Fails when anything failed; a script called by another fails when it recorded a failure.
steps_end() {
    if [ "${QUEN_STEPS_OWNER:-}" != $$ ]; then
        [ "$(failures_so_far)" -eq "$QUEN_STEPS_FAILURES_AT_BEGIN" ]
        return
    fi
    local passed failed log counts
    passed=$(wc -l <"$QUEN_STEP_DIR/passed")
    failed=$(failures_so_far)
    for log in "$QUEN_STEP_DIR"/ctest-*.log; do
        [ -f "$log" ] || continue
        counts=$(ctest_counts "$log")
        [ -n "$counts" ] || continue
        passed=$((passed + ${counts% *}))
        [ "${counts#* }" -eq 0 ] || cat "$log.name" >>"$QUEN_STEP_DIR/failed"
    done
    if [ "$failed" -gt 0 ]; then
        echo "failed steps: $(sort -u "$QUEN_STEP_DIR/failed" | paste -sd, - | sed 's/,/, /g')"
    fi
    echo "${1:-quenlink}: $passed passed, $failed failed"
    rm -rf "$QUEN_STEP_DIR"
    [ "$failed" -eq 0 ]
}
