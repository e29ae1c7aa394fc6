#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each one
# for FUZZ_SECONDS (default 20) from its seeds in fuzz/corpus/<target>/.
# Exits non-zero on the first crash, overrun, hang or leak; the input that
# caused it is left in build-fuzz/artifacts/.
#
#   scripts/fuzz.sh                     # the short run CI makes (~2 min)
#   FUZZ_SECONDS=600 scripts/fuzz.sh    # a longer run of each target
#   scripts/fuzz.sh dialogue_fuzz       # only the targets named
case ${1:-} in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${FUZZ_SECONDS:-20}
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(dialogue_fuzz reply_reader_fuzz frame_decoder_fuzz paper_fuzz page_gate_fuzz record_reader_fuzz)

command -v clang++ >/dev/null || { echo "fuzz.sh: clang++ is missing (scripts/setup.sh installs it)" >&2; exit 2; }
. "$root/scripts/announce.sh"
announce_configure fuzz.sh "$dir"
CC=clang CXX=clang++ cmake -S "$root" -B "$dir" -G Ninja -DDEVBENCH_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
ninja -C "$dir" -j"$(nproc)" "${targets[@]}"

mkdir -p "$dir/artifacts"
for target in "${targets[@]}"; do
  seeds=$root/fuzz/corpus/${target%_fuzz}
  # New inputs go to a scratch corpus, so the seeds in the repository stay
  # small and only change by hand.
  work=$dir/corpus/${target%_fuzz}
  mkdir -p "$work"
  echo "== $target for ${seconds}s"
  # Dialogue inputs just past the two 256-byte answers: longer ones only run
  # more tests of the same kind.
  max_len=1024
  [ "$target" = dialogue_fuzz ] && max_len=640
  # A record of a few tests with their consoles.
  [ "$target" = record_reader_fuzz ] && max_len=8192
  # -timeout: an input that runs 10 s is a hang.
  # libFuzzer prints a line for every new input: a run that finds nothing
  # shows only its final figures, one that fails shows everything.
  log=$dir/$target.log
  if ! "$dir/$target" -max_total_time="$seconds" -timeout=10 -max_len=$max_len -print_final_stats=1 \
    -artifact_prefix="$dir/artifacts/$target-" "$work" "$seeds" >"$log" 2>&1; then
    cat "$log"
    echo "fuzz: $target failed; its input is in $dir/artifacts/" >&2
    exit 1
  fi
  grep -E '^(Done|stat::(number_of_executed_units|peak_rss_mb|new_units_added))' "$log" | tr '\n' ' ' || true
  echo
done
echo "fuzz: no crash in ${targets[*]}"
