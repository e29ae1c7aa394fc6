#!/usr/bin/env bash
# Builds into build/ and runs every test: unit and end-to-end.
# DEVBENCH_SANITIZE=1 builds into build-asan/ with AddressSanitizer and
# UndefinedBehaviorSanitizer instead.
#
#   scripts/test.sh [ctest options...]    e.g. -R operator to run only some tests
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
. scripts/announce.sh
announce_configure test.sh "$dir"
cmake -S . -B "$dir" -G Ninja "${flags[@]}" >/dev/null
quiet_ninja test.sh "$dir" -j"$jobs"
cd "$dir"
# One line per test only where there is no terminal to keep one line up to
# date; a failed test's output is shown either way.
ctest --progress --output-on-failure -j"$jobs" "$@"
