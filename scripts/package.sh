#!/usr/bin/env bash
# Builds both packages into build/packages/: the Windows installer
# Inkseal-<version>-x64.msi and the Debian package inkseal_<version>_amd64.deb.
# Installs what it needs, then builds only what the packages hold (no tests,
# no benchmarks) in build/package-native and build/package-windows.  Two
# runs at the same commit give the same bytes, signatures aside; see
# README.md for signing.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
source scripts/package-common.sh
scripts/build.sh package-native package-windows
out=build/packages
scripts/package-msi.sh build/package-windows "$out"
scripts/package-deb.sh build/package-native "$out"
