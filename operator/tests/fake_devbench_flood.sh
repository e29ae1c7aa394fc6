#!/usr/bin/env bash
# A suite whose only test prints far more than a record keeps, on standard
# output and on standard error, its failure lines after the flood, then
# leaves normally.
. "$(dirname "$0")/fake_devbench.sh"
start
read -r choice
printf '\n\ntestOpenPort\n'
echo 'devbench: test 0 begins' >&2
# 3 MiB of lines, then one line of 100 KiB without a break.
yes 'library chatter' | head -c $((3 << 20))
yes 'library complaint' | head -c $((2 << 20)) >&2
head -c $((100 << 10)) /dev/zero | tr '\0' x
printf '\n'
for line in $(seq 101 221); do printf 'failure: line(%s) after the flood\n' "$line"; done
echo 'devbench: test 0 ended' >&2
printf '\n\n'
menu
read -r choice
printf '\n\n'
