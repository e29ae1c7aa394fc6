# Sourced by the scripts that build. A step that takes more than a moment
# says so (on standard error), so a first run is not minutes of silence; a
# build with nothing to do stays quiet.
#   announce_configure NAME DIR       before configuring DIR, when it holds no build yet
#   quiet_ninja NAME DIR [ARG...]     ninja without its per-step lines: after a second, its
#                                     progress (one line kept up to date on a terminal, a
#                                     line every 20 s elsewhere), its output when it fails
announce_configure() {
  [ -f "$2/build.ninja" ] || echo "$1: configuring a new build in $2 (the first build takes a few minutes) ..." >&2
}
quiet_ninja() {
  local name=$1 dir=$2 log pid status=0 ticks=0 step shown=
  shift 2
  log=$(mktemp)
  NINJA_STATUS='[%f/%t] ' ninja -C "$dir" "$@" >"$log" 2>&1 &
  pid=$!
  # ninja's dry run cannot tell: CMake's glob check always looks like a reconfigure.
  while kill -0 "$pid" 2>/dev/null; do
    sleep 0.1
    ticks=$((ticks + 1))
    [ $ticks -ge 10 ] && [ $((ticks % 10)) -eq 0 ] || continue
    step=$(grep -o '^\[[0-9]*/[0-9]*\]' "$log" | tail -1 | tr -d '[]')
    if [ -t 2 ]; then
      printf '\r%s: building in %s ... %s steps' "$name" "$dir" "${step:-0/?}" >&2
      shown=line
    elif [ $ticks -eq 10 ] || [ $((ticks % 200)) -eq 0 ]; then
      echo "$name: building in $dir ... ${step:-0/?} steps" >&2
    fi
  done
  wait "$pid" || status=$?
  [ -z "$shown" ] || echo >&2
  [ "$status" -eq 0 ] || cat "$log" >&2
  rm -f "$log"
  return "$status"
}
