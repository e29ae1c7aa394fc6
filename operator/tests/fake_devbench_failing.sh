#!/usr/bin/env bash
# A suite whose only test prints a failure line, then leaves normally.
menu() { printf 'Available tests:\n0 - Test Open Port\n\nEnter the test number to execute, or a for all, or e for exit: '; }
printf 'devbench\nEnter the port name: '
read -r name
[ "$name" = /nonexistent/printer ] || exit 4
printf '\nEnter the port settings: '
read -r settings
printf '\n'
menu
read -r choice
[ "$choice" = 0 ] || exit 5
printf '\n\ntestOpenPort\nfailure: line(17) OpenPortA return NULL\n\n\n'
menu
read -r choice
[ "$choice" = e ] || exit 6
printf '\n\n'
