#!/usr/bin/env bash
# Runs all tests (menu answer a) under the automated operator against a
# healthy virtual printer and checks the console that devbench printed: every
# banner in table order, each test followed by one blank line and the run by
# one more, and not a single failure line.
#   transcript.sh BUILD_DIR
set -u
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT

# devbench behind a tee, so the operator still drives it through its pipes.
cat > "$work/devbench" <<WRAP
#!/usr/bin/env bash
"$build/devbench" | tee "$work/console.txt"
exit \${PIPESTATUS[0]}
WRAP
chmod +x "$work/devbench"

if ! "$build/vpoperator" --dir "$build" --tests a --devbench "$work/devbench" > "$work/operator.txt" 2>&1; then
  cat "$work/operator.txt"
  echo "transcript: the automated run failed"
  exit 1
fi

console=$work/console.txt
fail() { echo "transcript: $*"; exit 1; }

grep -q "^failure" "$console" && fail "a failure line was printed: $(grep '^failure' "$console")"

# The run of all tests: from the menu answer up to the menu shown again.
run=$(awk '/^Enter the test number to execute/ { n++ } n == 1' "$console" | sed '1d' | sed '/^Available tests:/,$d')
expected="testOpenPort testBadPortName testPortLocking testWrite testWriteOfflineTimeout testWriteDisconnect
testRead testReadDisconnect testResetDevice testResetDeviceDisconnect testGetOnlineStatus
testGetOnlineStatusDisconnect testGetParsedStatus testOldGetParsedStatus testGetParsedStatusDisconnect
testHybridGetParsedStatus testBeginCheckedBlock testBeginCheckedBlockDisconnect testEndCheckedBlock
testEndCheckedBlock testTooMuchDataForParallelPort"
banners=$(printf '%s\n' "$run" | grep -E '^test[A-Za-z]+$' | tr '\n' ' ' | sed 's/ $//')
[ "$banners" = "$(echo $expected)" ] || fail "banners out of order: $banners"

# Each banner comes right after a blank line: the two newlines after the
# menu answer for the first, the blank line after the test before for the rest.
previous=x
while IFS= read -r line; do
  if [[ $line =~ ^test[A-Za-z]+$ ]] && [ -n "$previous" ]; then fail "no blank line before $line"; fi
  previous=$line
done <<< "$run"

# The run ends with the last test's blank line and one more before the menu.
menu_again=$(grep -n '^Available tests:$' "$console" | sed -n '2s/:.*//p')
[ -n "$menu_again" ] || fail "the menu was not shown again after the run"
[ "$(sed -n "$((menu_again - 3)),$((menu_again - 1))p" "$console" | tr '\n' '|')" = "Make the printer online, then press enter|||" ] ||
  fail "the run does not end with the last test's output and two blank lines"
echo "transcript: 21 banners in order, blank lines as expected, no failure line"
