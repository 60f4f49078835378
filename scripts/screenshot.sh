#!/usr/bin/env bash
# Remakes docs/screenshot.png, the picture of the dialog in the README, in a virtual display.
set -euo pipefail
cd "$(dirname "$0")/.."
exec scripts/run.sh --screenshot docs/screenshot.png
