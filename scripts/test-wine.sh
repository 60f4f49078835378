#!/usr/bin/env bash
# Runs the Windows build's tests under Wine in a fresh prefix. Needs a display:
#   xvfb-run -a scripts/test-wine.sh build/win32
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/win32}
. scripts/wine-env.sh
trap kavo_wine_cleanup EXIT
kavo_wine_setup
# Start the desktop process outside ctest, or each test waits for it to go away.
wine cmd /c exit >/dev/null 2>&1 || true
ctest --test-dir "$build" --output-on-failure
