#!/usr/bin/env bash
# Measures kavoconv --guess against nkf --guess and uchardet on Debian's Japanese manual
# pages (package manpages-ja): each page as its own file in Shift_JIS with CR LF line
# ends, in EUC-JP with LF, and as shipped (UTF-8); the same for its first five lines
# with Japanese text, and for the first such line alone, where there is little to go on. Characters
# outside JIS X 0208 become '?' in the Shift_JIS and EUC-JP files. Prints a Markdown
# table of right, wrong and "can't tell" per tool and encoding. Then, where the system
# has them, the manual pages in Korean, Chinese and European languages in their legacy
# encodings (EUC-KR, GB2312, Big5, ISO-8859-1, ISO-8859-2, KOI8-R), whose bytes can
# pass for Japanese: how often each tool takes them for Shift_JIS or EUC-JP. Exits 1
# when kavoconv guessed wrong even once.
# Usage: scripts/guess-table.sh [KAVOCONV (default: a Release build in build/release)]
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

missing=()
[ -d /usr/share/man/ja ] || missing+=(manpages-ja)
command -v nkf >/dev/null || missing+=(nkf)
command -v uchardet >/dev/null || missing+=(uchardet)
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One file per page and form, named NNNN.FORM.ENCODING; truth.txt says what each is.
python3 - "$work" <<'PY'
import glob, gzip, os, sys
work = sys.argv[1]
pages = sorted(p for p in glob.glob("/usr/share/man/ja/**/*.gz", recursive=True) if not os.path.islink(p))
if not pages:
    sys.exit("no Japanese manual pages found under /usr/share/man/ja")
with open(f"{work}/truth.txt", "w") as truth:
    for n, page in enumerate(pages):
        text = gzip.open(page).read().decode("utf-8", errors="replace")
        lines = [l for l in text.split("\n") if any(ord(c) > 127 for c in l)]
        forms = {"page": text, "lines": "".join(l + "\n" for l in lines[:5]), "line": (lines[0] + "\n") if lines else ""}
        for form, body in forms.items():
            if not body:
                continue
            lf = body.replace("\r\n", "\n")
            for encoding, data in (("sjis", lf.replace("\n", "\r\n").encode("shift_jis", errors="replace")),
                                   ("euc", lf.encode("euc_jp", errors="replace")),
                                   ("utf8", body.encode("utf-8"))):
                name = f"{n:04d}.{form}.{encoding}"
                with open(f"{work}/{name}", "wb") as f:
                    f.write(data)
                ascii_only = all(b < 0x80 for b in data)
                truth.write(f"{name} {'ascii' if ascii_only else encoding}\n")
    others = {"ko": "euc_kr", "zh_CN": "gb2312", "zh_TW": "big5", "de": "latin_1", "fr": "latin_1",
              "pl": "iso8859_2", "ru": "koi8_r"}
    for language, encoding in others.items():
        pages = sorted(p for p in glob.glob(f"/usr/share/man/{language}/**/*.gz", recursive=True)
                       if not os.path.islink(p))
        for n, page in enumerate(pages):
            text = gzip.open(page).read().decode("utf-8", errors="replace")
            lines = [l for l in text.split("\n") if any(ord(c) > 127 for c in l)]
            for form, body in (("page", text), ("line", (lines[0] + "\n") if lines else "")):
                data = body.encode(encoding, errors="replace")
                if any(b >= 0x80 for b in data):
                    name = f"{n:04d}.{form}.{language}-{encoding}"
                    with open(f"{work}/{name}", "wb") as f:
                        f.write(data)
                    truth.write(f"{name} other\n")
PY

cd "$work"
ls | grep -v '\.txt$' > names.txt
xargs -a names.txt "$kavoconv" -g > kavoconv.txt || true
xargs -a names.txt nkf --guess > nkf.txt
xargs -a names.txt uchardet > uchardet.txt

