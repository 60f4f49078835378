#!/usr/bin/env bash
# Measures kavoconv's encoding guess and the guard of -i on a fixed corpus: the files of a
# fixed list of Debian packages (scripts/install-deps.sh installs them), so that every
# machine measures the same files.
#
# Japanese text, each piece written as its own file in Shift_JIS with CR LF line ends and
# in EUC-JP with LF (a character JIS X 0208 lacks is written as Windows' CP932 has it in the
# first, as JIS X 0213 has it in the second, else as '?'): Debian's Japanese manual pages
# (manpages-ja) as whole pages, their first five lines with Japanese text, and their middle
# such line alone (the first is nearly always the same heading, ".SH 名前"; the pages also
# as shipped, in UTF-8); entries of the SKK dictionary
# (skkdic) as one line each, the first word of an entry alone, and katakana words in
# half-width katakana. Other languages, whose bytes can pass for Japanese: Chinese manual
# pages (manpages-zh) in GBK and Big5, Korean ones (from login, passwd, man-db, psmisc,
# xz-utils) and Korean words (hunspell-ko) in CP949 (EUC-KR and its extension), European
# ones in ISO-8859-1, ISO-8859-2 and KOI8-R, as whole pages, one line and one word.
#
# Prints Markdown tables: kavoconv -g, nkf --guess and uchardet, right / wrong / can't tell,
# by source, length and encoding; how often each takes another language for Japanese; and
# what kavoconv -i (without -f) does to each file in each direction, judged by the
# conversion's arithmetic restated here in Python: converted and coming back whole, left
# unconverted, or damaged (converted in the wrong direction, or converted when some
# character would not come back). Exits 1 when kavoconv -g named a wrong encoding or -i
# damaged a file.
# Usage: scripts/guess-table.sh [KAVOCONV (default: a Release build in build/release)]
# KAVO_GUESS_DETAILS=FILE keeps every answer that was not right, and every file -i damaged
# or left unconverted, with what it is.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kavoconv=${1:-}
if [ -n "$kavoconv" ]; then
  kavoconv=$(realpath "$kavoconv")
else
  cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$root/build/release" --target kavoconv -j2 >/dev/null
  kavoconv=$root/build/release/cli/kavoconv
fi

# The packages read, and the peers; scripts/install-deps.sh installs them.
packages=(manpages-ja skkdic manpages-zh hunspell-ko login passwd man-db psmisc xz-utils nkf uchardet)
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    echo "guess-table.sh: package $p is missing; run scripts/install-deps.sh" >&2
    exit 2
  fi
done

# In memory where the system has a place for it: -i makes and removes a folder per file.
base=${TMPDIR:-/tmp}
if [ -d /dev/shm ] && [ -w /dev/shm ]; then base=/dev/shm; fi
work=$(mktemp -d -p "$base")
trap 'rm -rf "$work"' EXIT
mkdir "$work/files"
export XDG_CACHE_HOME=$work/cache  # kavoconv -i's private folders

# One file per piece and encoding in files/; truth.txt: NAME SOURCE LENGTH ENCODING.
python3 - "$work" "${packages[@]}" <<'PY'
import gzip, os, subprocess, sys, unicodedata
work, packages = sys.argv[1], sys.argv[2:]
files = {p: sorted(l for l in subprocess.run(["dpkg", "-L", p], capture_output=True, text=True, check=True)
                   .stdout.split("\n") if os.path.isfile(l) and not os.path.islink(l))
         for p in packages}
truth = open(f"{work}/truth.txt", "w")

def write(name, source, length, encoding, data):
    with open(f"{work}/files/{name}", "wb") as f:
        f.write(data)
    truth.write(f"{name} {source} {length} {'ascii' if all(b < 0x80 for b in data) else encoding}\n")

