#!/usr/bin/env bash
# Runs a program against a throw-away PostgreSQL server of Debian's
# postgresql package (pg_virtualenv makes one in a temporary folder, as any
# user, root included, and removes it after), with DEVBENCH_HISTORY_STORE
# naming it. Exit status 77, with the reason, where no server can start.
#   postgres.sh PROGRAM [ARGS...]
case ${1:-} in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -u
if ! command -v pg_virtualenv >/dev/null; then
    echo "skipped: no pg_virtualenv (scripts/setup.sh installs postgresql and postgresql-common)"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The program's own status comes back through pg_virtualenv; the mark it
# leaves tells that from a server that never started.
pg_virtualenv sh -c 'touch "$0"; DEVBENCH_HISTORY_STORE="postgresql://$PGUSER:$PGPASSWORD@$PGHOST:$PGPORT/$PGDATABASE" exec "$@"' \
    "$work/started" "$@" > "$work/log" 2>&1
status=$?
cat "$work/log"
if [ $status -ne 0 ] && [ ! -e "$work/started" ]; then
    echo "skipped: no PostgreSQL server could start here (pg_virtualenv ended with status $status before the tests)"
    exit 77
fi
exit $status
