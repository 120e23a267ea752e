#!/usr/bin/env bash
# Builds both packages into build/packages/: the Windows installer
# Inkseal-<version>-x64.msi and the Debian package inkseal_<version>_amd64.deb.
# Installs what it needs and builds both platforms first.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh native windows
out=build/packages
scripts/package-msi.sh build/windows "$out"
scripts/package-deb.sh build/native "$out"
