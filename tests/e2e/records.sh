#!/usr/bin/env bash
# The operator's records and progress, end to end.
#   records.sh CHECK BUILD_DIR
# json    a run against the virtual printer: the JSON record read back, its
#         library hash against sha256sum; a record path that cannot be
#         written is refused before anything runs
# bytes   a suite printing bytes no record may choke on, then hanging: both
#         files still written, read back by real parsers, and consistent; the
#         test after the hung one listed as not run; a printer whose paper
#         cannot be read fails the test whose paper is checked
# manual  --manual with piped Enter keys against a virtual printer that
#         nobody changes: every prompt takes one Enter, the test that needs
#         the printer offline fails; each test's row comes before the menu;
#         a library replaced while devbench waits is said so, named by the
#         hash of the one it loaded; a port with no printer fails Test Open
#         Port and the technician, asked (with no time limit), stops before
#         the other tests, or goes on; input that ends at the question ends
#         the run
# live    a test's row shows while the next test still runs
# ending  devbench dying after a test's output, before the menu asks again:
#         that test broke off, with the status, the next one not run;
#         devbench leaving as asked with status 3 and a failure line between
#         tests: the run broke off though its test passed; a run that cannot
#         start lists its tests as not run; a record that cannot be written
#         at the end is exit status 2
# paper   a library that drops bytes yet reports them written: devbench passes
#         Test Write, the operator's finding fails it on its row, apart from
#         the failure lines, in the exit status and both records; the jobs
#         on the paper are what sha256 says of the bytes that arrived
# edges   standard input, output and error closed: the run still passes; one file
#         named twice (by path, by hard link), an empty path, a FIFO
#         nobody reads and a link another user planted are refused before
#         the run (and by the report); a killed operator takes
#         its printer with it and keeps the previous record, and the next
#         start removes the folder it left but not a living operator's (one
#         whose note names a PID of another namespace), nor one with a FIFO
#         or a file a run does not make, nor a file its note names, and the
#         record's temporary file a kill left
# stderr  a library writing on standard error in the middle of a line of
#         devbench's output, in a run by hand: the record keeps it by its
#         test apart from the console, devbench's answer beside the failure
#         line, the words before any test apart; the terminal shows both
#         lines whole; ten runs of the stand-in's refusal, each under its test
# library a library reached through a link, and one preloaded over it: the
#         record names and hashes the file whose code ran
# flood   a test printing megabytes: the record keeps its first MiB and its
#         first failure lines, counts the rest (the table says so too), and
#         the verdict is a fail; its standard error is kept apart, bounded
#         the same way
# hostile records made to cost the report gigabytes (20 M empty failure
#         lines, an unknown field of 21 M objects, a field named twice): each
#         refused by name, exit status 2, within a second and a few MB, as a
#         record and as --baseline
set -u
check=$1
build=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
fakes=$(cd "$here/../../operator/tests" && pwd)
work=$(mktemp -d)
printer=
operator=
cleanup() {
    for pid in $operator $printer; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "records ($check): $*"
    for file in "$work"/*.out; do [ -f "$file" ] && { echo "--- $file"; cat "$file"; }; done
    exit 1
}
# Each record read back by real parsers, and by the report, which must read
# whatever the run wrote.
records() {
    python3 "$here/check_record.py" "$@" || fail "the records are not as expected"
    "$build/vpoperator" report "$2" --markdown "$work/report.md" >"$work/report.out" 2>&1 ||
        fail "vpoperator report cannot read $2: $(cat "$work/report.out")"
}
fake() { "$build/vpoperator" --dir "$build" "$@"; }

start_printer() {
    "$build/vprinter" serve "$work/printer.sock" --no-console >"$work/vprinter.out" 2>&1 &
    printer=$!
    for _ in $(seq 200); do
        grep -q '^listening on ' "$work/vprinter.out" && return 0
        sleep 0.05
    done
    fail "the virtual printer did not start"
}

case $check in
json)
    "$build/vpoperator" --dir "$build" --tests 0,6 --record "$work/run.json" --junit "$work/run.xml" \
        --bench bench.3 >"$work/run.out" 2>&1 ||
        fail "the run failed"
    records --json "$work/run.json" --junit "$work/run.xml" --library "$build/libKelmorPort.so" --mode virtual \
        --verdicts 0:pass,6:pass --firmware "'VPRINTER-1.0'" --verdict pass --bench bench.3
    grep -q '^## devbench sign-off: pass (partial: 2 of the 21 tests ran)$' "$work/report.md" ||
        fail "the report of 2 tests is not marked partial"
    status=0
    "$build/vpoperator" --dir "$build" --tests 0 --record "$work/missing/run.json" >"$work/unwritable.out" 2>&1 ||
        status=$?
    [ "$status" = 2 ] && grep -q "cannot write $work/missing/run.json" "$work/unwritable.out" ||
        fail "an unwritable record gave status $status"
    grep -q "Test Open Port" "$work/unwritable.out" && fail "the run went ahead without its record"
    ;;
bytes)
    status=0
    fake --timeout 1 --tests 0,6,3,4 --devbench "$fakes/fake_devbench_hostile.sh" \
        --record "$work/run.json" --junit "$work/run.xml" >"$work/run.out" 2>&1 || status=$?
    [ "$status" = 1 ] || fail "status $status, expected 1"
    records --json "$work/run.json" --junit "$work/run.xml" --verdicts "0:fail,6:fail,3:broke off,4:not run" \
        --firmware "'A\\x01\\ufffd<&\\r]]>'" --broke-off --verdict "broke off" \
        --not-run-why "not run: the run broke off before it started"
    grep -Eq '^  6: operator: cannot read the paper: ' "$work/run.out" || fail "Test Read's unread paper is no finding"
    ;;
manual)
    start_printer
    status=0
    printf '\n\n\n' | "$build/vpoperator" --manual --port "$work/printer.sock" --dir "$build" --tests 6,10 \
        --record "$work/run.json" >"$work/run.out" 2>&1 || status=$?
    [ "$status" = 1 ] || fail "status $status, expected 1 (test 10 fails: nobody takes the printer offline)"
    grep -q '^device firmware name: 1b$' "$work/run.out" || fail "devbench's output was not passed on"
    [ "$(grep -A1 '^vpoperator: [0-9]' "$work/run.out" | grep -c '^Available tests:$')" = 2 ] ||
        fail "a test's row does not come right where its output ends, before the menu"
    records --json "$work/run.json" --mode manual --verdicts 6:pass,10:fail --firmware "'VPRINTER-1.0'"
    python3 -c 'import json, sys; sys.exit("onlineStatus != VX_FALSE" not in json.load(open(sys.argv[1]))["tests"][1]["failure_lines"][0])' \
        "$work/run.json" || fail "test 10 failed for another reason"
    mkdir "$work/bench" && cp "$build/devbench" "$build/libKelmorPort.so" "$work/bench/"
    loaded=$(sha256sum "$work/bench/libKelmorPort.so" | cut -d' ' -f1)
    {
        sleep 1
        cp "$work/bench/libKelmorPort.so" "$work/rebuilt.so" && printf 'x' >>"$work/rebuilt.so"
        mv "$work/rebuilt.so" "$work/bench/libKelmorPort.so"
        printf '\n\n'
    } | "$build/vpoperator" --manual --port "$work/printer.sock" --dir "$work/bench" --tests 10 --timeout 0.5 \
        --record "$work/replaced.json" >"$work/replaced.out" 2>&1
    python3 - "$work/replaced.json" "$loaded" <<'EOF' || fail "the replaced library is not said so"
import json, sys
library = json.load(open(sys.argv[1]))["library"]
assert library["replaced_during_run"] and "replaced" in library["replaced_note"], library
assert library["sha256"] == sys.argv[2], library
EOF
    status=0
    { sleep 1; printf 'n\n'; } | "$build/vpoperator" --manual --port "$work/typo.sock" --dir "$build" --tests 0,3 \
        --timeout 0.5 --record "$work/typo.json" >"$work/typo.out" 2>&1 || status=$?
    [ "$status" = 1 ] || fail "status $status after a mistyped port, expected 1"
    grep -q 'Go on with the other tests? (y/n)' "$work/typo.out" || fail "the technician was not asked"
    grep -q 'Make the printer' "$work/typo.out" && fail "a prompt of the other tests came first"
    records --json "$work/typo.json" --verdicts "0:fail,3:not run" --verdict "broke off" \
        --broke-off "the technician chose not to go on after Test Open Port failed on port $work/typo.sock"
    status=0
    timeout 20 "$build/vpoperator" --manual --port "$work/typo.sock" --dir "$build" --tests 0,3 </dev/null \
        >"$work/ended.out" 2>&1 || status=$?
    [ "$status" = 1 ] && grep -q "input ended while asked whether to go on" "$work/ended.out" ||
        fail "status $status when the technician's input ended at the question"
    status=0
    printf 'y\n' | timeout 20 "$build/vpoperator" --manual --port "$work/typo.sock" --dir "$build" --tests 0,1 \
        --record "$work/goon.json" >"$work/goon.out" 2>&1 || status=$?
    [ "$status" = 1 ] || fail "status $status when told to go on, expected 1"
    records --json "$work/goon.json" --verdicts "0:fail,1:pass" --verdict fail
    ;;
live)
    export VPOP_RELEASE=$work/release
    fake --tests 0,1 --devbench "$fakes/fake_devbench_paused.sh" >"$work/run.out" 2>&1 &
    operator=$!
    for _ in $(seq 200); do
        grep -Eq '^ +0  Test Open Port +PASS' "$work/run.out" && break
        sleep 0.05
    done
    grep -Eq '^ +0  Test Open Port +PASS' "$work/run.out" || fail "no row for test 0 while test 1 runs"
    kill -0 "$operator" 2>/dev/null || fail "the run ended before test 1 was let go"
    grep -q 'passed' "$work/run.out" && fail "the summary came before the run ended"
    touch "$VPOP_RELEASE"
    wait "$operator" || fail "the run failed"
    grep -q '^2 of 2 passed' "$work/run.out" || fail "no summary at the end"
    [ "$(grep -Ec '^ +[01]  Test' "$work/run.out")" = 2 ] || fail "a row was shown twice or not at all"
    ;;
ending)
    status=0
    VPOP_END=crash fake --tests 0,1 --devbench "$fakes/fake_devbench_ending.sh" --record "$work/crash.json" \
        --junit "$work/crash.xml" >"$work/crash.out" 2>&1 || status=$?
    [ "$status" = 1 ] || fail "status $status after devbench crashed, expected 1"
    grep -Eq '^ +0  Test Open Port +BROKE OFF ' "$work/crash.out" || fail "the test devbench crashed after is not broken off"
    grep -q '^0 of 2 passed, total .* s: BROKE OFF (PARTIAL: 1 of the suite.s 21 tests ran)$' "$work/crash.out" || fail "the summary is not the run's verdict"
    records --json "$work/crash.json" --junit "$work/crash.xml" --verdicts "0:broke off,1:not run" \
        --broke-off "devbench ended in testOpenPort (0) (status 139)" --verdict "broke off" \
        --not-run-why "not run: the run broke off before it started"
    status=0
    VPOP_END=status fake --tests 0 --devbench "$fakes/fake_devbench_ending.sh" --record "$work/status.json" \
        --junit "$work/status.xml" >"$work/status.out" 2>&1 || status=$?
    [ "$status" = 1 ] || fail "status $status after devbench exited with 3, expected 1"
    records --json "$work/status.json" --junit "$work/status.xml" --verdicts "0:pass" \
        --broke-off "devbench exited with status 3" --verdict "broke off"
    status=0
    "$build/vpoperator" --dir "$work" --devbench "$build/devbench" --tests 0,1 --record "$work/setup.json" \
        --junit "$work/setup.xml" >"$work/setup.out" 2>&1 || status=$?
    [ "$status" = 2 ] || fail "status $status without a printer program, expected 2"
    records --json "$work/setup.json" --junit "$work/setup.xml" --verdicts "0:not run,1:not run" --broke-off \
        --verdict "broke off" --not-run-why "not run: the run could not start: BROKE_OFF"
    status=0
    fake --tests 0 --devbench "$fakes/fake_devbench_failing.sh" --record /dev/full >"$work/full.out" 2>&1 ||
        status=$?
    [ "$status" = 2 ] && grep -q "cannot write /dev/full" "$work/full.out" || fail "a lost record gave status $status"
    ;;
paper)
    status=0
    "$build/vpoperator" --dir "$build" --tests 3,6 --settings fault=drop-after:4096 --record "$work/run.json" \
        --junit "$work/run.xml" >"$work/run.out" 2>&1 || status=$?
    [ "$status" = 1 ] || fail "status $status, expected 1 (Test Write's paper is short)"
    grep -Eq '^ +3  Test Write +FAIL .* s  operator: paper digest differs$' "$work/run.out" ||
        fail "Test Write's row does not show the finding"
    grep -q '^failure lines:' "$work/run.out" && fail "the finding was shown as one of devbench's failure lines"
    grep -q '^  3: operator: paper digest differs: job 1 (4096 bytes' "$work/run.out" || fail "the finding is not listed"
    records --json "$work/run.json" --junit "$work/run.xml" --verdicts 3:fail,6:pass --firmware "'VPRINTER-1.0'"
    python3 - "$work/run.json" "$work/run.xml" <<'EOF' || fail "the paper in the records is not as expected"
import hashlib, json, sys, xml.etree.ElementTree as ElementTree
write, read = json.load(open(sys.argv[1]))["tests"]
bulk = bytearray(10240)
bulk[::1024] = b"\x07" * 10
jobs = lambda test: [(job["size"], job["sha256"]) for job in test["paper_jobs"]]
sha = lambda data: hashlib.sha256(data).hexdigest()
assert write["failure_lines"] == [] and write["paper_checked"], write
assert [f.split(": ")[1] for f in write["operator_findings"]] == ["paper digest differs"], write
assert jobs(write) == [(4096, sha(bulk[:4096]))], write
assert read["operator_findings"] == [] and read["paper_checked"], read
assert jobs(read) == [(5, sha(b"\x1b\x23\x2a\x0a\x00"))], read
failure = ElementTree.parse(sys.argv[2]).getroot().find("testcase/failure")
assert failure.get("type") == "operator finding", failure.attrib
EOF
    ;;
edges)
    status=0
    # A row printed into the operator's own signal pipe stopped the run.
    "$build/vpoperator" --dir "$build" --tests 0,1 --record "$work/closed.json" <&- >&- 2>&- || status=$?
    [ "$status" = 0 ] || fail "status $status with standard input, output and error closed, expected 0"
    records --json "$work/closed.json" --verdicts 0:pass,1:pass --verdict pass
    touch "$work/one.json" && ln "$work/one.json" "$work/link.json" && mkfifo "$work/fifo"
    for files in "$work/run.json ./$(basename "$work")/../$(basename "$work")/run.json" \
        "$work/one.json $work/link.json"; do
        set -- $files
        status=0
        (cd "$work/.." && fake --tests 0 --devbench "$fakes/fake_devbench_failing.sh" --record "$1" --junit "$2" \
            >"$work/same.out" 2>&1) || status=$?
        [ "$status" = 2 ] && grep -q 'name the same file' "$work/same.out" || fail "$1 and $2 gave status $status"
    done
    for path in '' "$work/fifo"; do
        status=0
        timeout 20 "$build/vpoperator" --dir "$build" --tests 0 \
            --devbench "$fakes/fake_devbench_failing.sh" --record "$path" >"$work/path.out" 2>&1 || status=$?
        [ "$status" = 2 ] && grep -Eq 'empty path|nothing reads' "$work/path.out" ||
            fail "--record '$path' gave status $status"
        grep -q "Test Open Port" "$work/path.out" && fail "the run went ahead without its record '$path'"
    done
    # A link another user planted at the name in a shared folder leads where
    # they chose: refused, not written through, by the run and the report.
    if [ "$(id -u)" = 0 ]; then
        mkdir -m 1777 "$work/shared" && echo precious >"$work/precious"
        ln -s "$work/precious" "$work/shared/out" && chown -h 65534 "$work/shared/out"
        status=0
        fake --tests 0 --devbench "$fakes/fake_devbench_failing.sh" --record "$work/shared/out" >"$work/link.out" 2>&1 ||
            status=$?
        "$build/vpoperator" report "$work/closed.json" --html "$work/shared/out" >>"$work/link.out" 2>&1 &&
            status=0
        [ "$status" = 2 ] && [ "$(grep -c 'is a link that .*uid 65534) made' "$work/link.out")" = 2 ] &&
            [ "$(cat "$work/precious")" = precious ] || fail "a link another user planted was written through"
    fi
    export TMPDIR=$work/tmp
    mkdir -p "$TMPDIR/vpoperator-Living" "$TMPDIR/vpoperator-NoNote" \
        "$TMPDIR/vpoperator-AFifo1" "$TMPDIR/vpoperator-More01" "$TMPDIR/vpoperator-Fresh1"
    # A run alive in another PID namespace: its note names a process nobody
    # has here, and its lock on the note says it lives.
    echo 999999 >"$TMPDIR/vpoperator-Living/owner"
    exec 8>>"$TMPDIR/vpoperator-Living/owner"
    flock 8
    mkfifo "$TMPDIR/vpoperator-AFifo1/owner"
    # A run that has made its owner file and not yet locked it or noted itself.
    touch "$TMPDIR/vpoperator-Fresh1/owner"
    touch "$TMPDIR/vpoperator-More01/"{owner,printer.sock,notes.txt}
    echo '{"kept": true}' >"$work/kept.json"
    "$build/vpoperator" --dir "$build" --tests 0 --devbench "$fakes/fake_devbench_silent.sh" --timeout 60 \
        --record "$work/kept.json" >"$work/killed.out" 2>&1 &
    operator=$!
    # The run's own folder is named as the others are, and alone holds a socket.
    left=
    for _ in $(seq 200); do
        for folder in "$TMPDIR"/vpoperator-??????; do [ -S "$folder/printer.sock" ] && left=$folder; done
        [ -n "$left" ] && break
        sleep 0.05
    done
    [ -n "$left" ] || fail "no folder for the printer's socket"
    kill -KILL "$operator" && wait "$operator" 2>/dev/null
    operator=
    for _ in $(seq 100); do pgrep -f "$left" >/dev/null || break; sleep 0.05; done
    pgrep -f "$left" >/dev/null && fail "the printer outlived its killed operator"
    grep -q kept "$work/kept.json" || fail "the killed run did not keep the previous record"
    [ -d "$left" ] || fail "nothing was left to clean (a weaker test than meant)"
    # A note that names a file is no reason to remove it; what a kill left
    # beside the record goes, unless it is not that record's or still held.
    echo kept >"$work/named-in-a-note"
    echo "$work/named-in-a-note" >>"$left/owner"
    touch "$work/.kept.json.Kill3d" "$work/.kept.json.toolong1" "$work/.other.json.Kill3d"
    exec 9>"$work/.kept.json.Held0n"
    flock 9
    timeout 30 "$build/vpoperator" --dir "$build" --tests 0 --record "$work/kept.json" >"$work/next.out" 2>&1 ||
        fail "the next run failed"
    exec 9>&- 8>&-
    [ -d "$left" ] && fail "the next start left the killed run's folder $left"
    [ -f "$TMPDIR/vpoperator-Living/owner" ] && [ -d "$TMPDIR/vpoperator-NoNote" ] &&
        [ -p "$TMPDIR/vpoperator-AFifo1/owner" ] && [ "$(ls "$TMPDIR/vpoperator-More01" | wc -l)" = 3 ] &&
        [ -f "$TMPDIR/vpoperator-Fresh1/owner" ] ||
        fail "the next start removed a folder, or files of one, that was not a killed run's"
    grep -q "^vpoperator: left $TMPDIR/vpoperator-More01 alone: it holds notes.txt" "$work/next.out" ||
        fail "no note of the folder left alone"
    [ -f "$work/named-in-a-note" ] || fail "the next start removed a file a note named"
    [ -e "$work/.kept.json.Kill3d" ] && fail "the next start left the killed run's temporary record"
    [ -f "$work/.kept.json.toolong1" ] && [ -f "$work/.other.json.Kill3d" ] && [ -f "$work/.kept.json.Held0n" ] ||
        fail "the next start removed a file that was not a killed run's temporary record"
    ;;
stderr)
    start_printer
    status=0
    printf '\n' | "$build/vpoperator" --manual --port "$work/printer.sock" --dir "$build" --tests 0 \
        --devbench "$fakes/fake_devbench_stderr.sh" --record "$work/run.json" --junit "$work/run.xml" \
        >"$work/run.out" 2>&1 || status=$?
    [ "$status" = 1 ] || fail "status $status, expected 1"
    grep -qx "opening the port" "$work/run.out" && grep -qx "KelmorPort: bad setting 'x'" "$work/run.out" ||
        fail "a line was split by the other"
    records --json "$work/run.json" --junit "$work/run.xml" --verdicts 0:fail --verdict fail
    grep -qx '  0:   answer(open-port): NULL, last error 87' "$work/run.out" || fail "the table has no answer line"
    python3 - "$work/run.json" "$work/run.xml" <<'EOF' || fail "standard error is not kept apart"
import json, sys
import xml.etree.ElementTree as ElementTree
record = json.load(open(sys.argv[1]))
test = record["tests"][0]
assert test["stderr"] == "KelmorPort: bad setting 'x'\n" and test["stderr_bytes_dropped"] == 0, test
assert "bad setting" not in test["console"] and "opening the port\n" in test["console"], test["console"]
assert test["failure_answers"] == [{"check": "open-port", "answer": "NULL, last error 87"}], test["failure_answers"]
assert record["stderr_outside_tests"] == "KelmorPort: library loaded\n", record["stderr_outside_tests"]
err = ElementTree.parse(sys.argv[2]).getroot().find("testcase/system-err").text
assert err.startswith("failure: line(17) OpenPortA return NULL\n  answer(open-port): NULL, last error 87\n"), err
EOF
    # The stand-in's words on a bad setting, under the test they came in,
    # however the two pipes are read: ten runs, each in its test.
    for run in $(seq 10); do
        "$build/vpoperator" --dir "$build" --tests 0,0 --settings fault=bogus --record "$work/bogus$run.json" \
            >"$work/bogus.out" 2>&1
        python3 - "$work/bogus$run.json" <<'EOF' || fail "run $run: the library's words are not under their test"
import json, sys
record = json.load(open(sys.argv[1]))
for test in record["tests"]:
    assert "port settings 'fault=bogus' refused" in test["stderr"], test
assert "refused" not in record["stderr_outside_tests"], record["stderr_outside_tests"]
EOF
    done
    ;;
flood)
    status=0
    fake --tests 0 --devbench "$fakes/fake_devbench_flood.sh" --record "$work/run.json" --junit "$work/run.xml" \
        >"$work/run.out" 2>&1 || status=$?
    [ "$status" = 1 ] || fail "status $status, expected 1 (the failure lines come after the flood)"
    records --json "$work/run.json" --junit "$work/run.xml" --verdicts 0:fail --verdict fail
    grep -q '^  0: (21 more failure lines not kept)$' "$work/run.out" || fail "the table hides the lines not kept"
    python3 - "$work/run.json" <<'EOF' || fail "the flood was not bounded as expected"
import json, sys
test = json.load(open(sys.argv[1]))["tests"][0]
printed = len("testOpenPort\n") + (3 << 20) + (100 << 10) + 1 + sum(
    len("failure: line(%d) after the flood\n" % n) for n in range(101, 222)) + 2
assert len(test["console"]) == 1 << 20, len(test["console"])
assert len(test["console"]) + test["console_bytes_dropped"] == printed, test["console_bytes_dropped"]
assert test["failure_lines"][0] == "failure: line(101) after the flood", test["failure_lines"][0]
assert len(test["failure_lines"]) == 100 and test["failure_lines_dropped"] == 21, test["failure_lines_dropped"]
assert test["stderr"].startswith("library complaint\n") and "chatter" not in test["stderr"], test["stderr"][:40]
# The flood's last line is cut short by devbench's end-of-test line, and ends there.
assert len(test["stderr"]) == 1 << 20 and test["stderr_bytes_dropped"] == (1 << 20) + 1, test["stderr_bytes_dropped"]
assert "complaint" not in test["console"], "standard error in the console"
EOF
    ;;
hostile)
    fake --tests 0 --devbench "$fakes/fake_devbench_failing.sh" --record "$work/run.json" >"$work/run.out" 2>&1
    # Made by one python, read by another whose own memory stays small, so
    # the reports it starts measure only themselves.
    python3 - "$work" <<'EOF' || fail "cannot make the hostile records"
import json, sys
work = sys.argv[1]
text = json.dumps(json.load(open(work + "/run.json")), separators=(",", ":"))
open(work + "/lines.json", "w").write(text.replace('"failure_lines":[', '"failure_lines":[' + '"",' * 20000000, 1))
open(work + "/unknown.json", "w").write(text[:-1] + ',"extra":[' + "{}," * 20999999 + "{}]}")
open(work + "/twice.json", "w").write(text.replace('"verdict":"fail"', '"verdict":"pass","verdict":"fail"', 1))
EOF
    python3 - "$build/vpoperator" "$work" <<'EOF' || fail "a hostile record was not refused cheaply"
import resource, subprocess, sys, time
vpoperator, work = sys.argv[1], sys.argv[2]
expected = {"lines": '"failure_lines" holds more than 4096 items', "unknown": '"extra" holds more than 4096 items',
            "twice": '"verdict" is given twice'}
for name, why in expected.items():
    for args in (["%s/%s.json" % (work, name)], [work + "/run.json", "--baseline", "%s/%s.json" % (work, name)]):
        started = time.monotonic()
        done = subprocess.run([vpoperator, "report"] + args + ["--html", work + "/page.html"], capture_output=True,
                              text=True, timeout=30)
        took = time.monotonic() - started
        assert done.returncode == 2 and why in done.stderr, (args, done.returncode, done.stderr)
        assert took < 1.0, (args, "%.2f s" % took)
# The most any report held (ASan's own memory included).
peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
assert peak < 100 * 1024, "%d KiB" % peak
EOF
    ;;
library)
    # The usual layout, a link to the versioned file, and a second build
    # preloaded over it: the record names the file whose code ran, by its
    # hash, each time.
    mkdir "$work/bench" "$work/preload"
    cp "$build/devbench" "$build/holdprobe" "$build/vprinter" "$work/bench/"
    cp "$build/libKelmorPort.so" "$work/bench/libKelmorPort.so.1.0"
    ln -s libKelmorPort.so.1.0 "$work/bench/libKelmorPort.so"
    "$build/vpoperator" --dir "$work/bench" --tests 0 --record "$work/link.json" >"$work/link.out" 2>&1 ||
        fail "the run with a linked library failed"
    records --json "$work/link.json" --library "$work/bench/libKelmorPort.so.1.0"
    cp "$build/libKelmorPort.so" "$work/preload/libKelmorPort.so" && printf 'x' >>"$work/preload/libKelmorPort.so"
    # A sanitizer's runtime would refuse to come after the preloaded file.
    ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0 \
        LD_PRELOAD="$work/preload/libKelmorPort.so" "$build/vpoperator" --dir "$work/bench" --tests 0 \
        --record "$work/preload.json" >"$work/preload.out" 2>&1 || fail "the run with a preloaded library failed"
    records --json "$work/preload.json" --library "$work/preload/libKelmorPort.so"
    ;;
*)
    fail "no such check"
    ;;
esac
echo "records ($check): as expected"
