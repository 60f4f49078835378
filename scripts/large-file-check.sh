#!/usr/bin/env bash
# Converts a large generated file (default 1 GiB; nothing is kept) with kavoconv and checks
# that peak memory does not grow with the input, and that the output matches a second,
# independent conversion (Python's codecs, streamed) by SHA-256.
# Usage: scripts/large-file-check.sh [MIB (default 1024)]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
mib=${1:-1024}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DKAVO_BUILD_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc)" --target kavoconv >/dev/null
kavoconv=$root/build/release/cli/kavoconv
scripts/make-corpus.sh 10 "$work/unit" >/dev/null

# Repeats the 10 MiB unit up to the size asked for.
generate() {
  local size=$(($1 * 1024 * 1024))
  # head ends the endless loop early; that broken pipe is the plan, not a failure.
  { while cat "$work/unit/sjis-crlf.txt"; do :; done 2>/dev/null | head -c "$size"; } || true
}

# The same conversion done independently: decode Shift_JIS, CR LF to LF, encode EUC-JP.
read -r -d '' independent <<'PY' || true
import codecs, hashlib, sys
decoder = codecs.getincrementaldecoder("shift_jis")()
digest = hashlib.sha256()
pending_cr = ""
while True:
    block = sys.stdin.buffer.read(1 << 20)
    text = pending_cr + decoder.decode(block, final=not block)
    pending_cr = ""
    if block and text.endswith("\r"):
        text, pending_cr = text[:-1], "\r"
    digest.update(text.replace("\r\n", "\n").encode("euc_jp"))
    if not block:
        break
print(digest.hexdigest())
PY

# Prints: peak resident kilobytes, seconds, sha256 of the output.
measure() {
  local input=$1 output=$2
  /usr/bin/time -f '%M %e' -o "$work/time" "$kavoconv" -e -l "$input" "$output"
  echo "$(cat "$work/time") $(sha256sum < "$output" | cut -d' ' -f1)"
}

generate 10 > "$work/small.txt"
read -r small_kb small_s _ <<< "$(measure "$work/small.txt" "$work/small.out")"

generate "$mib" > "$work/large.txt"
read -r large_kb large_s large_sum <<< "$(measure "$work/large.txt" "$work/large.out")"
expected=$(python3 -c "$independent" < "$work/large.txt")

echo "input      peak memory  time"
printf '10 MiB     %6d KiB   %5.2f s\n' "$small_kb" "$small_s"
printf '%-10s %6d KiB   %5.2f s\n' "$mib MiB" "$large_kb" "$large_s"
echo "kavoconv    sha256 $large_sum"
echo "independent sha256 $expected"

status=0
[ "$large_sum" = "$expected" ] || { echo "FAIL: the outputs differ"; status=1; }
# A few pages of slack for the allocator and the dynamic loader; the data must not show.
[ "$large_kb" -le $((small_kb + 512)) ] || { echo "FAIL: peak memory grew with the input"; status=1; }
[ $status -eq 0 ] && echo "OK: same output, same peak memory"
exit $status
