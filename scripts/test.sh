#!/usr/bin/env bash
# Runs every test: native, Windows under Wine, the sanitizer build and a short
# fuzzing run.  Installs what it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh native windows sanitize fuzz

# One virtual display for the whole run: Wine's windows and the GTK dialogs.
display=""
for n in $(seq 90 120); do
  if [ ! -e /tmp/.X11-unix/X$n ] && [ ! -e /tmp/.X$n-lock ]; then display=:$n; break; fi
done
# -noreset: by default the server resets whenever its last client leaves, and
# a program connecting during that moment could not open the display.
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill $xvfb_pid 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
export DISPLAY=$display

# GTK keeps font, theme and accessibility caches until the process ends; only
# its own libraries are excused, so a leak in our code still fails.
export LSAN_OPTIONS="suppressions=$(pwd)/tests/sanitizer/gtk_leaks.supp:print_suppressions=0"

status=0
for p in native windows sanitize fuzz; do
  echo "=== tests: $p ==="
  ctest --preset "$p" -j 2 || status=1
done
exit $status
