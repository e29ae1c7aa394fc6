#!/usr/bin/env bash
# The Windows programs against a virtual printer running natively on Linux:
# devbench.exe under Wine reaches the printer over loopback TCP and runs Test
# Open Port, Test Bad Port Name, Test Write, Test Read and Test Port Locking,
# the last through holdprobe.exe started with CreateProcess and its copy
# refused with GetLastError() = 183; vpoperator.exe runs a manual run and
# records it.
#   e2e.sh VPRINTER BIN_DIR [PROBE_DIR [OTHER_DLL]]
# BIN_DIR holds devbench.exe and its KelmorPort.dll. PROBE_DIR (default
# BIN_DIR) holds the holdprobe.exe to use, beside its own KelmorPort.dll, and
# is devbench's current directory: a 32-bit probe works with a 64-bit
# devbench that way. With a 32-bit probe, Test Port Locking's hint is checked
# for a probe without its DLL, with the 64-bit one, and with OTHER_DLL, a
# 32-bit KelmorPort.dll of the other calling convention, when given.
# Exits 77 when Wine cannot run the programs.
set -u

vprinter=$1
bin=$(cd "$2" && pwd)
probe_dir=$(cd "${3:-$2}" && pwd)
other_dll=${4:-}
here=$(cd "$(dirname "$0")" && pwd)

for file in "$vprinter" "$bin/devbench.exe" "$bin/vpoperator.exe" "$bin/KelmorPort.dll" "$probe_dir/holdprobe.exe" "$probe_dir/KelmorPort.dll"; do
    [ -f "$file" ] || { echo "FAIL: missing $file"; exit 1; }
done

. "$here/wine-env.sh"
wine_start "$bin/devbench.exe" "$probe_dir/holdprobe.exe" || exit 77

