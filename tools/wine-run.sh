#!/usr/bin/env bash
# Runs a Windows program under Wine with the prefix kept in the build tree.
#   wine-run.sh --init        make the prefix (once per build tree)
#   wine-run.sh --kill        stop the prefix's wineserver
#   wine-run.sh prog.exe ...  run a program; its exit code is ours
set -u
WINE=/usr/lib/wine/wine64
here=$(pwd)
# ctest runs us from a folder inside the build tree; find the tree's top.
top=${INKSEAL_BINARY_DIR:-}
if [ -z "$top" ]; then
  d=$here
  while [ "$d" != / ] && [ ! -f "$d/CMakeCache.txt" ]; do d=$(dirname "$d"); done
  top=$d
fi
# A test that changes the prefix itself (an installer) names one of its own.
export WINEPREFIX="${INKSEAL_WINEPREFIX:-$top/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
case "${1:-}" in
  --init)
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      "$WINE" wineboot -i >/dev/null 2>&1
      /usr/lib/wine/wineserver -w
    fi
    [ -f "$WINEPREFIX/system.reg" ] || { echo "wine prefix was not made" >&2; exit 1; }
    exit 0 ;;
  --kill)
    /usr/lib/wine/wineserver -k 2>/dev/null
    exit 0 ;;
esac
# Wine starts its wineserver and system services (winedevice.exe, explorer.exe)
# from the first program that needs them, and they inherit that program's
# output.  Handed ctest's pipes, they would keep them open long after the
# program ended and ctest would wait until its time-out.  So the program writes
# into files of ours, which we copy out once it has ended.
out=$(mktemp "${TMPDIR:-/tmp}/wine-run.out.XXXXXX")
err=$(mktemp "${TMPDIR:-/tmp}/wine-run.err.XXXXXX")
trap 'rm -f "$out" "$err"' EXIT
"$WINE" "$@" >"$out" 2>"$err"
status=$?
cat "$out"
cat "$err" >&2
exit $status
