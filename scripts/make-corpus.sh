#!/usr/bin/env bash
# Builds a benchmark corpus of realistic Japanese text from Debian's Japanese manual pages
# (package manpages-ja, UTF-8): characters outside JIS X 0208 become '?', and the text is
# repeated up to the requested size. Writes, into OUTDIR (default: corpus/):
#   sjis-crlf.txt  Shift_JIS with CR LF line ends
#   euc-lf.txt     the same text as EUC-JP with LF line ends
# Usage: scripts/make-corpus.sh [SIZE_MIB (default 100)] [OUTDIR]
set -euo pipefail
size_mib=${1:-100}
outdir=${2:-$(cd "$(dirname "$0")/.." && pwd)/corpus}

if [ ! -d /usr/share/man/ja ]; then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
  # A mirror caught mid-sync fails one index now and then; the install below still says
  # plainly when a package cannot be had.
  $sudo apt-get update -qq || echo "make-corpus.sh: apt-get update reported errors; going on with the package lists it has" >&2
  # The image may exclude manual pages from installs; let this package's through.
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends manpages-ja >/dev/null
fi
mkdir -p "$outdir"

read -r -d '' build <<'PY' || true
import sys
size = int(sys.argv[1]) * 1024 * 1024
outdir = sys.argv[2]
text = sys.stdin.buffer.read().decode("utf-8", errors="replace")
# Keep only what JIS X 0208 (plus ASCII and half-width katakana) can hold.
sjis = text.encode("shift_jis", errors="replace")
text = sjis.decode("shift_jis")
if not text:
    sys.exit("no Japanese manual pages found under /usr/share/man/ja")
sjis = text.replace("\r\n", "\n").replace("\n", "\r\n").encode("shift_jis")
euc = text.replace("\r\n", "\n").encode("euc_jp")

def repeat(unit, path):
    # Whole lines only, so that no character is cut at the end.
    with open(path, "wb") as f:
        written = 0
        while written < size:
            chunk = unit[: size - written]
            if len(chunk) < len(unit):
                chunk = chunk[: chunk.rfind(b"\n") + 1]
                if not chunk:
                    break
            f.write(chunk)
            written += len(chunk)

repeat(sjis, f"{outdir}/sjis-crlf.txt")
repeat(euc, f"{outdir}/euc-lf.txt")
ascii_bytes = sum(1 for b in sjis if b < 0x80)
print(f"corpus: {len(sjis)} bytes of Shift_JIS text, {100 * ascii_bytes / len(sjis):.0f} % ASCII bytes; "
      f"repeated up to {size} bytes, in whole lines, in {outdir}")
PY
find /usr/share/man/ja -name '*.gz' -print0 | sort -z | xargs -0 zcat -f 2>/dev/null |
  python3 -c "$build" "$size_mib" "$outdir"
