#!/usr/bin/env bash
# A suite that runs Test Open Port, then waits in Test Bad Port Name until
# the file $VPOP_RELEASE exists: the first test's row must show meanwhile.
menu() { printf 'Available tests:\n0 - Test Open Port\n\nEnter the test number to execute, or a for all, or e for exit: '; }
printf 'devbench\nEnter the port name: '
read -r name
printf '\nEnter the port settings: '
read -r settings
printf '\n'
menu
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
