#!/bin/sh
# Usage: run-exe.sh PROGRAM.exe [ARGUMENT...]
# Runs a Windows program under Wine, from the directory that holds it, in a
# private Wine prefix that is removed afterwards. Exits with the program's
# status, or 77 after "skipped: wine not available" when Wine cannot run it.
set -u
exe=$1
[ -f "$exe" ] || { echo "no such program: $exe"; exit 1; }
shift
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh"
wine_start "$exe" || exit 77
cd "$(dirname "$exe")" || exit 1
# A hung program must not hold CI until its own time limit.
timeout --kill-after=10 900 wine "./$(basename "$exe")" "$@"
status=$?
wine_stop
exit $status
