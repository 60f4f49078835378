#!/usr/bin/env bash
# Times the Windows build's kavoconv.exe under Wine against Wine's own `copy` of the same
# file (`wine cmd /c copy /y`), both directions, with and without the newline rule, all
# commands interleaved round by round in one run, in a private Wine prefix. Each time is
# the whole command, Wine's start included, as a user meets it. Prints Markdown.
# Usage: bench/compare-wine.sh [ROUNDS (default 10)] [SIZE_MIB (default 256)]
# Environment: KAVO_BENCH_WIN32  Windows build folder (default build/bench-win32)
#              KAVO_BENCH_TMP    scratch folder, needs ~4 x SIZE_MIB (default: a new one in /tmp)
# Needs a display for Wine's start-up: without one it runs itself under xvfb-run.
set -euo pipefail
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s '-screen 0 1024x768x24 -nolisten tcp' "$0" "$@"
fi
rounds=${1:-10}
size_mib=${2:-256}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KAVO_BENCH_WIN32:-$root/build/bench-win32}
work=${KAVO_BENCH_TMP:-$(mktemp -d /tmp/kavo-wine-bench.XXXXXX)}
mkdir -p "$work"

cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DKAVO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target kavoconv >/dev/null
"$root/scripts/make-corpus.sh" "$size_mib" "$work/corpus" >&2

. "$root/scripts/wine-env.sh"
export KAVO_WINE_ROOT="$work/wine"
trap 'kavo_wine_cleanup; rm -rf "$work"' EXIT
kavo_wine_setup
# The set-up leaves a server that stays up; Wine's own processes are started here, where
# they do not hold the timed commands' pipes.
wine cmd /c exit >/dev/null 2>&1 || true

python3 - "$rounds" "$work" "$build/cli/kavoconv.exe" <<'PY'
import os, random, statistics, subprocess, sys, time

rounds, work, exe = int(sys.argv[1]), sys.argv[2], sys.argv[3]

def windows(path):
    return subprocess.run(["winepath", "-w", path], capture_output=True, text=True, check=True).stdout.strip()

sjis, euc = f"{work}/corpus/sjis-crlf.txt", f"{work}/corpus/euc-lf.txt"
out = f"{work}/out.txt"
K, OUT = windows(exe), windows(out)
cases = [  # (case, input, kavoconv options)
    ("Shift_JIS → EUC-JP", sjis, ["-e"]),
    ("Shift_JIS CR LF → EUC-JP LF", sjis, ["-e", "-l"]),
    ("EUC-JP → Shift_JIS", euc, ["-s"]),
    ("EUC-JP LF → Shift_JIS CR LF", euc, ["-s", "-l"]),
]
runs = []
for case, source, options in cases:
    runs.append((case, "kavoconv.exe", ["wine", K] + options + [windows(source), OUT]))
    runs.append((case, "copy", ["wine", "cmd", "/c", "copy", "/y", windows(source), OUT]))

# Dirty pages are flushed before each timed run, so that no run is timed while the system
# writes out an earlier one's output.
def run_once(argv):
    if os.path.exists(out):
        os.remove(out)
    os.sync()
    start = time.perf_counter()
    done = subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - start
    if done.returncode != 0 or not os.path.exists(out):
        sys.exit(f"failed ({done.returncode}): {' '.join(argv)}\n{done.stderr.decode(errors='replace')}")
    return elapsed

# Every input is read once beforehand, so all commands meet a warm page cache.
for path in (sjis, euc):
    with open(path, "rb") as f:
        while f.read(1 << 20):
            pass
times = {(case, tool): [] for case, tool, _ in runs}
rng = random.Random(1)
for round_ in range(rounds + 1):
    order = runs[:]
    rng.shuffle(order)  # interleaved, in a new order each round
    for case, tool, argv in order:
        elapsed = run_once(argv)
        if round_ > 0:  # round 0 warms up
            times[(case, tool)].append(elapsed)

# kavoconv.exe's two directions undo each other on this text.
subprocess.run(["wine", K, "-e", "-l", windows(sjis), OUT], check=True, stderr=subprocess.DEVNULL)
back = f"{work}/back.txt"
subprocess.run(["wine", K, "-s", "-l", OUT, windows(back)], check=True, stderr=subprocess.DEVNULL)
if subprocess.run(["cmp", "-s", sjis, back]).returncode != 0:
    sys.exit("kavoconv.exe round trip differs")
os.remove(back)
os.remove(out)

size = os.path.getsize(sjis)
print(f"Input: {size / 2**20:.1f} MiB of Shift_JIS CR LF text ({size:,} bytes) and its EUC-JP LF form "
      f"({os.path.getsize(euc):,} bytes). {rounds} rounds after one warm-up round; in each round every "
      f"command runs once, in a shuffled order, each into a new file, dirty pages flushed before it. Median "
      f"and fastest wall time of the "
      f"whole command, Wine's start included; × copy = median / median of copy.\n")
print("| Conversion | Tool | Median (ms) | Min (ms) | MB/s | × copy |")
print("|---|---|---:|---:|---:|---:|")
for case, source, _ in cases:
    n = os.path.getsize(source)
    copy = statistics.median(times[(case, "copy")])
    for tool in ("kavoconv.exe", "copy"):
        t = times[(case, tool)]
        m = statistics.median(t)
        print(f"| {case} | {tool} | {m * 1000:.0f} | {min(t) * 1000:.0f} | {n / m / 1e6:,.0f} | {m / copy:.2f} |")
PY
