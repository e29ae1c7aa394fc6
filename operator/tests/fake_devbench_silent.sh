#!/usr/bin/env bash
# A suite that hangs, as one stuck in a library call: after its first answer,
# or, with VPOP_SILENT_IN=BANNER, once the test it was asked for has begun.
# Its process id in the file $VPOP_PID_FILE, when given.
if [ -n "${VPOP_SILENT_IN:-}" ]; then
    . "$(dirname "$0")/fake_devbench.sh"
    start
    read -r choice
    printf '\n\n%s\n' "$VPOP_SILENT_IN"
    exec sleep 600
fi
printf 'devbench\nEnter the port name: '
read -r name
[ -n "${VPOP_PID_FILE:-}" ] && echo $$ >"$VPOP_PID_FILE"
exec sleep 600
