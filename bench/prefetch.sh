#!/usr/bin/env bash
# Measures the ways of reading ahead for a cold page cache with
# prefetch_harness.cpp, on the real/ corpus that run.sh builds: wall time
# with the cache dropped before every run, bytes read from disk, and user
# and system time on a warm cache. Needs root (to drop the cache) and a
# build-bench/ from run.sh; builds the io_uring mode when liburing-dev is
# installed (it installs it when missing).
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
REPO=$(dirname "$HERE")
BENCH_DIR=${BENCH_DIR:-/tmp/quelvo-bench}
COLD_RUNS=${COLD_RUNS:-5}
RUNS=${RUNS:-20}
MODES=${MODES:-"off fadvise uring module:2 module:4 module:8 module:16 awake:8"}
BUILD="$REPO/build-bench"
PY=/usr/bin/python3

[ "$(id -u)" = 0 ] || { echo "prefetch.sh: needs root to drop the page cache" >&2; exit 1; }
[ -d "$BENCH_DIR/real" ] || { echo "prefetch.sh: run bench/run.sh first" >&2; exit 1; }
if [ ! -e /usr/include/liburing.h ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends liburing-dev ||
    echo "liburing-dev not available: the uring mode is left out"
fi
cmake -S "$REPO" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DQUELVO_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j2 --target quelvo >/dev/null
uring=()
if [ -e /usr/include/liburing.h ]; then uring=(-DQUELVO_HAVE_LIBURING -luring); fi
c++ -O2 -std=c++17 -Wall -Wextra -I"$REPO/src/match" -I"$REPO/src/platform" \
  -I"$REPO/src/report" -I"$REPO/src/common" -o "$BUILD/prefetch_harness" \
  "$HERE/prefetch_harness.cpp" "$BUILD/libquelvo_report.a" \
  "$BUILD/libquelvo_match.a" "$BUILD/libquelvo_platform.a" \
  "$BUILD/libquelvo_reader.a" -pthread "${uring[@]}"
H="$BUILD/prefetch_harness"
cd "$BENCH_DIR"
mkdir -p results
DROP="sync; echo 3 >/proc/sys/vm/drop_caches; '$H' off /nonexistent/x >/dev/null"

# Every mode prints the same reports.
"$H" off 'real/*' >results/prefetch-off.txt
for mode in $MODES; do
  [ "$mode" != uring ] || [ ${#uring[@]} -gt 0 ] || continue
  "$H" "$mode" 'real/*' | cmp - results/prefetch-off.txt ||
    { echo "FAIL: $mode changes the reports" >&2; exit 1; }
done

read_bytes() { # read_bytes MODE: median of 3 cold runs
  "$PY" - "$H" "$1" <<'EOF'
import os, statistics, subprocess, sys
h, mode = sys.argv[1], sys.argv[2]
def now():
    with open("/proc/self/io") as f:
        return next(int(l.split()[1]) for l in f if l.startswith("read_bytes:"))
counts = []
for _ in range(3):
    os.sync()
    with open("/proc/sys/vm/drop_caches", "w") as f:
        f.write("3")
    subprocess.run([h, "off", "/nonexistent/x"], stdout=subprocess.DEVNULL)
    before = now()
    subprocess.run([h, mode, "real/*"], stdout=subprocess.DEVNULL, check=True)
    counts.append(now() - before)
print(int(statistics.median(counts)))
EOF
}

printf '%-12s %12s %12s %14s %12s\n' mode "cold wall" "/ off" "read bytes" "warm cpu"
for mode in $MODES; do
  [ "$mode" != uring ] || [ ${#uring[@]} -gt 0 ] || continue
  name=${mode/:/-}
  hyperfine --style none --warmup 0 --runs "$COLD_RUNS" --prepare "$DROP" \
    --output null --export-json "results/prefetch-cold-$name.json" "'$H' $mode 'real/*'" >/dev/null
  hyperfine --style none --warmup 2 --runs "$RUNS" \
    --output null --export-json "results/prefetch-warm-$name.json" "'$H' $mode 'real/*'" >/dev/null
  bytes=$(read_bytes "$mode")
  "$PY" - "$name" "$bytes" <<'EOF'
import json, sys
name, bytes_ = sys.argv[1], int(sys.argv[2])
load = lambda kind, n: json.load(open(f"results/prefetch-{kind}-{n}.json"))["results"][0]
cold, off, warm = load("cold", name), load("cold", "off"), load("warm", name)
print(f"{name:<12} {cold['mean']*1000:>10.1f}ms {cold['mean']/off['mean']:>11.2f}x "
      f"{bytes_:>14d} {(warm['user']+warm['system'])*1000:>10.1f}ms")
EOF
done
