#!/usr/bin/env bash
# expect_exit.sh STATUS REGEX COMMAND...: runs COMMAND and passes when it
# exits with STATUS and its output (stdout and stderr) matches REGEX.
status=$1
regex=$2
shift 2
output=$("$@" 2>&1)
actual=$?
printf '%s\n' "$output"
if [ "$actual" != "$status" ]; then
    echo "expected exit status $status, got $actual"
    exit 1
fi
if ! grep -Eq -- "$regex" <<<"$output"; then
    echo "expected output matching: $regex"
    exit 1
fi
