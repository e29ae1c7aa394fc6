#!/usr/bin/env bash
# A suite whose library explains itself on standard error in the middle of
# a line of devbench's output, as the stand-in does for a bad setting, and
# before any test; devbench marks the test and answers its failure line there.
. "$(dirname "$0")/fake_devbench.sh"
printf 'KelmorPort: library loaded\n' >&2
start
read -r choice
printf 'devbench: test 0 begins\n' >&2
printf '\n\ntestOpenPort\nopening the po'
sleep 0.3
printf 'KelmorPort: bad setting '\''x'\''\n' >&2
sleep 0.3
printf 'r'
sleep 0.3
printf 't\nfailure: line(17) OpenPortA return NULL\n'
printf '  answer(open-port): NULL, last error 87\ndevbench: test 0 ended\n' >&2
printf '\n\n'
menu
read -r choice
printf '\n\n'
