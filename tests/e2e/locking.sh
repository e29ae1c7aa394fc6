#!/usr/bin/env bash
# Test Port Locking and holdprobe end to end, every party a real process:
# devbench, the probe and its copy, a virtual printer and, where a case needs
# one, a third process holding the port.
#   locking.sh CASE BUILD_DIR VPRINTER PORT_TOOL
#   locking.sh skip REASON
set -u

if [ "$1" = skip ]; then
  echo "skipped: $2"
  exit 77
fi

case_name=$1
build=$2
vprinter=$3
port_tool=$4

work=$(mktemp -d /tmp/devbench-lock-XXXXXX)
sock=$work/printer.sock
pids=()
# The library keeps its locks in the user's runtime folder: one of the test's
# own, so that a killed holder's lock goes with it.
mkdir -m 700 "$work/run"
export XDG_RUNTIME_DIR=$work/run
unset KELMORPORT_LOCK_DIR

cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL ($case_name): $*"
  for f in "$work"/*.out; do
    [ -f "$f" ] && { echo "--- $(basename "$f")"; cat "$f"; }
  done
  exit 1
}

# Generous limits: CI shares two cores with other builds.
wait_for() { # FILE TEXT PID
  local i
  for ((i = 0; i < 600; i++)); do
    grep -qF -- "$2" "$1" 2>/dev/null && return 0
    kill -0 "$3" 2>/dev/null || return 1
    sleep 0.05
  done
  return 1
}

start_printer() {
  "$vprinter" serve "$sock" --no-console >"$work/vprinter.out" 2>&1 &
  pids+=($!)
  wait_for "$work/vprinter.out" "listening on $sock" "$!" || fail "vprinter did not get ready"
}

# Menu 2 with the socket as port name, then leave.
run_locking_test() { # CWD [SETTINGS]
  (cd "$1" && printf '%s\n%s\n2\ne\n' "$sock" "${2:-}" | timeout 60 "$build/devbench") >"$work/devbench.out" 2>&1
  local status=$?
  [ $status -eq 0 ] || fail "devbench ended with status $status"
}

# devbench's standard output, which the same file holds beside its standard
# error's answer lines.
console() { grep -v '^  answer(' "$work/devbench.out"; }
# The two lines that follow the test's banner.
after_banner() { console | sed -n '/^testPortLocking$/{n;p;n;p;q}'; }

expect_port_free() {
  "$port_tool" try "$sock" >"$work/try.out" 2>&1 || fail "the port is still held (status $?)"
}

suite_line='^failure: line\([0-9]+\) holdprobe did not return EXIT_SUCESS$'
probe_line='^failure - [0-9]+$'

case $case_name in
passes)
  start_printer
  run_locking_test "$build"
  grep -qx testPortLocking "$work/devbench.out" || fail "no banner"
  ! grep -q failure "$work/devbench.out" || fail "failure reported with the port free"
  expect_port_free
  ;;

held_elsewhere)
  start_printer
  "$port_tool" hold "$sock" >"$work/holder.out" 2>&1 &
  pids+=($!)
  wait_for "$work/holder.out" held "$!" || fail "the holder did not get the port"
  run_locking_test "$build"
  mapfile -t lines < <(after_banner)
  [[ ${lines[0]:-} =~ $probe_line ]] || fail "the probe's own line is missing"
  [[ ${lines[1]:-} =~ $suite_line ]] || fail "the suite's failure line does not follow the probe's"
  ;;

non_exclusive_library)
  # The library's settings turn its lock off: the copy gets in and says so.
  start_printer
  run_locking_test "$build" fault=no-exclusive
  mapfile -t lines < <(after_banner)
  [[ ${lines[0]:-} =~ $probe_line ]] || fail "the probe did not report the second open"
  [[ ${lines[1]:-} =~ $suite_line ]] || fail "the suite's failure line does not follow the probe's"
  expect_port_free
  ;;

probe_missing)
  start_printer
  mkdir "$work/elsewhere"
  run_locking_test "$work/elsewhere"
  mapfile -t lines < <(after_banner)
  [[ ${lines[0]:-} =~ $suite_line ]] || fail "no failure line without the probe"
  [[ ${lines[1]:-} =~ ^hint:\ holdprobe\ could\ not\ be\ started ]] || fail "no hint that the probe is missing"
  ! grep -q 'failure - ' "$work/devbench.out" || fail "a probe ran from another directory"
  expect_port_free
  ;;

probe_cannot_load)
  # A copy of the probe away from the library it finds beside itself.
  start_printer
  mkdir "$work/nolib"
  cp "$build/holdprobe" "$work/nolib/"
  run_locking_test "$work/nolib"
  # The loader's own message comes first.
  mapfile -t lines < <(after_banner | sed 1d; console | sed -n '/^testPortLocking$/{n;n;n;p;q}')
  [[ ${lines[0]:-} =~ $suite_line ]] || fail "no failure line after the loader's message"
  [[ ${lines[1]:-} =~ ^hint:\ holdprobe\ could\ not\ load\ libKelmorPort.so ]] || fail "no hint that the library is missing"
  ;;

probe_crashes)
  start_printer
  mkdir "$work/crash"
  printf '#!/bin/sh\nkill -SEGV $$\n' >"$work/crash/holdprobe"
  chmod +x "$work/crash/holdprobe"
  run_locking_test "$work/crash"
  mapfile -t lines < <(after_banner)
  [[ ${lines[0]:-} =~ $suite_line ]] || fail "no failure line for a crashed probe"
  [[ ${lines[1]:-} =~ ^hint:\ holdprobe\ crashed\ \(status\ 139 ]] || fail "no hint that the probe crashed"
  grep -q '^  answer(probe): holdprobe ended with status 139 ' "$work/devbench.out" || fail "no answer line with the status"
  ;;

killed_probe_frees_port)
  start_printer
  # The probe starts whatever its first entry names as its copy; naming this
  # script keeps the probe holding the port until it is killed.
  cat >"$work/stall" <<'STALL'
#!/bin/sh
echo $$ >"$0.pid.tmp" && mv "$0.pid.tmp" "$0.pid"
exec sleep 120
STALL
  chmod +x "$work/stall"
  (exec -a "$work/stall" "$build/holdprobe" "$sock" "") >"$work/probe.out" 2>&1 &
  probe=$!
  pids+=($probe)
  for ((i = 0; i < 600; i++)); do
    [ -f "$work/stall.pid" ] && break
    kill -0 "$probe" 2>/dev/null || fail "the probe ended before starting its copy"
    sleep 0.05
  done
  [ -f "$work/stall.pid" ] || fail "the probe did not start its copy"
  pids+=("$(cat "$work/stall.pid")")

  "$port_tool" try "$sock" >"$work/try.out" 2>&1
  status=$?
  [ $status -eq 3 ] || fail "a third process was not refused as held elsewhere while the probe held the port (status $status)"

  kill -KILL "$probe"
  wait "$probe" 2>/dev/null
  # The printer may notice the dead connection a moment later.
  for ((i = 0; i < 600; i++)); do
    "$port_tool" try "$sock" >"$work/try.out" 2>&1
    status=$?
    [ $status -eq 0 ] && break
    [ $status -eq 3 ] || fail "reopen after the kill refused for another reason (status $status)"
    sleep 0.05
  done
  [ $status -eq 0 ] || fail "the port stayed held after the probe was killed"
  ;;

lock_folder_taken)
  # Another user made this user's lock folder first. Every program that locks
  # refuses, naming the folder's owner and the way out, and the way out holds
  # for them all: a holder and the probe see one lock there.
  start_printer
  mkdir -m 777 "$XDG_RUNTIME_DIR/kelmorport"
  owner="can be changed by other users"
  if [ "$(id -u)" = 0 ]; then
    chown 65534 "$XDG_RUNTIME_DIR/kelmorport"
    owner="uid 65534"
  fi
  "$port_tool" try "$sock" >"$work/try.out" 2>"$work/try-error.out"
  status=$?
  [ $status -eq 4 ] || fail "a lock folder of another user's was used (status $status)"
  grep -qF -- "$XDG_RUNTIME_DIR/kelmorport" "$work/try-error.out" || fail "the refusal does not name the folder"
  grep -qF -- "$owner" "$work/try-error.out" || fail "the refusal does not say whose the folder is"
  run_locking_test "$build"
  grep -q '^failure: line' "$work/devbench.out" || fail "the suite passed with the lock folder taken"
  # A folder above the lock folder that another user could change (theirs,
  # or writable by all and not sticky) would let them swap the lock folder
  # between our check and our open; a sticky one like /tmp cannot.
  mkdir -m 755 "$work/theirs" && mkdir -m 1777 "$work/sticky"
  above="can write in (mode 0777, not sticky)"
  if [ "$(id -u)" = 0 ]; then chown 65534 "$work/theirs"; above="uid 65534"; else chmod 777 "$work/theirs"; fi
  KELMORPORT_LOCK_DIR=$work/theirs/locks "$port_tool" try "$sock" >"$work/try.out" 2>"$work/try-error.out"
  status=$?
  [ $status -eq 4 ] || fail "a lock folder inside another user's folder was used (status $status)"
  grep -F -- "$work/theirs/locks is inside $work/theirs" "$work/try-error.out" | grep -F -- "$above" |
    grep -q KELMORPORT_LOCK_DIR || fail "the refusal does not name the folder, why and the way out"
  KELMORPORT_LOCK_DIR=$work/sticky/locks "$port_tool" try "$sock" >"$work/try.out" 2>&1 ||
    fail "a lock folder in a sticky folder was refused: $(cat "$work/try.out")"

  export KELMORPORT_LOCK_DIR=$work/own-locks
  "$port_tool" hold "$sock" >"$work/holder.out" 2>&1 &
  holder=$!
  pids+=($holder)
  wait_for "$work/holder.out" held "$holder" || fail "the override did not give the holder the port"
  [ "$(ls "$KELMORPORT_LOCK_DIR")" ] || fail "no lock in the override's folder"
  run_locking_test "$build"
  mapfile -t lines < <(after_banner)
  [[ ${lines[0]:-} =~ $probe_line ]] || fail "the probe did not find the holder's lock in the override's folder"
  kill -TERM "$holder"
  wait "$holder" 2>/dev/null
  run_locking_test "$build"
  ! grep -q failure "$work/devbench.out" || fail "failure reported with the override's folder free"
  ;;

*)
  echo "unknown case $case_name"
  exit 2
  ;;
esac
echo "ok ($case_name)"
