#!/usr/bin/env bash
# The main job: install, build, then print a sample PDF through Ferrowend to
# the bundled stand-in signature service.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh native windows
exec tools/demo.sh "$@"
