#!/usr/bin/env bash
# Remakes docs/help-screenshot.png: Wine's help viewer showing the contents page of
# Kavo.hlp, in a virtual display with the Wine set-up of scripts/wine-env.sh.
#   scripts/help-screenshot.sh [FILE]      (default docs/help-screenshot.png)
# KAVO_BUILD_DIR picks the Windows build folder (build/win32); the Wine prefix is the one
# run.sh keeps in build/wine.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${KAVO_BUILD_DIR:-build/win32}
shot=${1:-docs/help-screenshot.png}
case "$shot" in /*) ;; *) shot=$root/$shot ;; esac

if [ -z "${KAVO_IN_XVFB:-}" ]; then
    exec env KAVO_IN_XVFB=1 xvfb-run -a -s '-screen 0 1024x768x24 -nolisten tcp' "$0" "$shot"
fi
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target kavo_help >/dev/null

. scripts/wine-env.sh
kavo_wine_kept_session "$root"

# Opened from a folder of its own in the prefix, so the caption shows C:\Kavo\Kavo.hlp.
mkdir -p "$WINEPREFIX/drive_c/Kavo"
cp "$build/app/Kavo.hlp" "$WINEPREFIX/drive_c/Kavo/Kavo.hlp"
kavo_window_shot '/Kavo\.hlp": \("winhlp32.exe"/' "The help viewer" "$shot" wine winhlp32.exe 'C:\Kavo\Kavo.hlp'