work=$(mktemp -d "${TMPDIR:-/tmp}/devbench-wine-e2e.XXXXXX")
. "$here/printer.sh"
cleanup() {
    printer_stop
    wine_stop
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
out=
fail() {
    echo "FAIL ($1): $2"
    echo "--- output"
    cat "$out"
    failures=$((failures + 1))
}

printer_start "$vprinter" "$work" || exit 1

# run_devbench CASE CWD SETTINGS CHOICE... : answers the dialogue, runs each
# choice, leaves; the output goes to CASE.out without carriage returns.
run_devbench() {
    out=$work/$1.out
    local cwd=$2 settings=$3
    shift 3
    local input
    input=$(printf '%s\n%s\n' "$endpoint" "$settings"; printf '%s\n' "$@" e)
    (cd "$cwd" && printf '%s\n' "$input" | timeout --kill-after=10 300 wine "$bin/${program:-devbench.exe}") 2>&1 \
        | tr -d '\r' >"$out"
    local status=${PIPESTATUS[0]}
    [ "$status" -eq 0 ] || echo "devbench ended with status $status" >>"$out"
    return "$status"
}

# The lines that follow a test's banner, up to the next blank line.
after_banner() { sed -n "/^$1\$/,/^\$/p" "$out" | sed '1d;/^$/d'; }

suite_line='^failure: line\([0-9]+\) holdprobe did not return EXIT_SUCESS$'
probe_line='^failure - [0-9]+$'

# The tests that need no change of the printer pass against a healthy printer
# and library. An empty line answers a prompt.
if run_devbench passes "$probe_dir" "" 0 1 2 3 '' 6 ''; then
    for banner in testOpenPort testBadPortName testPortLocking testWrite testRead; do
        grep -qx "$banner" "$out" || fail passes "no $banner banner"
    done
    ! grep -q failure "$out" || fail passes "a failure was reported"
else
    fail passes "devbench did not run to the end"
fi

# devbench-extended.exe where it is built beside it: holdprobe's copy started
# from the temporary folder (the second name skipped), the refusals' handles
# counted by the system, the firmware reply read a byte at a time.
if [ ! -f "$bin/devbench-extended.exe" ]; then
    :
elif program=devbench-extended.exe run_devbench extended "$probe_dir" "" 0 '' '' 4 '' 12 ''; then
    for banner in testLockOtherNames testRefusalHandles testReadPieces; do
        grep -qx "$banner" "$out" || fail extended "no $banner banner"
    done
    ! grep -q failure "$out" || fail extended "a failure was reported"
else
    fail extended "devbench-extended did not run to the end"
fi

# A library that lets the copy in too: the probe and then the suite report it.
if run_devbench no_exclusive "$probe_dir" "fault=no-exclusive" 2; then
    mapfile -t lines < <(after_banner testPortLocking)
    [[ ${lines[0]:-} =~ $probe_line ]] || fail no_exclusive "the probe's own line is missing"
    [[ ${lines[1]:-} =~ $suite_line ]] || fail no_exclusive "the suite's failure line does not follow the probe's"
else
    fail no_exclusive "devbench did not run to the end"
fi

# A copy that crashes proves nothing: the probe fails. The runtime may print
# its own message for the abort in between.
if run_devbench crash_held "$probe_dir" "fault=crash-held" 2; then
    mapfile -t lines < <(after_banner testPortLocking | grep '^failure')
    [[ ${lines[0]:-} =~ $probe_line ]] || fail crash_held "the probe passed a copy that crashed"
    [[ ${lines[1]:-} =~ $suite_line ]] || fail crash_held "the suite's failure line does not follow the probe's"
else
    fail crash_held "devbench did not run to the end"
fi

# holdprobe.exe is taken from the current directory only, never searched for.
mkdir "$work/elsewhere"
if run_devbench probe_missing "$work/elsewhere" "" 2; then
    mapfile -t lines < <(after_banner testPortLocking)
    [[ ${lines[0]:-} =~ $suite_line ]] || fail probe_missing "no failure line without the probe"
else
    fail probe_missing "devbench did not run to the end"
fi

# A probe that cannot run says why in one hint line after the failure line:
# no DLL beside it, a DLL of the other width, one of the other convention.
# The loader or the crash may print its own lines in between.
probe_hint() { # CASE DLL HINT
    mkdir "$work/$1"
    cp "$probe_dir/holdprobe.exe" "$work/$1/"
    [ -z "$2" ] || cp "$2" "$work/$1/KelmorPort.dll"
    if run_devbench "$1" "$work/$1" "" 2; then
        mapfile -t lines < <(after_banner testPortLocking | grep -E -A1 "$suite_line")
        [[ ${lines[0]:-} =~ $suite_line ]] || fail "$1" "no failure line"
        [[ ${lines[1]:-} == "hint: holdprobe.exe $3"* ]] || fail "$1" "no hint that holdprobe.exe $3"
    else
        fail "$1" "devbench did not run to the end"
    fi
}
if [ "$probe_dir" != "$bin" ]; then
    probe_hint probe_without_dll "" "could not load"
    probe_hint probe_with_64bit_dll "$bin/KelmorPort.dll" "could not load"
    [ -z "$other_dll" ] || probe_hint probe_other_convention "$other_dll" "crashed"
fi

# The operator's run by hand, the technician's Enter keys piped in: it passes
# them to devbench.exe over pipes of its own, and its record names the
# library devbench.exe loads, with that file's hash and version.
if [ "$probe_dir" = "$bin" ]; then
    out=$work/manual.out
    (cd "$bin" && printf '\n\n\n\n\n' | timeout --kill-after=10 300 wine ./vpoperator.exe --manual --port "$endpoint" \
        --tests 0,2,6 --record "Z:$work/manual.json" --junit "Z:$work/manual.xml") 2>&1 | tr -d '\r' >"$out"
    if [ "${PIPESTATUS[0]}" -eq 0 ]; then
        python3 "$here/../e2e/check_record.py" --json "$work/manual.json" --junit "$work/manual.xml" \
            --library "$bin/KelmorPort.dll" --file-version 1.0.0.0 --mode manual --verdicts 0:pass,2:pass,6:pass \
            --firmware "'VPRINTER-1.0'" >>"$out" || fail manual "the records are not as expected"
    else
        fail manual "vpoperator.exe --manual did not pass"
    fi
fi

# The library's last error after a refused open, from each build at hand.
for dir in "$bin" "$probe_dir"; do
    [ -f "$dir/lasterror_check.exe" ] || continue
    out=$work/lasterror.out
    timeout --kill-after=10 120 wine "$dir/lasterror_check.exe" "$endpoint" 2>&1 | tr -d '\r' >"$out"
    [ "${PIPESTATUS[0]}" -eq 0 ] || fail last_error "$dir/lasterror_check.exe"
    [ "$probe_dir" = "$bin" ] && break
done

echo "wine e2e ($(basename "$probe_dir")/holdprobe.exe): $failures failed"
[ $failures -eq 0 ]