status=0
(python3 - "$(nkf --version | head -1)" "$(dpkg-query -W -f='${Version}' uchardet)" <<'PY'
import collections, sys
CANT = "can't tell"
nkf_version, uchardet_version = sys.argv[1], sys.argv[2]
truth = dict(line.split() for line in open("truth.txt"))

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
rows = [("page", "sjis", "whole pages, Shift_JIS CR LF"), ("page", "euc", "whole pages, EUC-JP LF"),
        ("page", "utf8", "whole pages, UTF-8"), ("page", "ascii", "whole pages, ASCII only"),
        ("lines", "sjis", "five lines, Shift_JIS CR LF"), ("lines", "euc", "five lines, EUC-JP LF"),
        ("lines", "utf8", "five lines, UTF-8"), ("lines", "ascii", "five lines, ASCII only"),
        ("line", "sjis", "one line, Shift_JIS CR LF"), ("line", "euc", "one line, EUC-JP LF"),
        ("line", "utf8", "one line, UTF-8"), ("line", "ascii", "one line, ASCII only")]
print("| Files | Count | " + " | ".join(f"{t[0]}: right / wrong / can't tell" for t in tools) + " |")
print("|---|---:|" + "---:|" * len(tools))
kavoconv_wrong = 0
totals = collections.Counter()
for form, encoding, label in rows:
    # An ASCII-only text is counted once, though the Shift_JIS and EUC-JP forms of a line
    # whose only other characters became '?' may be all that is ASCII of it.
    names = [n for n, t in truth.items() if n.split(".")[1] == form and t == encoding]
    if encoding == "ascii":
        names = list({n.split(".")[0]: n for n in sorted(names, key=lambda n: n.endswith(".euc"))}.values())
    if not names:
        continue
    cells = []
    for tool, said, claim in tools:
        counts = collections.Counter()
        for name in names:
            c = claim(said.get(name, ""))
            counts[CANT if c in (None, "either") else "right" if c == encoding else "wrong"] += 1
        for k, v in counts.items():
            totals[(tool, k)] += v
        if tool.startswith("kavoconv"):
            kavoconv_wrong += counts["wrong"]
        cells.append(f"{counts['right']} / {counts['wrong']} / {counts[CANT]}")
    print(f"| {label} | {len(names)} | " + " | ".join(cells) + " |")
print("| **all** | " + str(sum(totals[(tools[0][0], k)] for k in ("right", "wrong", "can't tell"))) + " | " +
      " | ".join(f"**{totals[(t[0], 'right')]} / {totals[(t[0], 'wrong')]} / {totals[(t[0], CANT)]}**"
                 for t in tools) + " |")
with open("answers-not-right.txt", "w") as out:
    for name, t in sorted(truth.items()):
        for tool, said, claim in tools:
            if claim(said.get(name, "")) != t:
                out.write(f"{name} {t} {tool.split()[0]}: {said.get(name, '')}\n")
# How much text kavoconv's doubts had to go on.
doubts = [n for n in truth if truth[n] != "other" and kavoconv_claim(tools[0][1].get(n, "")) in (None, "either")]
if doubts:
    most = max(sum(1 for b in open(n, "rb").read() if b >= 0x80) for n in doubts)
    print(f"\nkavoconv could not tell on {len(doubts)} files, each with at most {most} bytes above 0x7F.")

# Other languages: an answer of Shift_JIS, EUC-JP or "Shift_JIS or EUC-JP" would have
# kavoconv -i convert the file, and is wrong; kavoconv should say unknown.
others = sorted({n.split(".", 2)[2] for n, t in truth.items() if t == "other"})
if others:
    print("\n| Other languages | Files | " + " | ".join(f"{t[0]}: taken for Shift_JIS or EUC-JP" for t in tools) + " |")
    print("|---|---:|" + "---:|" * len(tools))
    for language in others:
        names = [n for n in truth if n.endswith("." + language)]
        cells = []
        for tool, said, claim in tools:
            taken = sum(1 for n in names if claim(said.get(n, "")) in ("sjis", "euc", "either"))
            if tool == tools[0][0]:
                kavoconv_wrong += sum(1 for n in names if claim(said.get(n, "")) is not None)
            cells.append(str(taken))
        print(f"| {language} | {len(names)} | " + " | ".join(cells) + " |")
sys.exit(1 if kavoconv_wrong else 0)
PY
) || status=$?
# KAVO_GUESS_DETAILS=FILE keeps every answer that was not right, with the right one.
if [ -n "${KAVO_GUESS_DETAILS:-}" ]; then cp answers-not-right.txt "$KAVO_GUESS_DETAILS"; fi
exit $status
