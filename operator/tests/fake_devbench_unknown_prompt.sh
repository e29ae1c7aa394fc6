#!/usr/bin/env bash
# A suite with a prompt the operator has never seen, or the one in
# $VPOP_PROMPT after taking the printer's socket away, so that the printer
# cannot be set as it asks.
printf 'devbench\nEnter the port name: '
read -r name
printf '\nEnter the port settings: '
read -r settings
printf '\nEnter the test number to execute, or a for all, or e for exit: '
read -r choice
[ -n "${VPOP_PROMPT:-}" ] && rm -f "$name"
printf '\n\ntestWrite\n%s\n' "${VPOP_PROMPT:-Make the printer sparkle, then hit enter}"
read -r answer
# Reached only when the operator guessed.
exit 7
