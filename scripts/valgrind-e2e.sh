#!/usr/bin/env bash
# Runs devbench under valgrind's memcheck against the virtual printer, with
# vpoperator answering the prompts, for tests that cover the dialogue, the
# open tests, the locking test (holdprobe and its copy are traced too), a
# timed write, the firmware reply, reset, online status and parsed status.
# Exits non-zero when a test fails or memcheck reports anything: an error, a
# leak, a read of uninitialised memory.
#
#   scripts/valgrind-e2e.sh [--dir DIR] [--tests N,N,...]
case ${1:-} in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$root/build
tests=0,1,2,3,6,8,10,12
while [ $# -gt 0 ]; do
  case $1 in
    --dir | --build-dir) [ $# -ge 2 ] || { echo "valgrind-e2e.sh: $1 needs a directory" >&2; exit 2; }; dir=$(realpath -m "$2"); shift 2 ;;
    --tests) tests=$2; shift 2 ;;
    *) echo "usage: valgrind-e2e.sh [--dir DIR] [--tests N,N,...]" >&2; exit 2 ;;
  esac
done
if ! command -v valgrind >/dev/null; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "valgrind-e2e.sh: installing valgrind ..." >&2
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq valgrind >/dev/null
fi
if grep -q 'DEVBENCH_SANITIZE:BOOL=ON' "$dir/CMakeCache.txt" 2>/dev/null; then
  echo "valgrind-e2e.sh: $dir is a sanitizer build; valgrind needs a plain one" >&2
  exit 2
fi
. "$root/scripts/announce.sh"
announce_configure valgrind-e2e.sh "$dir"
[ -f "$dir/build.ninja" ] || cmake -S "$root" -B "$dir" -G Ninja >/dev/null
quiet_ninja valgrind-e2e.sh "$dir" -j"$(nproc)" devbench holdprobe kelmorport_standin vprinter vpoperator

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/logs"
# vpoperator starts this in place of devbench. Quiet memcheck writes a log
# only when it has something to report, one per process.
# devbench starts "holdprobe" from its directory without a search, but a
# traced child's program name without a slash is looked up in PATH by
# valgrind; the build directory on PATH makes both find the same file.
cat >"$work/devbench" <<WRAPPER
#!/bin/sh
PATH="$dir:\$PATH" exec valgrind --quiet --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect,possible \
  --trace-children=yes --log-file="$work/logs/%p.log" "$dir/devbench" "\$@"
WRAPPER
chmod +x "$work/devbench"

status=0
start=$(date +%s)
"$dir/vpoperator" --dir "$dir" --devbench "$work/devbench" --tests "$tests" --timeout 60 || status=$?
echo "valgrind-e2e: tests $tests ran in $(($(date +%s) - start)) s under memcheck (vpoperator status $status)"
reports=0
for log in "$work"/logs/*.log; do
  [ -s "$log" ] || continue
  reports=$((reports + 1))
  echo "== memcheck report ($(basename "$log" .log))"
  cat "$log"
done
processes=$(find "$work/logs" -name '*.log' | wc -l)
echo "valgrind-e2e: $processes processes checked, $reports with a memcheck report"
[ "$reports" -eq 0 ] && [ "$status" -eq 0 ]
