#!/usr/bin/env python3
"""Writes cli/common_kanji.inc: which JIS X 0208 kanji are the 1,000 most common, for the
guess, which tells Japanese text from Chinese and Korean text read as Japanese partly by how
common its kanji are. Commonness is the number of entries of the SKK dictionary (package
skkdic) whose words hold the kanji, leaving out every 150th entry: those are the ones
scripts/guess-table.sh measures the guess on. Run again only to change the list.
Usage: scripts/make-common-kanji.py [OUTPUT]"""
import collections
import os
import sys

COUNT = 1000
SKIPPED_EVERY = 150  # as in scripts/guess-table.sh
output = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "cli", "common_kanji.inc")
entries = [line for line in open("/usr/share/skk/SKK-JISYO.L", "rb").read().decode("euc_jp", errors="replace")
           .split("\n") if line and not line.startswith(";")]
counts = collections.Counter()
for n, entry in enumerate(entries):
    if n % SKIPPED_EVERY == 0:
        continue
    kanji = set()
    for word in entry.split(" ", 1)[-1].strip("/").split("/"):
        for c in word.split(";")[0]:
            try:
                code = c.encode("euc_jp")
            except UnicodeEncodeError:
                continue
            if len(code) == 2 and code[0] >= 0xB0:  # rows 16 on: the kanji
                kanji.add(code)
    counts.update(kanji)
# Most common first; among equals, in JIS order, so that the list does not depend on chance.
common = sorted(sorted(counts, key=lambda code: (-counts[code], code))[:COUNT])
bits = bytearray((94 * 94 + 7) // 8)
for code in common:
    index = (code[0] - 0xA1) * 94 + (code[1] - 0xA1)
    bits[index >> 3] |= 1 << (index & 7)
with open(output, "w") as out:
    out.write("// Made by scripts/make-common-kanji.py: bit (row - 1) * 94 + (cell - 1) is set for the\n")
    out.write(f"// {COUNT} JIS X 0208 kanji that the most entries of the SKK dictionary hold.\n")
    for at in range(0, len(bits), 16):
        out.write(" ".join(f"0x{b:02X}," for b in bits[at:at + 16]) + "\n")