# Each character as the first codec that has it, else '?'.
def encode(text, codecs):
    out = bytearray()
    for c in text:
        for codec in codecs:
            try:
                out += c.encode(codec)
                break
            except UnicodeEncodeError:
                pass
        else:
            out += b"?"
    return bytes(out)

def japanese(name, source, length, text, utf8=False):
    lf = text.replace("\r\n", "\n")
    write(f"{name}.sjis", source, length, "sjis", encode(lf.replace("\n", "\r\n"), ("shift_jis", "cp932")))
    write(f"{name}.euc", source, length, "euc", encode(lf, ("euc_jp", "euc_jis_2004")))
    if utf8:
        write(f"{name}.utf8", source, length, "utf8", text.encode("utf-8"))

def high(line):
    return any(ord(c) > 127 for c in line)

def man_pages(package, language):
    prefix = f"/usr/share/man/{language}/"
    return [p for p in files[package] if p.startswith(prefix) and p.endswith(".gz")]

# Japanese manual pages: whole, the first five lines with Japanese text, the middle one.
for n, page in enumerate(man_pages("manpages-ja", "ja")):
    text = gzip.open(page).read().decode("utf-8", errors="replace")
    lines = [l for l in text.split("\n") if high(l)]
    japanese(f"man-ja-{n:04d}.page", "man-ja", "page", text, utf8=True)
    if lines:
        japanese(f"man-ja-{n:04d}.lines", "man-ja", "lines", "".join(l + "\n" for l in lines[:5]), utf8=True)
        japanese(f"man-ja-{n:04d}.line", "man-ja", "line", lines[len(lines) // 2] + "\n", utf8=True)

# The SKK dictionary (EUC-JP): every 300th entry as a line, its first word alone, and every
# 50th katakana word among the words in half-width katakana. (scripts/make-common-kanji.py
# leaves out every 150th entry, which takes in these.)
skk = [l for l in open([f for f in files["skkdic"] if f.endswith("/SKK-JISYO.L")][0], "rb").read().decode("euc_jp", errors="replace").split("\n")
       if l and not l.startswith(";")]
half = {unicodedata.normalize("NFKC", chr(c)): chr(c) for c in range(0xFF61, 0xFFA0)}
half.update({unicodedata.normalize("NFKC", chr(c) + chr(0xFF9E)): chr(c) + chr(0xFF9E) for c in range(0xFF61, 0xFFA0)})
half.update({unicodedata.normalize("NFKC", chr(c) + chr(0xFF9F)): chr(c) + chr(0xFF9F) for c in range(0xFF61, 0xFFA0)})
def halfwidth(word):
    out = ""
    for c in word:
        if c not in half:
            return None
        out += half[c]
    return out
katakana = []
for n, entry in enumerate(skk):
    words = [w.split(";")[0] for w in entry.split(" ", 1)[-1].strip("/").split("/") if w.split(";")[0]]
    if n % 300 == 0:
        japanese(f"skk-{n:06d}.line", "skk", "line", entry + "\n")
        if words:
            japanese(f"skk-{n:06d}.word", "skk", "word", words[0] + "\n")
    katakana += [w for w in words if len(w) > 1 and halfwidth(w)]
for n, word in enumerate(sorted(set(katakana))[::50]):
    japanese(f"skk-kana-{n:05d}.word", "skk-halfwidth", "word", halfwidth(word) + "\n")

# Other languages: whole pages, the first line with letters outside ASCII, and words.
def other(name, source, length, text, codec):
    data = text.encode(codec, errors="replace")
    if any(b >= 0x80 for b in data):
        write(name, source, length, "other", data)

for package, language, codec in (("manpages-zh", "zh_CN", "gbk"), ("manpages-zh", "zh_TW", "big5")) + tuple(
        (p, l, c) for p in ("login", "passwd", "man-db", "psmisc", "xz-utils")
        for l, c in (("ko", "cp949"), ("de", "latin_1"), ("fr", "latin_1"), ("pl", "iso8859_2"), ("ru", "koi8_r"))):
    for n, page in enumerate(man_pages(package, language)):
        text = gzip.open(page).read().decode("utf-8", errors="replace")
        lines = [l for l in text.split("\n") if high(l)]
        source = f"{language}-{codec}"
        other(f"{source}-{package}-{n:04d}.page", source, "page", text, codec)
        if lines:
            other(f"{source}-{package}-{n:04d}.line", source, "line", lines[0] + "\n", codec)
words = [l.split("/")[0] for l in open([f for f in files["hunspell-ko"] if f.endswith("/ko.dic")][0],
                                       encoding="utf-8").read().split("\n")[1:] if l and high(l)]
for n, word in enumerate(words[::400]):  # stored as decomposed jamo
    other(f"ko-cp949-word-{n:05d}.word", "ko-cp949", "word", unicodedata.normalize("NFC", word) + "\n", "cp949")
PY

cd "$work"
ls files > names.txt
(cd files && xargs -a ../names.txt "$kavoconv" -g > ../kavoconv.txt) || true
(cd files && xargs -a ../names.txt nkf --guess > ../nkf.txt)
(cd files && xargs -a ../names.txt uchardet > ../uchardet.txt)
# The guard: -i (without -f) in each direction on copies of every file but the UTF-8 ones.
for direction in e s; do
  mkdir "to-$direction"
  grep -v '\.utf8$' names.txt | (cd files && xargs cp -t "../to-$direction")
  (cd "to-$direction" && grep -v '\.utf8$' ../names.txt | xargs "$kavoconv" -"$direction" -i 2> ../guard-"$direction".txt) || true
done

status=0
(python3 - "$(nkf --version | head -1)" "$(dpkg-query -W -f='${Version}' uchardet)" "${packages[@]}" <<'PY'
import collections, subprocess, sys
CANT = "can't tell"
nkf_version, uchardet_version, packages = sys.argv[1], sys.argv[2], sys.argv[3:]
truth = {}
for line in open("truth.txt"):
    name, source, length, encoding = line.split()
    truth[name] = (source, length, encoding)
versions = subprocess.run(["dpkg-query", "-W", "-f=${Package} ${Version}\n"] + packages, capture_output=True,
                          text=True, check=True).stdout.split("\n")
print("Packages: " + ", ".join(v for v in versions if v) + ".\n")

def answers(path):
    result = {}
    for line in open(path, encoding="utf-8", errors="replace"):
        name, _, answer = line.rstrip("\n").partition(": ")
        result[name] = answer
    return result

# What each answer claims: an encoding of the four, "can't tell", or anything else.
def kavoconv_claim(answer):
    encoding = answer.split(" (")[0]
    return {"Shift_JIS": "sjis", "EUC-JP": "euc", "UTF-8": "utf8", "ASCII": "ascii",
            "Shift_JIS or EUC-JP": "either", "unknown": None}.get(encoding, "?")

# nkf names the variants too (CP932, EUCJP-MS, CP51932): each counts as its family.
def nkf_claim(answer):
    encoding = answer.split(" (")[0].upper()
    return {"SHIFT_JIS": "sjis", "CP932": "sjis", "WINDOWS-31J": "sjis", "EUC-JP": "euc", "CP51932": "euc",
            "EUCJP-MS": "euc", "UTF-8": "utf8", "ASCII": "ascii"}.get(encoding, "?")

def uchardet_claim(answer):
    return {"SHIFT_JIS": "sjis", "EUC-JP": "euc", "UTF-8": "utf8", "ASCII": "ascii",
            "unknown": None}.get(answer.strip(), "?")

tools = [("kavoconv -g", answers("kavoconv.txt"), kavoconv_claim),
         (f"nkf --guess ({nkf_version.split('Version ')[-1].split(' ')[0]})", answers("nkf.txt"), nkf_claim),
         (f"uchardet ({uchardet_version})", answers("uchardet.txt"), uchardet_claim)]
LENGTHS = {"page": "whole", "lines": "five lines", "line": "one line", "word": "one word"}
ENCODINGS = {"sjis": "Shift_JIS", "euc": "EUC-JP", "utf8": "UTF-8", "ascii": "ASCII only"}
SOURCES = {"man-ja": "manual pages", "skk": "SKK dictionary", "skk-halfwidth": "SKK katakana, half-width"}
kavoconv_wrong = 0
details = open("details.txt", "w")

print("| Japanese text | Files | " + " | ".join(f"{t[0]}: right / wrong / can't tell" for t in tools) + " |")
print("|---|---:|" + "---:|" * len(tools))
totals = collections.Counter()
for source, source_label in SOURCES.items():
    for length, length_label in LENGTHS.items():
        for encoding, encoding_label in ENCODINGS.items():
            names = [n for n, t in truth.items() if t == (source, length, encoding)]
            if not names:
                continue
            cells = []
            for tool, said, claim in tools:
                counts = collections.Counter()
                for name in names:
                    c = claim(said.get(name, ""))
                    verdict = CANT if c in (None, "either") else "right" if c == encoding else "wrong"
                    counts[verdict] += 1
                    if verdict != "right":
                        details.write(f"{name} {encoding} {tool.split()[0]}: {said.get(name, '')}\n")
                for k, v in counts.items():
                    totals[(tool, k)] += v
                if tool.startswith("kavoconv"):
                    kavoconv_wrong += counts["wrong"]
                cells.append(f"{counts['right']} / {counts['wrong']} / {counts[CANT]}")
            print(f"| {source_label}, {length_label}, {encoding_label} | {len(names)} | " + " | ".join(cells) + " |")
print("| **all** | " + str(sum(totals[(tools[0][0], k)] for k in ("right", "wrong", CANT))) + " | " +
      " | ".join(f"**{totals[(t[0], 'right')]} / {totals[(t[0], 'wrong')]} / {totals[(t[0], CANT)]}**"
                 for t in tools) + " |")

# Other languages: an answer of Shift_JIS, EUC-JP or "Shift_JIS or EUC-JP" is wrong;
# kavoconv should say unknown.
print("\n| Other languages | Files | " + " | ".join(f"{t[0]}: taken for Shift_JIS or EUC-JP" for t in tools) + " |")
print("|---|---:|" + "---:|" * len(tools))
others = collections.defaultdict(list)
for n, (source, length, encoding) in truth.items():
    if encoding == "other":
        others[(source, length)].append(n)
for (source, length), names in sorted(others.items()):
    cells = []
    for tool, said, claim in tools:
        taken = [n for n in names if claim(said.get(n, "")) in ("sjis", "euc", "either")]
        if tool.startswith("kavoconv"):
            wrong = [n for n in names if claim(said.get(n, "")) is not None]
            kavoconv_wrong += len(wrong)
            for n in wrong:
                details.write(f"{n} other kavoconv: {said.get(n, '')}\n")
        cells.append(str(len(taken)))
    print(f"| {source}, {LENGTHS[length]} | {len(names)} | " + " | ".join(cells) + " |")

# The conversion's arithmetic, restated from its description: whether converting the
# bytes in one direction and back gives them again.
def sjis_to_euc(data):
    out, i = bytearray(), 0
    while i < len(data):
        c = data[i]
        if c < 0x80:
            out.append(c)
        elif 0xA0 <= c <= 0xDF:
            out += bytes((0x8E, c))
        elif 0x81 <= c <= 0x9F or 0xE0 <= c <= 0xFC:
            if i + 1 == len(data):
                out.append(c)
            else:
                t = data[i + 1]
                r = (2 * ((c - (0x71 if c <= 0x9F else 0xB1)) % 256) + 1) % 256
                t = t - 1 if t > 0x7F else t
                if t >= 0x9E:
                    t, r = (t - 0x7D) % 256, (r + 1) % 256
                else:
                    t = (t - 0x1F) % 256
                out += bytes(((r + 0x80) % 256, (t + 0x80) % 256))
                i += 1
        i += 1
    return bytes(out)

def euc_to_sjis(data):
    out, i = bytearray(), 0
    while i < len(data):
        c = data[i]
        if c < 0x80:
            out.append(c)
        elif i + 1 == len(data):
            out.append(c)
        elif c == 0x8E:
            out.append(data[i + 1])
            i += 1
        else:
            j1, j2 = (c + 0x80) % 256, (data[i + 1] + 0x80) % 256
            t = (j2 + (0x1F if j1 % 2 else 0x7D)) % 256
            r = (((j1 - 0x21) % 256) // 2 + 0x81) % 256
            if t >= 0x7F:
                t = (t + 1) % 256
            if r > 0x9F:
                r = (r + 0x40) % 256
            out += bytes((r, t))
            i += 1
        i += 1
    return bytes(out)

def comes_back(data, direction):
    there, back = (sjis_to_euc, euc_to_sjis) if direction == "e" else (euc_to_sjis, sjis_to_euc)
    return back(there(data)) == data

# The guard: each file in each direction. A Japanese file in the encoding converted from
# should be converted when every character comes back; any other converted file is damaged.
print("\n| kavoconv -i | Files | converted, coming back | left unconverted | lossy, skipped | damaged |")
print("|---|---:|---:|---:|---:|---:|")
guard_damaged = 0
rows = collections.OrderedDict()
for direction, source_encoding in (("e", "sjis"), ("s", "euc")):
    for name, (source, length, encoding) in sorted(truth.items()):
        if encoding in ("utf8", "ascii"):
            continue
        before = open(f"files/{name}", "rb").read()
        converted = open(f"to-{direction}/{name}", "rb").read() != before
        should = encoding == source_encoding
        lossless = comes_back(before, direction)
        kind = ("Japanese, " + ENCODINGS[encoding] + (" (to convert)" if should else " (already converted)")
                if encoding != "other" else "other languages")
        row = rows.setdefault((kind, length), collections.Counter())
        row["files"] += 1
        if converted and should and lossless:
            row["right"] += 1
        elif converted:
            row["damaged"] += 1
            guard_damaged += 1
            details.write(f"{name} {encoding} kavoconv -{direction} -i: damaged\n")
        elif should and lossless:
            row["left"] += 1
            details.write(f"{name} {encoding} kavoconv -{direction} -i: left unconverted\n")
        elif should:
            row["lossy"] += 1
for (kind, length), row in sorted(rows.items(), key=lambda r: (r[0][0], list(LENGTHS).index(r[0][1]))):
    print(f"| {kind}, {LENGTHS[length]} | {row['files']} | {row['right']} | {row['left']} | {row['lossy']} | "
          f"{row['damaged']} |")
print("\n| Lossless Japanese files to convert | Files | left unconverted |\n|---|---:|---:|")
for label, lengths in [(LENGTHS[l], (l,)) for l in LENGTHS] + [("all", tuple(LENGTHS))]:
    right = sum(r["right"] for (k, l), r in rows.items() if l in lengths)
    left = sum(r["left"] for (k, l), r in rows.items() if l in lengths)
    print(f"| {label} | {right + left} | {left} ({100 * left / max(1, right + left):.1f} %) |")
print(f"\nkavoconv -g named a wrong encoding {kavoconv_wrong} times; kavoconv -i damaged {guard_damaged} files.")
sys.exit(1 if kavoconv_wrong or guard_damaged else 0)
PY
) || status=$?
if [ -n "${KAVO_GUESS_DETAILS:-}" ]; then cp details.txt "$KAVO_GUESS_DETAILS"; fi
exit $status
