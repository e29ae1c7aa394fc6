#!/usr/bin/env bash
# Prints the performance figures: devbench's start-up to the menu, the timed
# chunked write against the bare library calls, the raster job and the first
# status query through the stand-in library to a virtual printer, and the
# automated run of all 21 tests against
# the suite's own mandated sleeps; then the fault matrix, its wall time against
# its longest run. Both read their results from the operator's JSON records.
# Last, the lab's history: 10,000 records added to a SQLite file and to a
# throw-away PostgreSQL server, each question timed on them, the store's size
# per run.
# BENCH_QUICK=1 takes each figure once and briefly: CI's proof that the script
# still runs to its end, not figures to keep.
# Timings from a shared machine; docs/performance.md keeps a dated set.
#
#   scripts/bench.sh [--dir DIR]     (default build/)
case ${1:-} in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$root/build
if [ "${1:-}" = --dir ] || [ "${1:-}" = --build-dir ]; then
  [ $# -ge 2 ] || { echo "bench.sh: $1 needs a directory" >&2; exit 2; }
  dir=$(realpath -m "$2")
  shift 2
fi
if grep -q 'DEVBENCH_SANITIZE:BOOL=ON' "$dir/CMakeCache.txt" 2>/dev/null; then
  echo "bench.sh: $dir is a sanitizer build; figures need a plain one" >&2
  exit 2
fi
. "$root/scripts/announce.sh"
announce_configure bench.sh "$dir"
[ -f "$dir/build.ninja" ] || cmake -S "$root" -B "$dir" -G Ninja >/dev/null
quiet_ninja bench.sh "$dir" -j"$(nproc)" devbench holdprobe vprinter vpoperator chunked_write_bench vprinter_bench

echo "machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p' | head -1), $(date -u '+%Y-%m-%d %H:%M UTC')"
compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$dir/CMakeCache.txt")
echo "build: $("$compiler" --version | head -1), flags $(sed -n 's/^  FLAGS = //p' "$dir/build.ninja" | head -1)"

# The benchmarks' reporters colour their tables whatever the flags say.
plain() { sed 's/\x1b\[[0-9;]*m//g'; }

# Start-up: answers to both questions, then end of input, which leaves the
# menu at once. A shell's own start of a program is the floor.
quick=${BENCH_QUICK:-0}
runs=200
benchmark_flags=()
if [ "$quick" = 1 ]; then
  runs=10
  benchmark_flags=(--benchmark_min_time=0.01)
fi
ms_per_run() {
  local start end
  start=$(date +%s%N)
  for _ in $(seq $runs); do printf 'P\nS\n' | "$@" >/dev/null; done
  end=$(date +%s%N)
  awk -v ns=$((end - start)) -v runs=$runs 'BEGIN { printf "%.2f", ns / runs / 1e6 }'
}
startup=$(cd "$dir" && ms_per_run ./devbench)
floor=$(ms_per_run /bin/true)
echo
echo "== devbench start-up to the menu"
echo "devbench start-up to the menu: $startup ms per run ($runs runs; starting /bin/true the same way: $floor ms)"

echo
echo "== timed chunked write against the bare calls (one byte per call, 120,100 calls)"
# Its ratio is judged against a limit; a quick run's ratio means nothing.
"$dir/chunked_write_bench" "${benchmark_flags[@]}" | plain || [ "$quick" = 1 ]

echo
echo "== stand-in library to the virtual printer"
"$dir/vprinter_bench" "${benchmark_flags[@]}" | plain

echo
echo "== automated run of all 21 tests (vpoperator --tests a, its own total; target 7.0 s)"
# Each run's figures come from its JSON record, which keeps its meaning when
# the table's wording changes.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Prints the record's fields named by a Python expression over `r`, or fails
# (with its verdict) when the run did not pass.
from_record() {
  python3 -c 'import json, sys
r = json.load(open(sys.argv[1]))
if r["verdict"] != "pass":
    sys.exit("bench.sh: the run did not pass: %s (%s)" % (r["verdict"], r["broke_off"] or "a test failed"))
print(eval(sys.argv[2]))' "$@"
}
# Several runs, since a shared machine spreads them.
operator_runs=5
[ "$quick" = 1 ] && operator_runs=1
totals=()
for i in $(seq "$operator_runs"); do
  "$dir/vpoperator" --dir "$dir" --tests a --record "$work/run-$i.json" >/dev/null || true
  totals+=("$(from_record "$work/run-$i.json" '"%.2f" % r["seconds"]')")
done
printf '%s\n' "${totals[@]}" | sort -n | awk -v sleeps=6.5 -v runs="${totals[*]}" '
  { t[NR] = $1 }
  END {
    median = t[int((NR + 1) / 2)]
    printf "all 21 tests: median %.2f s, min %.2f s, max %.2f s over %d runs (%s)\n", median, t[1], t[NR], NR, runs
    printf "the suite'"'"'s mandated sleeps: %.1f s (500 ms x 3 + 5000 ms); median ratio %.2f\n", sleeps, median / sleeps
  }'
# The End Checked Block tests wait once for a whole job: the smaller job's
# print time is the margin for opening the cover at the NOW line.
from_record "$work/run-$operator_runs.json" '"\n".join("last run: test %d (%s) %.2f s" % (t["number"], t["name"], t["seconds"])
    for t in r["tests"] if t["number"] in (18, 19))'

