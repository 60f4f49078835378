#!/usr/bin/env bash
# Checks that the transcoder tests catch a fault in any path's arithmetic: in a copy of
# the tree, changes one constant (or one shuffle, one class bound) at a time, rebuilds
# transcode_tests and runs it, and prints which paths' tests failed. Every change must
# fail the tests of each path it touches (or crash the test program); exits non-zero when
# one passes unseen.
# The tree itself is not touched. Takes about half a minute per change.
#   scripts/mutation-check.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d /tmp/kavo-mutation.XXXXXX)
trap 'rm -rf "$work"' EXIT
(cd "$root" && git ls-files -z | xargs -0 cp --parents -t "$work")
cmake -S "$work" -B "$work/build" -DCMAKE_BUILD_TYPE=Release >/dev/null

python3 - "$work" <<'PY'
import re, subprocess, sys
work = sys.argv[1]
STEPS, X86, RULES = "convert/transcode_steps.inc", "convert/transcode_x86.cpp", "convert/transcode_rules.h"
VECTOR, ALL = {"sse2", "ssse3", "avx2"}, {"plain", "sse2", "ssse3", "avx2"}
SSE, SSSE3, AVX2, SHUFFLES = {"sse2", "ssse3"}, {"ssse3"}, {"avx2"}, {"ssse3", "avx2"}
# (what, file, text, changed text, paths it touches)
changes = [
    ("Shift_JIS first byte: 0x9F", STEPS, "V::Add(twice, Bytes<0x9F>())", "V::Add(twice, Bytes<0xA0>())", VECTOR),
    ("Shift_JIS first byte: 0x80 from 0xE0", STEPS, "V::Add(twice, twice), Bytes<0x80>()",
     "V::Add(twice, twice), Bytes<0x40>()", VECTOR),
    ("Shift_JIS first byte: second byte from 0x9F", STEPS, "Bytes<0x9F - 0x81>());  // s2 >= 0x9F",
     "Bytes<0x9F - 0x80>());  // s2 >= 0x9F", VECTOR),
    ("Shift_JIS second byte: 0x61", STEPS, "V::Add(s1, Bytes<0x61>())", "V::Add(s1, Bytes<0x62>())", VECTOR),
    ("Shift_JIS second byte: from 0x80", STEPS, "V::GtSigned(x, Bytes<-1>())", "V::GtSigned(x, Bytes<0>())", VECTOR),
    ("Shift_JIS second byte: 0x5E", STEPS, "Bytes<0x100 - 0x5E>()", "Bytes<0x100 - 0x5F>()", VECTOR),
    ("Shift_JIS first-byte class, upper bound", STEPS, "V::GtSigned(Bytes<-68>()", "V::GtSigned(Bytes<-67>()", VECTOR),
    ("Shift_JIS first-byte class, lower bound", STEPS, "Bytes<0x100 - 0x21>()", "Bytes<0x100 - 0x22>()", VECTOR),
    ("EUC-JP first byte: 0x5F", STEPS, "V::Add(s1, Bytes<0x5F>())", "V::Add(s1, Bytes<0x60>())", VECTOR),
    ("EUC-JP first byte: above 0x9F", STEPS, "V::GtSigned(u, Bytes<0x1F>())", "V::GtSigned(u, Bytes<0x20>())", VECTOR),
    ("EUC-JP first byte: 0x40", STEPS, "Bytes<0x100 - 0x40>()", "Bytes<0x100 - 0x41>()", VECTOR),
    ("EUC-JP second byte: 0xFD", STEPS, "V::Sub(Bytes<0xFD>()", "V::Sub(Bytes<0xFC>()", VECTOR),
    ("EUC-JP second byte: odd and even", STEPS, "Bytes<0xFD - 0x9F>()", "Bytes<0xFD - 0xA0>()", VECTOR),
    ("EUC-JP second byte: from 0x7F", STEPS, "Bytes<-2>()", "Bytes<-3>()", VECTOR),
    ("EUC-JP katakana prefix", STEPS, "StepEqual<EUC_KANA_PREFIX>(s1)", "StepEqual<0x8F>(s1)", VECTOR),
    ("SSE2 mask from bits", X86, "0x8040201008040201ULL);  // bit k of byte k",
     "0x8040201008040202ULL);  // bit k of byte k", SSE),
    ("SSE2 byte carried between vectors", X86, "_mm_srli_si128(before, 15)", "_mm_srli_si128(before, 14)", SSE),
    ("AVX2 mask from bits", X86, "3, 3, 3, 3, 3, 3, 3, 3);", "3, 3, 3, 3, 3, 3, 3, 2);", AVX2),
    ("AVX2 byte carried across halves", X86, "_mm256_permute2x128_si256(before, x, 0x21), 15)",
     "_mm256_permute2x128_si256(before, x, 0x21), 14)", AVX2),
    ("shuffles: the second eight of a lane, leaving out", X86, "(unsigned char)(t.compact[0][8 * m + k] + 8)",
     "(unsigned char)(t.compact[0][8 * m + k] + 7)", SHUFFLES),
    ("shuffles: the second eight of a lane, putting in", X86, "(unsigned char)(t.expand[0][16 * m + k] + 8)",
     "(unsigned char)(t.expand[0][16 * m + k] + 7)", SHUFFLES),
    ("shuffles: where a byte is put in", X86, "t.expand[0][16 * m + grown++] = 0x80;",
     "t.expand[0][16 * m + grown++] = 0x70;", SHUFFLES),
    ("shuffles: how many are kept", X86, "t.kept[m] = (unsigned char)kept;", "t.kept[m] = (unsigned char)(kept | 1);",
     SHUFFLES),
    ("shuffles: how many are written, SSSE3", X86, "t.grown[m] = (unsigned char)grown;",
     "t.grown[m] = (unsigned char)(grown | 1);", SSSE3),
    ("shuffles: the byte put in, SSSE3", X86, "_mm_cmpgt_epi8(_mm_setzero_si128(), shuffle)",
     "_mm_cmpgt_epi8(shuffle, _mm_setzero_si128())", SSSE3),
    ("shuffles: AVX2 rows of the mask bytes", X86, "bits >> (8 * g - 4) & 0xFF0", "bits >> (8 * g - 3) & 0xFF0", AVX2),
    ("shuffles: how many are written, AVX2", X86, "at += 8 + (size_t)_mm_popcnt_u32((unsigned)m[g]);",
     "at += 7 + (size_t)_mm_popcnt_u32((unsigned)m[g]);", AVX2),
    ("shuffles: the CR put in", STEPS, ": Bytes<BYTE_CR>();", ": Bytes<BYTE_CR + 1>();", SHUFFLES),
    ("shuffles: half-width katakana bound", STEPS, "V::GtSigned(Bytes<0x40 - 0x80>()", "V::GtSigned(Bytes<0x3F - 0x80>()",
     SHUFFLES),
    ("rules: Shift_JIS 0x71", RULES, "(s1 <= 0x9F ? 0x71 : 0xB1)", "(s1 <= 0x9F ? 0x72 : 0xB1)", ALL),
    ("rules: EUC-JP 0x7D", RULES, "((j1 & 1) ? 0x1F : 0x7D)", "((j1 & 1) ? 0x1F : 0x7E)", ALL),
    ("rules: half-width katakana bound", RULES, "return c >= 0xA0 && c <= 0xDF;",
     "return c >= 0xA0 && c <= 0xDE;", ALL),
]

