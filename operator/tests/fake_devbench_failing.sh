#!/usr/bin/env bash
# A suite whose only test prints a failure line, then leaves normally.
. "$(dirname "$0")/fake_devbench.sh"
start
[ -S "$name" ] || exit 4
read -r choice
[ "$choice" = 0 ] || exit 5
printf '\n\ntestOpenPort\nfailure: line(17) OpenPortA return NULL\n\n\n'
menu
read -r choice
[ "$choice" = e ] || exit 6
printf '\n\n'
