#!/usr/bin/env bash
# Interrupts `kavoconv -l -f -i` on a 32 MiB file with every signal whose default ends the
# process, TRIALS times in all (default 312): half at random moments anywhere in the run,
# half aimed at the copy back. Prints a Markdown table per signal of what the file was
# afterwards and of the private folders left behind, and exits 1 when any file was mixed
# or any folder left, or a trial failed otherwise. KAVO_SEED repeats a run's moments.
#   scripts/interrupt-trials.sh [TRIALS]
set -euo pipefail
cd "$(dirname "$0")/.."
trials=${1:-312}
build=build/trials
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release --no-warn-unused-cli >/dev/null
cmake --build "$build" -j "$(nproc)" --target kavoconv_tests kavoconv >/dev/null
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
KAVO_TRIALS=$trials "$build/cli/kavoconv_tests" --gtest_filter='*InterruptedInPlace*' >"$log" 2>&1 || status=1
grep -E '^(seed|undisturbed)' "$log" || true
echo
echo "| Signal | anywhere: original | anywhere: finished first | in the copy back: converted | mixed | folders left |"
echo "|---|---:|---:|---:|---:|---:|"
awk '$1 == "trials" { printf "| %s | %d | %d | %d | %d | %d |\n", $2, $3, $4, $5, $6, $7
                      for (i = 3; i <= 7; i++) sum[i] += $i }
     END { printf "| **all** | %d | %d | %d | **%d** | **%d** |\n", sum[3], sum[4], sum[5], sum[6], sum[7] }' "$log"
if [ "$status" -ne 0 ]; then
    echo
    grep -E 'Failure|Which is|signal [0-9]+ after|FAILED' "$log" | head -40
    echo "interrupt trials: FAILED"
    exit 1
fi
echo
echo "OK: $trials trials, no mixed file, no folder left"
