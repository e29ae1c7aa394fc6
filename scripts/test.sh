#!/usr/bin/env bash
# Builds into build/ and runs every test: unit and end-to-end.
# DEVBENCH_SANITIZE=1 builds into build-asan/ with AddressSanitizer and
# UndefinedBehaviorSanitizer instead.
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
ninja -C "$dir" -j"$jobs"
cd "$dir"
ctest --output-on-failure -j"$jobs" "$@"
