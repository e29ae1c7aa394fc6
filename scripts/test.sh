#!/usr/bin/env bash
# Builds everything into build/ (the programs, the tests, the benchmarks) and
# runs every test: unit and end-to-end. DEVBENCH_SANITIZE=1 builds into
# build-asan/ with AddressSanitizer and UndefinedBehaviorSanitizer instead.
#
#   scripts/test.sh [--dir DIR] [ctest options...]    e.g. -R operator to run only some tests
case ${1:-} in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
cd "$(dirname "$0")/.."
# Plain ninja runs two jobs more than the machine has cores.
jobs=$(nproc)
dir=build
flags=()
if [ "${DEVBENCH_SANITIZE:-0}" = 1 ]; then
  dir=build-asan
  flags+=(-DDEVBENCH_SANITIZE=ON)
fi
if [ "${1:-}" = --dir ] || [ "${1:-}" = --build-dir ]; then
  [ $# -ge 2 ] || { echo "test.sh: $1 needs a directory" >&2; exit 2; }
  dir=$2
  shift 2
fi
. scripts/announce.sh
announce_configure test.sh "$dir"
cmake -S . -B "$dir" -G Ninja "${flags[@]}" >/dev/null
quiet_ninja test.sh "$dir" -j"$jobs"
cd "$dir"
# A terminal keeps one progress line; elsewhere (a log) the tests that passed
# are left out. A failed test's output and the summary are shown either way.
if [ -t 1 ]; then
  ctest --progress --output-on-failure -j"$jobs" "$@"
else
  ctest --output-on-failure -j"$jobs" "$@" \
    | sed -E '/^ +Start +[0-9]+: /d; /^[0-9]+\/[0-9]+ Test +#[0-9]+: .* Passed +[0-9.]+ sec$/d'
fi
