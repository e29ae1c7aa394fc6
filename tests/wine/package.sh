#!/usr/bin/env bash
# A package of scripts/package-windows.sh --with-stand-in, as a technician
# uses it: unpacked into a folder whose name is outside the ANSI code page,
# started through devbench.cmd from another folder, against a virtual printer
# running natively on Linux. Test Open Port, Test Bad Port Name, Test Port
# Locking (64-bit devbench, 32-bit probe), Test Write and Test Read must pass,
# and record.cmd must record a run of Test Port Locking and Test Read, naming
# both DLLs and the calling convention (OUT_DIR's name); report.cmd must make
# its sign-off page.
#   package.sh VPRINTER OUT_DIR
# OUT_DIR is package-windows.sh's --out: it holds devbench-windows-CALLCONV/
# and, when zip was there, its .zip, which is then what gets unpacked.
# Exits 77 when Wine cannot run the programs.
set -u

vprinter=$1
out=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)

work=$(mktemp -d "${TMPDIR:-/tmp}/devbench-wine-package.XXXXXX")
# Cyrillic and CJK: no single ANSI code page holds both.
folder="$work/Ж日"
mkdir "$folder"
name=$(cd "$out" && ls -d devbench-windows-cdecl devbench-windows-stdcall 2>/dev/null | head -1)
[ -n "$name" ] || { echo "FAIL: no devbench-windows-cdecl/ or -stdcall/ in $out"; rm -rf "$work"; exit 1; }
if [ -f "$out/$name.zip" ] && command -v unzip >/dev/null; then
    unzip -q "$out/$name.zip" -d "$folder"
else
    cp -R "$out/$name" "$folder/"
fi
package=$folder/$name

for file in devbench.cmd record.cmd report.cmd README.txt x64/devbench.exe x64/devbench-extended.exe \
    x64/vpoperator.exe x64/KelmorPort.dll x86/holdprobe.exe x86/KelmorPort.dll x86/calling-convention.txt; do
    [ -f "$package/$file" ] || { echo "FAIL: the package has no $file"; rm -rf "$work"; exit 1; }
done

. "$here/wine-env.sh"
. "$here/printer.sh"
wine_start "$package/x64/devbench.exe" "$package/x86/holdprobe.exe" || { rm -rf "$work"; exit 77; }
cleanup() {
    printer_stop
    wine_stop
    rm -rf "$work"
}
trap cleanup EXIT
printer_start "$vprinter" "$work" || exit 1

# An empty line answers a prompt.
log=$work/devbench.out
printf '%s\n' "$endpoint" "" 0 1 2 3 "" 6 "" e \
    | (cd "$work" && timeout --kill-after=10 300 wine cmd.exe /c "Ж日\\$name\\devbench.cmd") 2>&1 \
    | tr -d '\r' >"$log"
status=${PIPESTATUS[1]}

failures=0
fail() {
    echo "FAIL: $1"
    failures=$((failures + 1))
}
[ "$status" -eq 0 ] || fail "devbench.cmd ended with status $status"
for banner in testOpenPort testBadPortName testPortLocking testWrite testRead; do
    grep -qx "$banner" "$log" || fail "no $banner banner"
done
! grep -q failure "$log" || fail "a failure was reported"
[ $failures -eq 0 ] || { echo "--- output"; cat "$log"; }

# record.cmd: the technician's recorded run, from the same folder; one Enter
# answers Test Read's prompt.
record=$work/record.out
printf '\n' | (cd "$work" && timeout --kill-after=10 300 wine cmd.exe /c \
    "Ж日\\$name\\record.cmd --port $endpoint --tests 2,6 --record run.json") 2>&1 \
    | tr -d '\r' >"$record"
status=${PIPESTATUS[1]}
[ "$status" -eq 0 ] || fail "record.cmd ended with status $status"
python3 "$here/../e2e/check_record.py" --json "$work/run.json" --library "$package/x64/KelmorPort.dll" \
    --probe-library "$package/x86/KelmorPort.dll" --calling-convention "$(basename "$out")" \
    --mode manual --verdicts 2:pass,6:pass >>"$record" 2>&1 || fail "record.cmd's record is not as expected"
grep -q "^vpoperator: record written to .*run.json$" "$record" || fail "record.cmd did not say where the record is"
[ $failures -eq 0 ] || { echo "--- record.cmd"; cat "$record"; }

# The package says which convention it is for, in its name and first line.
head -1 "$package/README.txt" | grep -q "(${name#devbench-windows-})" || fail "README.txt's first line does not name the convention"

# record.cmd double-clicked asks for the port and waits for a key before its
# window closes. Wine's set /p takes all of piped input at once, unlike a
# console, so only the refusal of an empty answer is run here.
asked=$work/record-asked.out
printf '\n' | (cd "$work" && timeout --kill-after=10 120 wine cmd.exe /c "Ж日\\$name\\record.cmd") 2>&1 \
    | tr -d '\r' >"$asked"
status=${PIPESTATUS[1]}
[ "$status" -eq 2 ] || fail "record.cmd with no port name ended with status $status"
grep -q '^Port name' "$asked" || fail "record.cmd with no arguments did not ask for the port"
grep -q 'Press any key' "$asked" || fail "record.cmd with no arguments did not wait for a key"
[ $failures -eq 0 ] || { echo "--- record.cmd with no arguments"; cat "$asked"; }

# report.cmd: the sign-off page of that run, beside its record, numbered; --no-open, as
# no browser is to start here.
report=$work/report.out
(cd "$work" && timeout --kill-after=10 120 wine cmd.exe /c "Ж日\\$name\\report.cmd --no-open") </dev/null \
    2>&1 | tr -d '\r' >"$report"
status=${PIPESTATUS[0]}
[ "$status" -eq 0 ] || fail "report.cmd ended with status $status"
page=$work/report-1.html
# Tests 2 and 6 of the 21: a pass, marked partial.
grep -q '<h1>devbench sign-off <span class="verdict pass">pass</span><span class="mark partial">partial: 2 of 21</span></h1>' "$page" 2>/dev/null \
    || fail "report.cmd made no page of a passed run"
grep -q 'library (holdprobe, 32-bit)' "$page" 2>/dev/null || fail "the page does not name holdprobe's DLL"
grep -q 'id="test-6"' "$page" 2>/dev/null || fail "the page has no row for Test Read"
# A second page is numbered, never the first overwritten.
(cd "$work" && timeout --kill-after=10 120 wine cmd.exe /c "Ж日\\$name\\report.cmd --no-open") </dev/null >/dev/null 2>&1
[ -f "$work/report-2.html" ] || fail "report.cmd's second page is not report-2.html"
[ $failures -eq 0 ] || { echo "--- report.cmd"; cat "$report"; }

echo "wine package $(basename "$out"): $failures failed"
[ $failures -eq 0 ]
