#!/usr/bin/env bash
# Builds and runs every benchmark; each compares against a named peer in the
# same run and prints its ratios.  Not part of the test run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset native -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build --preset native -j "$(nproc)"
for b in build/native/bench/*/*_bench build/native/bench/*/bench_*; do
  [ -x "$b" ] || continue
  echo "=== $(basename "$b") ==="
  "$b" "$@"
done
