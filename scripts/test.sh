#!/usr/bin/env bash
# Builds Kavo natively (with the address and undefined-behaviour sanitizers) and for
# 32-bit Windows, then runs every test: the native ones directly, the Windows ones under
# Wine inside a virtual X display, the packages as a user installs them, a minute of
# fuzzing, a 1 GiB conversion, 312 interruptions of conversions in place, and the
# encoding guess measured on real text. Exits non-zero when anything fails. KAVO_QUICK=1
# leaves out the last five.
#
# Each step prints one line when it passes; the whole output of a step that fails is
# printed, and the run stops there. Every step's output is kept in build/logs/.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
logs=build/logs
mkdir -p "$logs"
screen=(xvfb-run -a -s '-screen 0 1024x768x24 -nolisten tcp')

# step NAME COMMAND...: runs the command with its output in build/logs/NAME.log.
step() {
    local name=$1 log=$logs/$1.log start=$SECONDS
    shift
    printf '%-28s ' "$name"
    if "$@" >"$log" 2>&1; then
        # ctest's verdict, where the step has one, says what passed.
        local summary
        summary=$(tr -d '\r' <"$log" | grep -E 'tests passed|^fuzz: |^OK: |^kavoconv -g named' | tail -1 || true)
        echo "ok, $((SECONDS - start)) s${summary:+: $summary}"
    else
        echo "FAILED after $((SECONDS - start)) s; its output ($log):"
        cat "$log"
        exit 1
    fi
}

# Configures a build folder; an existing one keeps its toolchain without a warning.
configure() { cmake -S . -B "$@" --no-warn-unused-cli; }

step native-configure configure build/native-asan -DCMAKE_BUILD_TYPE=Debug -DKAVO_SANITIZE=ON
step native-build cmake --build build/native-asan -j "$jobs"
step native-tests env ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build/native-asan --output-on-failure -j "$jobs"

step windows-configure configure build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake -DCMAKE_BUILD_TYPE=Release
step windows-build cmake --build build/win32 -j "$jobs"
step windows-tests "${screen[@]}" scripts/test-wine.sh build/win32

if [ -z "${KAVO_QUICK:-}" ]; then
    step packages scripts/package.sh
    step package-install "${screen[@]}" scripts/package-test.sh build/win32
    step fuzzing scripts/fuzz.sh 60
    step large-file scripts/large-file-check.sh 1024
    step interrupt-trials scripts/interrupt-trials.sh 312
    step guess-table scripts/guess-table.sh build/native-asan/cli/kavoconv
fi
echo "All tests passed."
