#!/usr/bin/env bash
# Runs every test: native, Windows under Wine, the sanitizer build and a short
# fuzzing run.  Installs what it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh native windows sanitize fuzz

# Two virtual displays: the Windows tests (Wine's windows) on one, the native,
# sanitizer and fuzz runs (GTK dialogs) on the other.  Each run takes its
# desktop in turn within itself (the tests' "desktop" lock); the two runs
# share nothing else (their own build trees, Wine prefix, ports and private
# schedulers), so they go side by side: most of their time is spent waiting
# for windows and servers, not on the processor.
free_display() {
  for n in $(seq "$1" "$2"); do
    if [ ! -e /tmp/.X11-unix/X$n ] && [ ! -e /tmp/.X$n-lock ]; then echo ":$n"; return; fi
  done
}
xvfb_pids=()
start_display() {
  # -noreset: by default the server resets whenever its last client leaves,
  # and a program connecting during that moment could not open the display.
  Xvfb "$1" -screen 0 1280x1024x24 -nolisten tcp -noreset >/dev/null 2>&1 &
  xvfb_pids+=($!)
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${1#:}" ] && break; sleep 0.1; done
}
native_display=$(free_display 90 104)
start_display "$native_display"
windows_display=$(free_display 105 120)
start_display "$windows_display"
windows_log=$(mktemp "${TMPDIR:-/tmp}/inkseal-windows-tests.XXXXXX")
trap 'kill "${xvfb_pids[@]}" 2>/dev/null || true; rm -f "$windows_log"' EXIT

# GTK keeps font, theme and accessibility caches until the process ends; only
# its own libraries are excused, so a leak in our code still fails.
export LSAN_OPTIONS="suppressions=$(pwd)/tests/sanitizer/gtk_leaks.supp:print_suppressions=0"

DISPLAY=$windows_display ctest --preset windows -j 2 >"$windows_log" 2>&1 &
windows_tests=$!

status=0
for p in native sanitize fuzz; do
  echo "=== tests: $p ==="
  DISPLAY=$native_display ctest --preset "$p" -j 2 || status=1
done
wait "$windows_tests" || status=1
echo "=== tests: windows ==="
cat "$windows_log"
exit $status
