#!/usr/bin/env bash
# Fuzzes the transcoder against the byte-at-a-time oracle for a bounded time, every input
# on every path this processor can run (plain, sse2, ssse3, avx2): builds the
# libFuzzer target with clang (address and undefined-behaviour sanitizers) in build/fuzz,
# runs it from the seed corpus in tests/fuzz/corpus and prints the executions reached.
# Exits non-zero when the fuzzer finds a difference or a crash (the input is kept in
# build/fuzz/artifacts).
#   scripts/fuzz.sh [seconds]        default 60
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=build/fuzz

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKAVO_FUZZ=ON >/dev/null
cmake --build "$build" --target transcode_fuzz -j "$(nproc)"

# New inputs go to a scratch corpus; the seeds in the repository stay as they are.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$build/artifacts"
status=0
"$build/tests/transcode_fuzz" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
  -artifact_prefix="$build/artifacts/" "$scratch" tests/fuzz/corpus >"$scratch/log" 2>&1 || status=$?

runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$scratch/log")
if [ "$status" -ne 0 ] || [ -z "$runs" ]; then
  tail -n 40 "$scratch/log"
  echo "fuzz: FAILED (exit status $status)"
  exit 1
fi
coverage=$(grep -o 'cov: [0-9]*' "$scratch/log" | tail -n 1)
corpus=$(ls "$scratch" | grep -vc '^log$' || true)
paths=$(sed -n 's/^transcode_fuzz: paths //p' "$scratch/log" | head -n 1)
echo "fuzz: $runs executions in $seconds s on each of the paths $paths, $coverage," \
  "$corpus new corpus inputs, no failure"
