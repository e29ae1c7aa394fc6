# Sourced by the Wine scripts: printer_start VPRINTER DIR starts a virtual
# printer on loopback TCP, natively, and sets printer (its process) and
# endpoint (127.0.0.1:PORT, the port name for the Windows stand-in);
# printer_stop ends it.

printer_start() {
    printer=
    "$1" serve 127.0.0.1:0 --no-console >"$2/vprinter.out" 2>&1 &
    printer=$!
    # Generous: CI shares two cores with other builds.
    for ((i = 0; i < 600; i++)); do
        grep -qs '^listening on ' "$2/vprinter.out" && break
        kill -0 "$printer" 2>/dev/null || break
        sleep 0.05
    done
    endpoint=$(sed -n 's/^listening on \(127\.0\.0\.1:[0-9]*\)$/\1/p' "$2/vprinter.out")
    [ -n "$endpoint" ] && return 0
    echo "FAIL: the virtual printer did not start"
    cat "$2/vprinter.out"
    return 1
}

printer_stop() {
    [ -n "${printer:-}" ] && kill -TERM "$printer" 2>/dev/null && wait "$printer" 2>/dev/null
    printer=
}
