#!/usr/bin/env bash
# Times kavoconv against its peers (nkf, ICU uconv, glibc iconv) and against cp of the same
# file: ~100 MiB of Japanese text, both directions, with and without newline conversion,
# all commands interleaved round by round in one run. Then peak memory (maximum resident
# set size from /usr/bin/time -v) for a 10 MiB and a 1 GiB input. Prints Markdown.
# Usage: bench/compare-peers.sh [ROUNDS (default 10)] [SIZE_MIB (default 100)]
# Environment: KAVO_BENCH_BUILD   build folder (default build/bench-release)
#              KAVO_BENCH_TMP     scratch folder, needs ~3.5 GiB (default: a new one in /tmp)
set -euo pipefail
rounds=${1:-10}
size_mib=${2:-100}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KAVO_BENCH_BUILD:-$root/build/bench-release}
work=${KAVO_BENCH_TMP:-$(mktemp -d /tmp/kavo-bench.XXXXXX)}
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

# Peers from Debian's packages; glibc's iconv is always there.
need=()
command -v nkf >/dev/null || need+=(nkf)
command -v uconv >/dev/null || need+=(icu-devtools)
command -v dos2unix >/dev/null || need+=(dos2unix)
[ -x /usr/bin/time ] || need+=(time)
command -v cmake >/dev/null || need+=(cmake make g++)
if [ ${#need[@]} -gt 0 ]; then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
  # A mirror caught mid-sync fails one index now and then; the install below still says
  # plainly when a package cannot be had.
  $sudo apt-get update -qq || echo "compare-peers.sh: apt-get update reported errors; going on with the package lists it has" >&2
  DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=600 install -y -qq \
    --no-install-recommends "${need[@]}" >/dev/null
fi

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKAVO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target kavoconv >/dev/null
"$root/scripts/make-corpus.sh" "$size_mib" "$work/corpus" >&2

python3 - "$rounds" "$work" "$build/cli/kavoconv" <<'PY'
import os, random, re, statistics, subprocess, sys, time

rounds, work, K = int(sys.argv[1]), sys.argv[2], sys.argv[3]
out = f"{work}/out"

# The corpus is cut at an exact size, which can split a character: every input here ends
# at a line end instead, so that each tool converts all of it and exits 0.
def make_input(name, corpus, size):
    unit = open(f"{work}/corpus/{corpus}", "rb").read()
    unit = unit[: unit.rindex(b"\n") + 1]
    path = f"{work}/{name}"
    with open(path, "wb") as f:
        written = 0
        while written + len(unit) <= size:
            f.write(unit)
            written += len(unit)
        rest = unit[: size - written]
        f.write(rest[: rest.rfind(b"\n") + 1])
    return path

size = os.path.getsize(f"{work}/corpus/sjis-crlf.txt")
sjis = make_input("sjis.txt", "sjis-crlf.txt", size)
euc = make_input("euc.txt", "euc-lf.txt", size)

def sh(command):
    return subprocess.run(["bash", "-o", "pipefail", "-c", command], stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE)

def fill(command, source):
    return command.replace("@IN@", source).replace("@OUT@", out)

# (case, input, [(tool, command, note)]); @IN@ and @OUT@ stand for the two files.
DD = "dd if=@IN@ of=@OUT@ bs=64k status=none"
cases = [
    ("Shift_JIS → EUC-JP", sjis, [
        ("kavoconv", f"{K} -e @IN@ @OUT@", ""),
        ("nkf", "nkf -x -S -e @IN@ > @OUT@", ""),
        ("uconv", "uconv -f Shift_JIS -t EUC-JP @IN@ > @OUT@", ""),
        ("iconv", "iconv -f SHIFT_JIS -t EUC-JP @IN@ > @OUT@", ""),
        ("cp", "cp @IN@ @OUT@", ""),
        ("dd bs=64k", DD, "no conversion: a plain 64 KiB read/write loop"),
    ]),
    ("Shift_JIS CR LF → EUC-JP LF", sjis, [
        ("kavoconv", f"{K} -e -l @IN@ @OUT@", ""),
        ("nkf", "nkf -x -S -e -Lu @IN@ > @OUT@", ""),
        ("uconv", "uconv -f Shift_JIS -t EUC-JP @IN@ | dos2unix -q -f > @OUT@", "piped through dos2unix"),
        ("iconv", "iconv -f SHIFT_JIS -t EUC-JP @IN@ | dos2unix -q -f > @OUT@", "piped through dos2unix"),
        ("cp", "cp @IN@ @OUT@", ""),
        ("dd bs=64k", DD, "no conversion: a plain 64 KiB read/write loop"),
    ]),
    ("EUC-JP → Shift_JIS", euc, [
        ("kavoconv", f"{K} -s @IN@ @OUT@", ""),
        ("nkf", "nkf -x -E -s @IN@ > @OUT@", ""),
        ("uconv", "uconv -f EUC-JP -t Shift_JIS @IN@ > @OUT@", ""),
        ("iconv", "iconv -f EUC-JP -t SHIFT_JIS @IN@ > @OUT@", ""),
        ("cp", "cp @IN@ @OUT@", ""),
        ("dd bs=64k", DD, "no conversion: a plain 64 KiB read/write loop"),
    ]),
    ("EUC-JP LF → Shift_JIS CR LF", euc, [
        ("kavoconv", f"{K} -s -l @IN@ @OUT@", ""),
        ("nkf", "nkf -x -E -s -Lw @IN@ > @OUT@", ""),
        ("uconv", "uconv -f EUC-JP -t Shift_JIS @IN@ | unix2dos -q -f > @OUT@", "piped through unix2dos"),
        ("iconv", "iconv -f EUC-JP -t SHIFT_JIS @IN@ | unix2dos -q -f > @OUT@", "piped through unix2dos"),
        ("cp", "cp @IN@ @OUT@", ""),
        ("dd bs=64k", DD, "no conversion: a plain 64 KiB read/write loop"),
    ]),
]
CONVERTERS = ("kavoconv", "nkf", "uconv", "iconv")

# Each timed run writes a new file (the old one is removed first, untimed), or, in the
# second table, overwrites a 100 MiB file that is already there (made first, untimed).
runs = []
for case, source, tools in cases:
    for tool, command, _ in tools:
        runs.append(("new", case, tool, fill(command, source), source))
for case, source, tools in cases:
    for tool, command, _ in tools:
        if tool in ("kavoconv", "cp"):
            runs.append(("existing", case, tool, fill(command, source), source))

def run_once(kind, command, source):
    if os.path.exists(out):
        os.remove(out)
    if kind == "existing":
        subprocess.run(["cp", source, out], check=True)
    start = time.perf_counter()
    done = sh(command)
    elapsed = time.perf_counter() - start
    if done.returncode != 0:
        sys.exit(f"failed ({done.returncode}): {command}\n{done.stderr.decode(errors='replace')}")
    return elapsed, os.path.getsize(out)

# Every input is read once beforehand, so all commands meet a warm page cache.
for path in (sjis, euc):
    with open(path, "rb") as f:
        while f.read(1 << 20):
            pass
times = {key[:3]: [] for key in runs}
sizes = {}
rng = random.Random(1)
for round_ in range(rounds + 1):
    order = runs[:]
    rng.shuffle(order)  # interleaved, in a new order each round
    for kind, case, tool, command, source in order:
        elapsed, written = run_once(kind, command, source)
        sizes[(case, tool)] = written
        if round_ > 0:  # round 0 warms up
            times[(kind, case, tool)].append(elapsed)
os.remove(out)

# A peer that quietly did nothing must not pass for a fast one: every converter's output
# is about as long as kavoconv's.
for case, _, tools in cases:
    for tool, _, _ in tools:
        if tool in CONVERTERS and abs(sizes[(case, tool)] - sizes[(case, "kavoconv")]) > sizes[(case, "kavoconv")] / 100:
            sys.exit(f"{case}: {tool} wrote {sizes[(case, tool)]} bytes, kavoconv {sizes[(case, 'kavoconv')]}")
# kavoconv's two directions undo each other on this text.
check = sh(f"{K} -e -l {sjis} {out}.euc && {K} -s -l {out}.euc {out}.back && cmp {sjis} {out}.back")
for leftover in (f"{out}.euc", f"{out}.back"):
    if os.path.exists(leftover):
        os.remove(leftover)
if check.returncode != 0:
    sys.exit("kavoconv round trip differs: " + check.stderr.decode(errors="replace"))

in_size = os.path.getsize(sjis)
print(f"Input: {in_size / 2**20:.1f} MiB of Shift_JIS CR LF text ({in_size:,} bytes) and its EUC-JP LF "
      f"form ({os.path.getsize(euc):,} bytes). {rounds} rounds after one warm-up round; in each round "
      f"every command of both tables runs once, in a shuffled order. Median and fastest wall time; "
      f"MB/s = 10^6 bytes of input per second at the median; × cp = median / median of cp.\n")

def table(kind, title):
    print(title + "\n")
    print("| Conversion | Tool | Median (ms) | Min (ms) | MB/s | × cp | Note |")
    print("|---|---|---:|---:|---:|---:|---|")
    for case, source, tools in cases:
        n = os.path.getsize(source)
        cp = statistics.median(times[(kind, case, "cp")])
        for tool, _, note in tools:
            if (kind, case, tool) not in times:
                continue
            t = times[(kind, case, tool)]
            m = statistics.median(t)
            print(f"| {case} | {tool} | {m * 1000:.0f} | {min(t) * 1000:.0f} | {n / m / 1e6:,.0f} | "
                  f"{m / cp:.2f} | {note} |")
    print()

table("new", "Destination created anew (removed before each run):")
table("existing", "Destination already there and overwritten (a 100 MiB file, made before each run):")

# Peak memory: the same for a small and a large input when nothing grows with the file.
MIB = 1 << 20
inputs = {}
for kind, corpus in (("sjis", "sjis-crlf.txt"), ("euc", "euc-lf.txt")):
    inputs[(kind, "small")] = make_input(f"small-{kind}.txt", corpus, 10 * MIB)
    inputs[(kind, "large")] = make_input(f"large-{kind}.txt", corpus, 1024 * MIB)
os.remove(sjis)
os.remove(euc)

# Each command runs straight under GNU time, without a shell, whose own peak would count.
def peak_kib(argv, source, stdin_file, stdout_file):
    argv = [source if a == "@IN@" else out if a == "@OUT@" else a for a in argv]
    with open(source if stdin_file else os.devnull, "rb") as i, open(out if stdout_file else os.devnull, "wb") as o:
        done = subprocess.run(["/usr/bin/time", "-v"] + argv, stdin=i, stdout=o, stderr=subprocess.PIPE,
                              text=True, errors="replace")
    if done.returncode != 0:
        sys.exit(f"failed ({done.returncode}): {' '.join(argv)}\n{done.stderr}")
    return int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", done.stderr).group(1))

print("Peak memory, maximum resident set size in KiB (GNU time -v), 10 MiB vs 1 GiB input:\n")
print("| Command | 10 MiB | 1 GiB |")
print("|---|---:|---:|")
# (label, argv, input kind, standard input is the input file, standard output is the output file)
memory = [
    ("kavoconv -e", [K, "-e", "@IN@", "@OUT@"], "sjis", False, False),
    ("kavoconv -e -l", [K, "-e", "-l", "@IN@", "@OUT@"], "sjis", False, False),
    ("kavoconv -s", [K, "-s", "@IN@", "@OUT@"], "euc", False, False),
    ("kavoconv -s -l", [K, "-s", "-l", "@IN@", "@OUT@"], "euc", False, False),
    ("kavoconv -s -l - - (standard input and output)", [K, "-s", "-l", "-", "-"], "euc", True, True),
    ("nkf -x -S -e", ["nkf", "-x", "-S", "-e", "@IN@"], "sjis", False, True),
    ("uconv -f Shift_JIS -t EUC-JP", ["uconv", "-f", "Shift_JIS", "-t", "EUC-JP", "@IN@"], "sjis", False, True),
    ("iconv -f SHIFT_JIS -t EUC-JP", ["iconv", "-f", "SHIFT_JIS", "-t", "EUC-JP", "@IN@"], "sjis", False, True),
    ("cp", ["cp", "@IN@", "@OUT@"], "sjis", False, False),
]
for label, argv, kind, stdin_file, stdout_file in memory:
    small = peak_kib(argv, inputs[(kind, "small")], stdin_file, stdout_file)
    large = peak_kib(argv, inputs[(kind, "large")], stdin_file, stdout_file)
    print(f"| {label} | {small:,} | {large:,} |")
    os.remove(out)
PY