echo
jobs=6
echo "== fault matrix (vpoperator --matrix --jobs $jobs; target: wall time at most 1.3 x its longest run)"
start=$(date +%s%N)
"$dir/vpoperator" --dir "$dir" --matrix --jobs "$jobs" --record "$work/matrix.json" >/dev/null || true
end=$(date +%s%N)
from_record "$work/matrix.json" '"%d of %d faults caught; %d of %d controls passed" % (sum(f["caught"] for f in r["faults"]),
    len(r["faults"]), sum(v["passed"] for v in r["variations"]), len(r["variations"]))'
# Its runs are the faults' and the controls'.
longest=$(from_record "$work/matrix.json" '"%s %.2f" % max([(f["fault"], f["seconds"]) for f in r["faults"]]
    + [(v["variation"], v["seconds"]) for v in r["variations"]], key=lambda f: f[1])')
awk -v ns=$((end - start)) -v jobs="$jobs" -v name="${longest% *}" -v longest="${longest##* }" '
  BEGIN {
    printf "matrix: %.2f s wall with %d jobs; the longest run: %s, %.2f s; ratio %.2f (target 1.3)\n",
      ns / 1e9, jobs, name, longest, ns / 1e9 / longest
  }'

echo
# A lab of 8 benches over 1,250 weeks; quick: the 624 runs of 6 benches over two years.
lab=(--benches 8 --weeks 1250)
[ "$quick" = 1 ] && lab=(--benches 6 --weeks 104)
python3 "$root/tests/history/make_lab.py" "$work/lab" "${lab[@]}"
records=$(find "$work/lab" -name '*.json' | wc -l)
echo "== the lab's history, $records runs (vpoperator history; target: each question under 1 s)"
echo "-- SQLite"
bash "$root/tests/history/bench_questions.sh" "$dir/vpoperator" "$work/lab" "$work/history.sqlite"
echo "-- PostgreSQL (a throw-away server of pg_virtualenv)"
if command -v pg_virtualenv >/dev/null; then
  pg_virtualenv sh -c 'exec bash "$0" "$1" "$2" "postgresql://$PGUSER:$PGPASSWORD@$PGHOST:$PGPORT/$PGDATABASE"' \
    "$root/tests/history/bench_questions.sh" "$dir/vpoperator" "$work/lab" 2>&1 | grep -v 'PostgreSQL cluster'
else
  echo "skipped: no pg_virtualenv (scripts/setup.sh installs it)"
fi
