#!/usr/bin/env bash
# A suite whose library explains itself on standard error in the middle of
# a line of devbench's output, as the stand-in does for a bad setting.
. "$(dirname "$0")/fake_devbench.sh"
start
read -r choice
printf '\n\ntestOpenPort\nopening the po'
sleep 0.3
printf 'KelmorPort: bad setting '\''x'\''\n' >&2
sleep 0.3
printf 'r'
sleep 0.3
printf 't\nfailure: line(17) OpenPortA return NULL\n\n\n'
menu
read -r choice
printf '\n\n'
