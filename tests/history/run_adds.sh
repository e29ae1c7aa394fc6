#!/usr/bin/env bash
# A run adds itself to the history as it ends (--history), and a store that
# cannot be opened stops the run before devbench starts.
#   run_adds.sh BUILD_DIR
set -u
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "run_adds: $*"; cat "$work"/*.out 2>/dev/null; exit 1; }
"$build/vpoperator" --dir "$build" --tests 0 --build e2e-1 --record "$work/run.json" --history --db "$work/h.sqlite" \
    > "$work/run.out" 2>&1 || fail "the run did not pass"
grep -q "added to the history at $work/h.sqlite" "$work/run.out" || fail "the run does not say it was added"
"$build/vpoperator" history passed --test 0 --build e2e-1 --db "$work/h.sqlite" > "$work/passed.out" 2>&1 \
    || fail "the store does not hold the run's pass"
# The same record added again is the same run.
"$build/vpoperator" history add "$work/run.json" --db "$work/h.sqlite" > "$work/add.out" 2>&1
grep -q "0 runs added, 1 already there" "$work/add.out" || fail "the run was added twice"
"$build/vpoperator" --dir "$build" --tests 0 --record "$work/never.json" --history --db "$work/no/such/h.sqlite" \
    > "$work/bad.out" 2>&1
status=$?
[ $status = 2 ] || fail "a store that cannot be opened: status $status, not 2"
grep -q "^vpoperator: --history: .*no/such/h.sqlite" "$work/bad.out" || fail "the message does not name the store"
[ ! -e "$work/never.json" ] || fail "the run went ahead"
echo "run_adds: ok"
