#!/usr/bin/env bash
# Prints the performance figures: devbench's start-up to the menu, the timed
# chunked write against the bare library calls, the raster job and the first
# status query through the stand-in library to a virtual printer, and the
# automated run of all 21 tests (BENCH_OPERATOR_RUNS runs, default 5) against
# the suite's own mandated sleeps; then the fault matrix, its wall time against
# its longest run.
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
runs=200
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
"$dir/chunked_write_bench" | plain

echo
echo "== stand-in library to the virtual printer"
"$dir/vprinter_bench" | plain

echo
echo "== automated run of all 21 tests (vpoperator --tests a, its own total; target 7.0 s)"
# Several runs, since a shared machine spreads them.
operator_runs=${BENCH_OPERATOR_RUNS:-5}
totals=()
for _ in $(seq "$operator_runs"); do
  report=$("$dir/vpoperator" --dir "$dir" --tests a)
  line=$(tail -1 <<<"$report")
  [[ $line =~ ^21\ of\ 21\ passed,\ total\ ([0-9.]+)\ s$ ]] || { echo "bench.sh: the run failed: $line" >&2; exit 1; }
  totals+=("${BASH_REMATCH[1]}")
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
awk '$1 == 18 || $1 == 19 { printf "last run: test %s (%s %s %s %s %s) %s s\n", $1, $2, $3, $4, $5, $6, $(NF - 1) }' <<<"$report"

echo
echo "== fault matrix (vpoperator --matrix --jobs 4; target: wall time at most 1.3 x its longest run)"
start=$(date +%s%N)
report=$("$dir/vpoperator" --dir "$dir" --matrix --jobs 4) || { echo "bench.sh: the matrix failed" >&2; exit 1; }
end=$(date +%s%N)
line=$(tail -1 <<<"$report")
[[ $line =~ the\ longest\ run:\ (.*),\ ([0-9.]+)\ s$ ]] || { echo "bench.sh: no longest run in: $line" >&2; exit 1; }
awk -v ns=$((end - start)) -v longest="${BASH_REMATCH[2]}" -v name="${BASH_REMATCH[1]}" -v runs="$(tail -2 <<<"$report" | head -1)" '
  BEGIN {
    printf "matrix: %.2f s wall with 4 jobs (%s); the longest run: %s, %.2f s; ratio %.2f (target 1.3)\n",
      ns / 1e9, runs, name, longest, ns / 1e9 / longest
  }'
