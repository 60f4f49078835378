#!/usr/bin/env bash
# Builds the Windows program and opens its dialog under Wine, in the Japanese locale with
# a Japanese font (after scripts/install-deps.sh). Without a display it runs the program
# in a virtual one and saves a screenshot of the dialog instead.
#   scripts/run.sh                       open the dialog; exits with the program's status
#   scripts/run.sh --screenshot FILE     save a picture of the dialog (default below), then
#                                        end the program; exits 0 when the picture was saved
# KAVO_BUILD_DIR picks the build folder (build/win32). The Wine prefix is kept in
# build/wine between runs.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${KAVO_BUILD_DIR:-build/win32}
default_shot=build/kavo-screenshot.png

mode=open
shot=$default_shot
if [ "${1:-}" = --screenshot ]; then
    mode=screenshot
    shot=${2:-$default_shot}
elif [ -z "${DISPLAY:-}" ]; then
    mode=screenshot
    echo "No display: running in a virtual one and saving a screenshot to $shot"
fi
case "$shot" in /*) ;; *) shot=$root/$shot ;; esac

# A screenshot is taken in a virtual display of its own, the same size every time.
if [ "$mode" = screenshot ] && [ -z "${KAVO_IN_XVFB:-}" ]; then
    exec env KAVO_IN_XVFB=1 xvfb-run -a -s '-screen 0 1024x768x24 -nolisten tcp' "$0" --screenshot "$shot"
fi

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target Kavo >/dev/null
exe=$root/$build/app/Kavo.exe

. scripts/wine-env.sh
kavo_wine_kept_session "$root"

if [ "$mode" = open ]; then
    status=0
    wine "$exe" 2>/dev/null || status=$?
    echo "Kavo.exe ended with status $status"
    exit "$status"
fi

kavo_window_shot '/"かぼ": \("kavo.exe"/' "The dialog" "$shot" wine "$exe"
