#!/usr/bin/env bash
# The operator's records and progress, end to end.
#   records.sh CHECK BUILD_DIR
# json    a run against the virtual printer: the JSON record read back, its
#         library hash against sha256sum; a record path that cannot be
#         written is refused before anything runs
# bytes   a suite printing bytes no record may choke on, then hanging: both
#         files still written, read back by real parsers, and consistent
# manual  --manual with piped Enter keys against a virtual printer that
#         nobody changes: every prompt takes one Enter, the test that needs
#         the printer offline fails
# live    a test's row shows while the next test still runs
set -u
check=$1
build=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
fakes=$(cd "$here/../../operator/tests" && pwd)
work=$(mktemp -d)
printer=
operator=
cleanup() {
    for pid in $operator $printer; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "records ($check): $*"
    for file in "$work"/*.out; do [ -f "$file" ] && { echo "--- $file"; cat "$file"; }; done
    exit 1
}
records() { python3 "$here/check_record.py" "$@" || fail "the records are not as expected"; }
offline() { "$build/vpoperator" --dir "$build" --endpoint /nonexistent/printer "$@"; }

start_printer() {
    "$build/vprinter" serve "$work/printer.sock" --no-console >"$work/vprinter.out" 2>&1 &
    printer=$!
    for _ in $(seq 200); do
        grep -q '^listening on ' "$work/vprinter.out" && return 0
        sleep 0.05
    done
    fail "the virtual printer did not start"
}

case $check in
json)
    "$build/vpoperator" --dir "$build" --tests 0,6 --record "$work/run.json" >"$work/run.out" 2>&1 ||
        fail "the run failed"
    records --json "$work/run.json" --library "$build/libKelmorPort.so" --mode virtual \
        --verdicts 0:pass,6:pass --firmware "'VPRINTER-1.0'"
    status=0
    "$build/vpoperator" --dir "$build" --tests 0 --record "$work/missing/run.json" >"$work/unwritable.out" 2>&1 ||
        status=$?
    [ "$status" = 2 ] && grep -q "cannot write $work/missing/run.json" "$work/unwritable.out" ||
        fail "an unwritable record gave status $status"
    grep -q "Test Open Port" "$work/unwritable.out" && fail "the run went ahead without its record"
    ;;
bytes)
    status=0
    offline --timeout 1 --tests 0,6,3 --devbench "$fakes/fake_devbench_hostile.sh" \
        --record "$work/run.json" --junit "$work/run.xml" >"$work/run.out" 2>&1 || status=$?
    [ "$status" = 1 ] || fail "status $status, expected 1"
    records --json "$work/run.json" --junit "$work/run.xml" --verdicts "0:fail,6:pass,3:broke off" \
        --firmware "'A\\x01\\ufffd<&\\r]]>'" --broke-off
    ;;
manual)
    start_printer
    status=0
    printf '\n\n\n' | "$build/vpoperator" --manual --port "$work/printer.sock" --dir "$build" --tests 6,10 \
        --record "$work/run.json" >"$work/run.out" 2>&1 || status=$?
    [ "$status" = 1 ] || fail "status $status, expected 1 (test 10 fails: nobody takes the printer offline)"
    grep -q '^device firmware name: 1b$' "$work/run.out" || fail "devbench's output was not passed on"
    records --json "$work/run.json" --mode manual --verdicts 6:pass,10:fail --firmware "'VPRINTER-1.0'"
    python3 -c 'import json, sys; sys.exit("onlineStatus != VX_FALSE" not in json.load(open(sys.argv[1]))["tests"][1]["failure_lines"][0])' \
        "$work/run.json" || fail "test 10 failed for another reason"
    ;;
live)
    export VPOP_RELEASE=$work/release
    offline --tests 0,1 --devbench "$fakes/fake_devbench_paused.sh" >"$work/run.out" 2>&1 &
    operator=$!
    for _ in $(seq 200); do
        grep -Eq '^ +0  Test Open Port +PASS' "$work/run.out" && break
        sleep 0.05
    done
    grep -Eq '^ +0  Test Open Port +PASS' "$work/run.out" || fail "no row for test 0 while test 1 runs"
    kill -0 "$operator" 2>/dev/null || fail "the run ended before test 1 was let go"
    grep -q 'passed' "$work/run.out" && fail "the summary came before the run ended"
    touch "$VPOP_RELEASE"
    wait "$operator" || fail "the run failed"
    grep -q '^2 of 2 passed' "$work/run.out" || fail "no summary at the end"
    [ "$(grep -Ec '^ +[01]  Test' "$work/run.out")" = 2 ] || fail "a row was shown twice or not at all"
    ;;
*)
    fail "no such check"
    ;;
esac
echo "records ($check): as expected"
