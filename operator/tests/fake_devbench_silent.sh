#!/usr/bin/env bash
# A suite that hangs after its first answer, as one stuck in a library call.
printf 'devbench\nEnter the port name: '
read -r name
exec sleep 600
