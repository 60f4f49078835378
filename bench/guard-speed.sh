#!/usr/bin/env bash
# What the guard of -i costs: kavoconv -i beside kavoconv -f -i on the same file, in both
# directions, each whole command timed on a fresh copy (made and flushed before the clock
# starts), the two interleaved round by round; medians. The file is the benchmark corpus
# (scripts/make-corpus.sh) of SIZE MiB, made in build/guard-corpus if missing.
# Usage: bench/guard-speed.sh [ROUNDS (default 11)] [SIZE_MIB (default 128)] [KAVOCONV]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-11}
size=${2:-128}
kavoconv=${3:-}
if [ -z "$kavoconv" ]; then
  cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$root/build/release" --target kavoconv -j2 >/dev/null
  kavoconv=$root/build/release/cli/kavoconv
fi
corpus=$root/build/guard-corpus
if [ ! -f "$corpus/sjis-crlf.txt" ] || [ "$(stat -c %s "$corpus/sjis-crlf.txt")" -lt $((size * 1024 * 1024 - 16)) ]; then
  "$root/scripts/make-corpus.sh" "$size" "$corpus" >/dev/null
fi
work=$corpus/work.txt
trap 'rm -f "$work"' EXIT

# Milliseconds of one run of kavoconv with the given options on a fresh copy of $1.
run() {
  local source=$1
  shift
  cp "$source" "$work"
  sync
  local start end
  start=$(date +%s%N)
  "$kavoconv" "$@" "$work"
  end=$(date +%s%N)
  echo $(((end - start) / 1000000))
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

echo "kavoconv -i beside -f -i, $size MiB, median of $rounds interleaved rounds ($(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')):"
echo
echo "| Conversion | -f -i | -i (guarded) | -i ÷ -f -i |"
echo "|---|---:|---:|---:|"
for direction in e s; do
  if [ $direction = e ]; then source=$corpus/sjis-crlf.txt; label="Shift_JIS → EUC-JP"; else source=$corpus/euc-lf.txt; label="EUC-JP → Shift_JIS"; fi
  forced=() guarded=()
  for ((r = 0; r < rounds; r++)); do
    forced+=("$(run "$source" -"$direction" -f -i)")
    guarded+=("$(run "$source" -"$direction" -i)")
  done
  f=$(printf '%s\n' "${forced[@]}" | median)
  g=$(printf '%s\n' "${guarded[@]}" | median)
  echo "| $label | $f ms | $g ms | $(awk -v g="$g" -v f="$f" 'BEGIN { printf "%.2f", g / f }') |"
done
