# Sourced by the scripts that build. A step that takes more than a moment
# says so on one line (on standard error), so a first run is not minutes of
# silence; a build with nothing to do stays quiet.
#   announce_configure NAME DIR       before configuring DIR, when it holds no build yet
#   quiet_ninja NAME DIR [ARG...]     ninja without its progress lines; one line when it
#                                     works longer than a second, its output when it fails
announce_configure() {
  [ -f "$2/build.ninja" ] || echo "$1: configuring a new build in $2 (the first build takes a few minutes) ..." >&2
}
quiet_ninja() {
  local name=$1 dir=$2 log pid status=0
  shift 2
  log=$(mktemp)
  ninja -C "$dir" "$@" >"$log" 2>&1 &
  pid=$!
  # ninja's dry run cannot tell: CMake's glob check always looks like a reconfigure.
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$pid" 2>/dev/null && echo "$name: building in $dir ..." >&2
  wait "$pid" || status=$?
  [ "$status" -eq 0 ] || cat "$log" >&2
  rm -f "$log"
  return "$status"
}
