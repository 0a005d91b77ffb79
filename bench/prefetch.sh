#!/usr/bin/env bash
# Measures the ways of reading ahead for a cold page cache with
# prefetch_harness.cpp, on the real/ corpus that run.sh builds: wall time
# with the cache dropped before every run, against the I/O floor and
# against no read-ahead, bytes read from disk, and user and system time on
# a warm cache. MODES must hold "off". Needs root (to drop the cache) and
# the real/ corpus of run.sh; builds the io_uring mode when liburing-dev is
# installed (it installs it when missing).
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
REPO=$(dirname "$HERE")
BENCH_DIR=${BENCH_DIR:-/tmp/quelvo-bench}
COLD_RUNS=${COLD_RUNS:-10}
RUNS=${RUNS:-20}
MODES=${MODES:-"off fadvise uring module:1 module:2 module:4 module:8 awake:2"}
BUILD="$REPO/build-bench"
PY=/usr/bin/python3

[ "$(id -u)" = 0 ] || { echo "prefetch.sh: needs root to drop the page cache" >&2; exit 1; }
[ -d "$BENCH_DIR/real" ] || { echo "prefetch.sh: run bench/run.sh first" >&2; exit 1; }
if [ ! -e /usr/include/liburing.h ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends liburing-dev ||
    echo "liburing-dev not available: the uring mode is left out"
fi
cmake -S "$REPO" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$BUILD" -j2 --target quelvo >/dev/null
uring=()
if [ -e /usr/include/liburing.h ]; then uring=(-DQUELVO_HAVE_LIBURING -luring); fi
c++ -O2 -std=c++17 -Wall -Wextra -I"$REPO/src/match" -I"$REPO/src/platform" \
  -I"$REPO/src/report" -I"$REPO/src/common" -o "$BUILD/prefetch_harness" \
  "$HERE/prefetch_harness.cpp" "$BUILD/libquelvo_report.a" \
  "$BUILD/libquelvo_match.a" "$BUILD/libquelvo_platform.a" \
  "$BUILD/libquelvo_signature_service.a" "$BUILD/libquelvo_reader.a" \
  "$BUILD/libquelvo_text.a" -pthread "${uring[@]}"
cc -O2 -Wall -Wextra -o "$BUILD/floor" "$HERE/floor.c"
H="$BUILD/prefetch_harness"
FLOOR="$BUILD/floor"
cd "$BENCH_DIR"
mkdir -p results

modes=()
for mode in $MODES; do
  [ "$mode" != uring ] || [ ${#uring[@]} -gt 0 ] || continue
  modes+=("$mode")
done

# Every mode prints the same reports.
"$H" off 'real/*' >results/prefetch-off.txt
for mode in "${modes[@]}"; do
  "$H" "$mode" 'real/*' | cmp - results/prefetch-off.txt ||
    { echo "FAIL: $mode changes the reports" >&2; exit 1; }
done

# Cold runs, the modes interleaved round by round so that the machine's
# drift hits them alike: median wall time, bytes read from disk (read_bytes,
# as in run.sh), read requests the disk completed (/sys/block: counts other
# processes' reads too) and user+system time.
"$PY" - "$H" "$FLOOR" "$COLD_RUNS" "${modes[@]}" <<'EOF'
import glob, os, statistics, subprocess, sys, time

h, floor, rounds, modes = sys.argv[1], sys.argv[2], int(sys.argv[3]), ["floor"] + sys.argv[4:]
def read_bytes():
    with open("/proc/self/io") as f:
        return next(int(l.split()[1]) for l in f if l.startswith("read_bytes:"))
def requests():
    dev = os.stat(".").st_dev
    for path in glob.glob("/sys/block/*/dev") + glob.glob("/sys/block/*/*/dev"):
        major, minor = map(int, open(path).read().split(":"))
        if os.makedev(major, minor) == dev:
            return int(open(os.path.join(os.path.dirname(path), "stat")).read().split()[0])
    return 0
wall, byte, reqs, cpu = ({m: [] for m in modes} for _ in range(4))
for _ in range(rounds):
    for m in modes:
        os.sync()
        with open("/proc/sys/vm/drop_caches", "w") as f:
            f.write("3")
        subprocess.run([h, "off", "/nonexistent/x"], stdout=subprocess.DEVNULL)
        subprocess.run([floor], stdout=subprocess.DEVNULL)
        cmd = [floor, "-r", "real"] if m == "floor" else [h, m, "real/*"]
        b, r, t = read_bytes(), requests(), time.perf_counter()
        p = subprocess.Popen(cmd, stdout=subprocess.DEVNULL)
        _, status, usage = os.wait4(p.pid, 0)
        wall[m].append(time.perf_counter() - t)
        byte[m].append(read_bytes() - b)
        reqs[m].append(requests() - r)
        cpu[m].append(usage.ru_utime + usage.ru_stime)
med = lambda xs: statistics.median(xs)
print(f"cold cache, {rounds} rounds, real/: median of each")
print(f"{'mode':<12} {'wall':>9} {'/ floor':>8} {'/ off':>7} {'bytes read':>11} {'requests':>9} {'cpu':>8}")
for m in modes:
    w = med(wall[m])
    print(f"{m:<12} {w*1000:>7.1f}ms {w/med(wall['floor']):>7.2f}x {w/med(wall['off']):>6.2f}x "
          f"{int(med(byte[m])):>11d} {int(med(reqs[m])):>9d} {med(cpu[m])*1000:>6.1f}ms")
EOF

echo
echo "warm cache, user+system time (hyperfine, $RUNS runs)"
for mode in "${modes[@]}"; do
  hyperfine --style none --warmup 2 --runs "$RUNS" --output null \
    --export-json "results/prefetch-warm.json" "'$H' $mode 'real/*'" >/dev/null 2>&1
  "$PY" - "$mode" <<'EOF'
import json, sys
r = json.load(open("results/prefetch-warm.json"))["results"][0]
print(f"{sys.argv[1]:<12} {(r['user'] + r['system']) * 1000:>7.1f}ms")
EOF
done
