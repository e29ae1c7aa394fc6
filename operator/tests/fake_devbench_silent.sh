#!/usr/bin/env bash
# A suite that hangs after its first answer, as one stuck in a library call;
# its process id in the file $VPOP_PID_FILE, when given.
printf 'devbench\nEnter the port name: '
read -r name
[ -n "${VPOP_PID_FILE:-}" ] && echo $$ >"$VPOP_PID_FILE"
exec sleep 600
