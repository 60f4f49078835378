#!/usr/bin/env bash
# Builds Kavo natively (with the address and undefined-behaviour sanitizers) and for
# 32-bit Windows, then runs every test: the native ones directly, the Windows ones under
# Wine inside a virtual X display, a minute of fuzzing, a 1 GiB conversion, and the
# encoding guess measured on real text. Exits non-zero when anything fails.
# KAVO_QUICK=1 leaves out the last three.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

echo "== native build (address and undefined-behaviour sanitizers)"
cmake -S . -B build/native-asan -DCMAKE_BUILD_TYPE=Debug -DKAVO_SANITIZE=ON >/dev/null
cmake --build build/native-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/native-asan --output-on-failure -j "$jobs"

echo "== Windows build (MinGW-w64 i686)"
cmake -S . -B build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/win32 -j "$jobs"

echo "== Windows tests under Wine"
xvfb-run -a -s '-screen 0 1024x768x24 -nolisten tcp' scripts/test-wine.sh build/win32

if [ -z "${KAVO_QUICK:-}" ]; then
  echo "== fuzzing the transcoder against the byte-at-a-time oracle"
  scripts/fuzz.sh 60
  echo "== 1 GiB conversion: peak memory and an independent checksum"
  scripts/large-file-check.sh 1024
  echo "== kavoconv's encoding guess on Debian's Japanese manual pages, against nkf and uchardet"
  scripts/guess-table.sh build/native-asan/cli/kavoconv
fi
