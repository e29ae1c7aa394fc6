#!/usr/bin/env bash
# No function outside the tests is longer than 60 lines: clang-tidy's
# readability-function-size over every source the build compiles, but the
# tests, the fakes, the benchmarks and the fuzz targets.
#
#   scripts/function-size.sh [--dir DIR]     (default build/)
case ${1:-} in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$root/build
if [ "${1:-}" = --dir ] || [ "${1:-}" = --build-dir ]; then
  [ $# -ge 2 ] || { echo "function-size.sh: $1 needs a directory" >&2; exit 2; }
  dir=$(realpath -m "$2")
fi
command -v clang-tidy >/dev/null || { echo "function-size.sh: clang-tidy is missing (scripts/setup.sh installs it)" >&2; exit 2; }
[ -f "$dir/compile_commands.json" ] || cmake -S "$root" -B "$dir" -G Ninja >/dev/null

mapfile -t files < <(sed -n 's/^ *"file": "\(.*\)",\{0,1\}$/\1/p' "$dir/compile_commands.json" \
  | grep "^$root/" | grep -v -e "^$root/tests/" -e "/tests/" -e "^$root/fuzz/" | sort -u)
config='{CheckOptions: [{key: readability-function-size.LineThreshold, value: 60}]}'
report=$(clang-tidy -p "$dir" --quiet --checks='-*,readability-function-size' --config="$config" "${files[@]}" 2>/dev/null \
  | grep -E 'readability-function-size|lines including' || true)
if [ -n "$report" ]; then
  echo "$report"
  echo "function-size: functions over 60 lines (above)"
  exit 1
fi
echo "function-size: no function over 60 lines in ${#files[@]} sources"
