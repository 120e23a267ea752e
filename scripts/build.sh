#!/usr/bin/env bash
# Builds the given presets (default: native and windows), each in
# build/<preset>.
set -euo pipefail
cd "$(dirname "$0")/.."
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(native windows)
for p in "${presets[@]}"; do
  # A CMake build tree cannot move: one made for another checkout (this one
  # is a copy) is started afresh.
  cache=build/$p/CMakeCache.txt
  if [ -f "$cache" ] && ! grep -qxF "CMAKE_HOME_DIRECTORY:INTERNAL=$(pwd -P)" "$cache"; then
    rm -rf "build/$p"
  fi
  cmake --preset "$p" >/dev/null
  cmake --build --preset "$p" -j "$(nproc)"
done
