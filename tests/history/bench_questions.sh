#!/usr/bin/env bash
# Times adding a lab's records to a store and each of the lab's questions on
# it, and says the store's size per run: scripts/bench.sh runs it against a
# SQLite file and, inside pg_virtualenv, against a PostgreSQL server.
#   bench_questions.sh VPOPERATOR RECORDS_DIR STORE
case ${1:-} in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
vpoperator=$(realpath "$1") records=$2 store=$3
runs=$(find "$records" -name '*.json' | wc -l)
# Milliseconds of one command, which must succeed (or, for passed, answer).
timed() {
    local start end status=0
    start=$(date +%s%N)
    "$vpoperator" history "$@" --db "$store" >/dev/null || status=$?
    end=$(date +%s%N)
    [ $status -le 1 ] || { echo "bench_questions: history $1 failed ($status)" >&2; exit 1; }
    echo $(((end - start) / 1000000))
}
ms=$(cd "$records" && timed add ./*.json)
echo "add $runs records: $ms ms ($(awk -v ms="$ms" -v n="$runs" 'BEGIN { printf "%.2f", ms / n }') ms per record)"
page=$(mktemp --suffix=.html)
trap 'rm -f "$page"' EXIT
for question in "" "--bench bench-3" "first-failure --test 10" "first-failure --test 10 --bench bench-3" \
    "flaky" "flaky --bench bench-5" "passed --test 18 --build 1.4.2 --bench bench-5" "passed --test 18 --build 1.4.2" \
    "report --bench bench-3 --html $page" "report --html $page"; do
    # shellcheck disable=SC2086
    echo "history ${question:-(what it holds)}: $(timed $question) ms"
done
echo "the page: $(($(stat -c %s "$page") / 1024)) KiB"
case $store in
postgres*) bytes=$(psql "$store" -Atc "SELECT pg_total_relation_size('runs') + pg_total_relation_size('tests')") ;;
*) bytes=$(($(stat -c %s "$store") + $(stat -c %s "$store-wal" 2>/dev/null || echo 0))) ;;
esac
echo "the store: $((bytes / 1024)) KiB, $((bytes / runs)) bytes per run of 21 tests"
