#!/usr/bin/env bash
# Builds the programs a run needs into build/ (devbench, holdprobe, the
# stand-in library, vprinter, vpoperator; scripts/test.sh builds the tests) and
# runs all of devbench's tests against a virtual printer, with vpoperator
# playing the technician at every prompt.
#
#   scripts/run-virtual.sh [--dir DIR] [vpoperator options...]
#
# Extra options go to vpoperator (for example --verbose, or --tests 3,4 to
# run only those tests instead of all; build/vpoperator --help lists them all).
# Exits with vpoperator's status:
# 0 when every test passed, 1 when one failed, 2 on a usage or setup error.
case ${1:-} in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$root/build
if [ "${1:-}" = --dir ] || [ "${1:-}" = --build-dir ]; then
  [ $# -ge 2 ] || { echo "run-virtual.sh: $1 needs a directory" >&2; exit 2; }
  dir=$(realpath -m "$2")
  shift 2
fi
. "$root/scripts/announce.sh"
if [ ! -f "$dir/build.ninja" ]; then
  announce_configure run-virtual "$dir"
  cmake -S "$root" -B "$dir" -G Ninja >/dev/null
fi
# Only what the run starts: the tests and benchmarks would double the first build.
quiet_ninja run-virtual "$dir" -j"$(nproc)" devbench holdprobe kelmorport_standin vprinter vpoperator
shown=${dir#"$PWD"/}
status=0
"$dir/vpoperator" --tests a "$@" || status=$?
# A usage or setup error has said what to do instead.
[ "$status" -ge 2 ] || cat <<EOF

Next: run a test by hand against the virtual printer (README.md, "By hand");
keep a record of a run: $shown/vpoperator --record run.json
and make its report:   $shown/vpoperator report run.json --html report.html
EOF
exit "$status"
