#!/usr/bin/env bash
# A suite that runs Test Open Port, then waits in Test Bad Port Name until
# the file $VPOP_RELEASE exists: the first test's row must show meanwhile.
. "$(dirname "$0")/fake_devbench.sh"
start
read -r choice
printf '\n\ntestOpenPort\n\n\n'
menu
read -r choice
printf '\n\ntestBadPortName\n'
for _ in $(seq 600); do
    [ -e "$VPOP_RELEASE" ] && break
    sleep 0.05
done
printf '\n\n'
menu
read -r choice
printf '\n\n'
