#!/usr/bin/env bash
# A suite whose output holds bytes no record may choke on: a failure line
# with markup, a control character and invalid UTF-8, a printer whose name
# has the same and a carriage return. It takes the printer's socket away,
# so that no paper can be read, and hangs in its third test.
. "$(dirname "$0")/fake_devbench.sh"
start
rm -f "$name"
read -r choice
printf '\n\ntestOpenPort\nfailure: line(17) OpenPortA return NULL <&"\x01\xff]]>\nfailure: line(18) again\n\n\n'
menu
read -r choice
printf '\n\ntestRead\ndevice firmware name: 1b\n23\n2a\n2c\n'
# Each reply byte as its hexadecimal line, a name byte then as itself.
for byte in 41 01 ff 3c 26 0d 5d 5d 3e; do printf "%x\n\x$byte" "0x$byte"; done
printf 'a\n0\n\n\n\n'
menu
read -r choice
printf '\n\ntestWrite\nhalfway'
exec sleep 600