def build_and_run():
    """The paths whose tests failed; None when the test program died of a signal."""
    subprocess.run(["cmake", "--build", f"{work}/build", "-j2", "--target", "transcode_tests"], check=True,
                   stdout=subprocess.DEVNULL)
    run = subprocess.run([f"{work}/build/tests/transcode_tests"], capture_output=True, text=True)
    if run.returncode < 0:
        return None
    return {m.split("/")[-1] for m in re.findall(r"\[  FAILED  \] Path/Transcoder\.\S+/(\w+)", run.stdout)}

if build_and_run() != set():
    sys.exit("the tests fail before any change")
listed = subprocess.run([f"{work}/build/tests/transcode_tests", "--gtest_list_tests"], capture_output=True,
                        text=True).stdout
present = set(re.findall(r"/(plain|sse2|ssse3|avx2)\b", listed))  # the paths this processor runs
unseen = 0
print("| Change | Paths it touches | Paths whose tests failed |")
print("|---|---|---|")
for what, name, text, changed, paths in changes:
    path = f"{work}/{name}"
    source = open(path).read()
    if source.count(text) != 1:
        sys.exit(f"{what}: the text to change is not there exactly once")
    open(path, "w").write(source.replace(text, changed))
    try:
        failed = build_and_run()
    finally:
        open(path, "w").write(source)
    touched = paths & present
    if failed is None:  # a crash (a misaligned load, a wild write) stops them all
        print(f"| {what} | {', '.join(sorted(touched))} | the test program crashed |")
        continue
    unseen += bool(touched - failed)
    print(f"| {what} | {', '.join(sorted(touched))} | {', '.join(sorted(failed)) or 'none'} |")
sys.exit(1 if unseen else 0)
PY
