#!/usr/bin/env bash
# A suite that passes Test Open Port and then ends badly. VPOP_END=crash:
# it dies of SIGSEGV after the test's output, once the menu has begun but
# before it asks again. VPOP_END=status: it prints a failure line between
# tests, leaves as asked, and exits with status 3.
. "$(dirname "$0")/fake_devbench.sh"
start
read -r choice
printf '\n\ntestOpenPort\n\n\n'
if [ "${VPOP_END:-}" = crash ]; then
    printf 'Available tests:\n'
    kill -SEGV $$
fi
menu
read -r choice
printf '\n\nfailure: line(9) outside\n'
exit 3
