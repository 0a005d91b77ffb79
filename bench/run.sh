#!/usr/bin/env bash
# Measures quelvo against an I/O floor and against other version readers,
# all run here, in this script, on the same files. Prints ratios, not
# absolute claims: absolute times depend on the machine and the page cache.
#
# Warm-cache comparisons divide user+system time (hyperfine's means), which
# holds much steadier than wall time on a shared machine. The cold-cache
# rows divide wall time, since waiting for the disk is what they measure;
# they need root to drop the page cache and are skipped otherwise.
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
REPO=$(dirname "$HERE")
BENCH_DIR=${BENCH_DIR:-/tmp/quelvo-bench}
RUNS=${RUNS:-20}             # timed runs for quick commands
PEER_RUNS=${PEER_RUNS:-10}   # timed runs for the (much slower) peers
LARGE_RUNS=${LARGE_RUNS:-10} # timed runs over the 100,000-file folders
COLD_RUNS=${COLD_RUNS:-10}   # timed runs with the page cache dropped
SLOW_RUNS=${SLOW_RUNS:-3}    # timed runs of a command that takes many seconds
AB_ROUNDS=${AB_ROUNDS:-5}    # alternating rounds of a row that times two forms
MANY_COUNT=100000
CASE_COUNT=5000
# walk/: 40 folders of 50 folders of 50 files, 100,000 files in 2,000
# folders, for the recursive walk.
WALK_TOP=40
WALK_SUB=50
WALK_FILES=50
WALK_COUNT=$((WALK_TOP * WALK_SUB * WALK_FILES))
WALK_FOLDERS=$((WALK_TOP + WALK_TOP * WALK_SUB))
PY=/usr/bin/python3
BUILD="$REPO/build-bench"

log() { printf '\n== %s\n' "$*"; }
installed() { [[ $(dpkg-query -W -f='${Status}' "$1" 2>/dev/null || true) == *"ok installed" ]]; }

# ---------------------------------------------------------------- 1. tools
log "checking tools"
need=()
command -v hyperfine >/dev/null 2>&1 || need+=(hyperfine)
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v make >/dev/null 2>&1 || need+=(make)
command -v c++ >/dev/null 2>&1 || need+=(g++)
command -v cc >/dev/null 2>&1 || need+=(gcc)
installed libssl-dev || need+=(libssl-dev)
command -v strace >/dev/null 2>&1 || need+=(strace)
command -v perf >/dev/null 2>&1 || need+=(linux-perf)
[ -x /usr/bin/time ] || need+=(time)
[ -x "$PY" ] || need+=(python3)
installed python3-pefile || need+=(python3-pefile)
# --signature: libcrypto's headers to build, openssl for the catalogs.
installed libssl-dev || need+=(libssl-dev)
command -v openssl >/dev/null 2>&1 || need+=(openssl)
command -v exiftool >/dev/null 2>&1 || need+=(libimage-exiftool-perl)
command -v peres >/dev/null 2>&1 || need+=(pev)
# wine64 is only a source of real PE files (its DLLs and EXEs), and
# mono-utils of .NET assemblies (Mono's, which it brings) for row_dotnet.
installed wine64 || need+=(wine64)
installed mono-utils || need+=(mono-utils)
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  if ! apt-get install -y --no-install-recommends "${need[@]}"; then
    apt-get update
    apt-get install -y --no-install-recommends "${need[@]}"
  fi
else
  echo "all present"
fi

# ---------------------------------------------------------------- 2. build
log "building quelvo (Release), the floor and the list probe into $BUILD"
cmake -S "$REPO" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$BUILD" -j2 --target quelvo >/dev/null
cc -O2 -Wall -Wextra -o "$BUILD/floor" "$HERE/floor.c"
cc -O2 -Wall -Wextra -o "$BUILD/walk_floor" "$HERE/walk_floor.c"
c++ -O2 -std=c++17 -Wall -Wextra -I"$REPO/src/match" -I"$REPO/src/platform" \
  -I"$REPO/src/common" -o "$BUILD/list_memory" "$HERE/list_memory.cpp" \
  "$BUILD/libquelvo_match.a" "$BUILD/libquelvo_platform.a" \
  "$BUILD/libquelvo_signature_service.a" "$BUILD/libquelvo_reader.a" \
  "$BUILD/libquelvo_text.a"
QUELVO="$BUILD/quelvo"
FLOOR="$BUILD/floor"
WALK_FLOOR="$BUILD/walk_floor"

# ---------------------------------------------------------------- 3. corpus
mkdir -p "$BENCH_DIR/results"
cd "$BENCH_DIR"

# real/: the PE files of Debian's 64-bit Wine (libwine:amd64), about 690.
# Only that folder, so that the corpus stays the same whether or not the
# 32-bit Wine is installed beside it.
PE_DIR=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
[ -d "$PE_DIR" ] || { echo "no $PE_DIR: wine64 is not installed" >&2; exit 1; }

list_sources() {
  find "$PE_DIR" -maxdepth 1 -type f \( -iname '*.dll' -o -iname '*.exe' \
    -o -iname '*.sys' -o -iname '*.drv' -o -iname '*.cpl' -o -iname '*.ocx' \
    -o -iname '*.acm' \) -print0
}
want_real=$(list_sources | tr -cd '\0' | wc -c)
have_real=$(find real -maxdepth 1 -type f 2>/dev/null | wc -l || true)
if [ "$have_real" -ne "$want_real" ]; then
  log "building real/ ($want_real files)"
  rm -rf real many versioned casefold huge walk
  mkdir real
  list_sources | xargs -0 cp -t real
fi
real_count=$(find real -maxdepth 1 -type f | wc -l)
real_bytes=$(du -sb real | cut -f1)
echo "real/: $real_count files, $((real_bytes / 1048576)) MiB (from $PE_DIR)"

have_many=$(find many -maxdepth 1 -type f 2>/dev/null | wc -l || true)
if [ "$have_many" -ne "$MANY_COUNT" ]; then
  log "building many/ ($MANY_COUNT files)"
  rm -rf many many.tmp
  "$PY" - "$MANY_COUNT" <<'EOF'
import os, sys
import pefile

count = int(sys.argv[1])
# The few smallest real files that carry a version resource: every tenth
# entry is a hard link to one of them, so the folder holds real work too.
small = []
for name in sorted(os.listdir("real"), key=lambda n: os.path.getsize("real/" + n)):
    try:
        pe = pefile.PE("real/" + name, fast_load=True)
        pe.parse_data_directories(
            directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
        ok = bool(getattr(pe, "FileInfo", None))
        pe.close()
    except Exception:
        ok = False
    if ok:
        small.append("real/" + name)
    if len(small) == 4:
        break
if not small:
    sys.exit("no small versioned PE file in real/")
print("linked PE files:", ", ".join(small))

os.mkdir("many.tmp")
seen = set()
text = b"not an executable; benchmark filler. " * 6
for i in range(count):
    # Random names, so creation order says nothing about name order.
    while True:
        stem = os.urandom(8).hex()
        if stem not in seen:
            seen.add(stem)
            break
    if i % 10 == 0:
        os.link(small[(i // 10) % len(small)], f"many.tmp/{stem}.dll")
        continue
    # Mostly plain text; some start like an executable and stop short.
    body = (b"MZ" + bytes(198)) if i % 10 == 5 else text[:200]
    fd = os.open(f"many.tmp/{stem}.dat", os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644)
    os.write(fd, body)
    os.close(fd)
os.rename("many.tmp", "many")
EOF
fi
many_count=$(find many -maxdepth 1 -type f | wc -l)
echo "many/: $many_count files"
[ "$many_count" -eq "$MANY_COUNT" ] || { echo "many/ has the wrong count" >&2; exit 1; }

# The smallest real files of which quelvo prints a complete report, for the
# folders in which every file must be versioned. Hard links spread over
# eight of them stay far below the file system's limit of links per file.
small_versioned() {
  local f found=0
  while IFS= read -r f; do
    if "$QUELVO" "$f" | grep '^Version String:' >/dev/null; then
      echo "$f"
      found=$((found + 1))
      [ "$found" -lt 8 ] || break
    fi
  done < <(find real -maxdepth 1 -type f -printf '%s %p\n' | sort -n | cut -d' ' -f2-)
}

# versioned/: 100,000 entries under random names, every one a hard link to
# a small versioned image, so that every entry is reported in full.
have_versioned=$(find versioned -maxdepth 1 -type f 2>/dev/null | wc -l || true)
if [ "$have_versioned" -ne "$MANY_COUNT" ]; then
  log "building versioned/ ($MANY_COUNT files, every one versioned)"
  rm -rf versioned versioned.tmp
  small_versioned >results/small-versioned.txt
  "$PY" - "$MANY_COUNT" results/small-versioned.txt <<'EOF'
import os, sys

count = int(sys.argv[1])
small = open(sys.argv[2]).read().split()
if not small:
    sys.exit("no small versioned PE file in real/")
os.mkdir("versioned.tmp")
seen = set()
while len(seen) < count:
    stem = os.urandom(8).hex()
    if stem in seen:
        continue
    os.link(small[len(seen) % len(small)], f"versioned.tmp/{stem}.dll")
    seen.add(stem)
os.rename("versioned.tmp", "versioned")
EOF
fi
echo "versioned/: $(find versioned -maxdepth 1 -type f | wc -l) files"

# casefold/parent: a folder sub of 5,000 versioned files beside 5,000
# sibling files, to name the folder in a case other than its own.
if [ ! -d casefold/parent/sub ] ||
   [ "$(find casefold/parent/sub -type f | wc -l)" -ne "$CASE_COUNT" ]; then
  log "building casefold/ ($CASE_COUNT files in parent/sub, $CASE_COUNT siblings)"
  rm -rf casefold casefold.tmp
  [ -s results/small-versioned.txt ] || small_versioned >results/small-versioned.txt
  "$PY" - "$CASE_COUNT" results/small-versioned.txt <<'EOF'
import os, sys

count = int(sys.argv[1])
small = open(sys.argv[2]).read().split()
os.makedirs("casefold.tmp/parent/sub")
for i in range(count):
    stem = "%06d-%s" % (i, os.urandom(4).hex())
    os.link(small[i % len(small)], f"casefold.tmp/parent/sub/{stem}.dll")
    open(f"casefold.tmp/parent/{stem}.txt", "wb").close()
os.rename("casefold.tmp", "casefold")
EOF
fi

# walk/: WALK_TOP folders of WALK_SUB folders of WALK_FILES hard links each
# to a small versioned image, all under random names, so that a recursive
# walk reports 100,000 files in full and lists 2,000 folders of them.
have_walk=$(find walk -type f 2>/dev/null | wc -l || true)
have_walk_dirs=$(find walk -mindepth 1 -type d 2>/dev/null | wc -l || true)
if [ "$have_walk" -ne "$WALK_COUNT" ] || [ "$have_walk_dirs" -ne "$WALK_FOLDERS" ]; then
  log "building walk/ ($WALK_COUNT files in $((WALK_TOP * WALK_SUB)) folders)"
  rm -rf walk walk.tmp
  [ -s results/small-versioned.txt ] || small_versioned >results/small-versioned.txt
  "$PY" - "$WALK_TOP" "$WALK_SUB" "$WALK_FILES" results/small-versioned.txt <<'EOF'
import os, sys

top, sub, files = (int(a) for a in sys.argv[1:4])
small = open(sys.argv[4]).read().split()
if not small:
    sys.exit("no small versioned PE file in real/")
seen = set()

def fresh(size):
    # Random names, so creation order says nothing about name order.
    while True:
        stem = os.urandom(size).hex()
        if stem not in seen:
            seen.add(stem)
            return stem

os.mkdir("walk.tmp")
n = 0
for _ in range(top):
    t = "walk.tmp/" + fresh(4)
    os.mkdir(t)
    for _ in range(sub):
        s = t + "/" + fresh(4)
        os.mkdir(s)
        for _ in range(files):
            os.link(small[n % len(small)], f"{s}/{fresh(8)}.dll")
            n += 1
os.rename("walk.tmp", "walk")
EOF
fi
echo "walk/: $(find walk -type f | wc -l) files in $(find walk -mindepth 2 -type d | wc -l) folders"

# A 1 GiB file whose resources sit at its very end, beside the same image
# at its natural size: reading only what the answer needs makes the two
# cost the same. The big one is sparse, so it takes no disk space.
if [ ! -f huge/huge.dll ]; then
  log "building huge/ (a 1 GiB image with its resources at the end)"
  rm -rf huge && mkdir huge
  "$PY" - <<'EOF'
import os
import pefile

for name in sorted(os.listdir("real")):
    pe = pefile.PE("real/" + name, fast_load=True)
    pe.parse_data_directories(
        directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    if getattr(pe, "FileInfo", None):
        break
rva = pe.OPTIONAL_HEADER.DATA_DIRECTORY[2].VirtualAddress
section = next(s for s in pe.sections if s.contains_rva(rva))
data = pe.__data__[:]
raw = data[section.PointerToRawData:section.PointerToRawData + section.SizeOfRawData]
with open("huge/small.dll", "wb") as f:
    f.write(data)
end = 1 << 30
section.PointerToRawData = end
with open("huge/huge.dll", "wb") as f:
    f.write(pe.write())
    f.seek(end)
    f.write(raw)
print("huge/: %s with its resources moved to offset %d" % (name, end))
EOF
fi
[ "$("$QUELVO" huge/huge.dll | grep -c '^Company Name:')" = 1 ] ||
  { echo "FAIL: quelvo does not read huge/huge.dll" >&2; exit 1; }

# ---------------------------------------------------------------- 4. correctness
log "correctness check on real/"
"$QUELVO" 'real/*' >results/quelvo-real.txt
"$PY" "$HERE/pefile_peer.py" real/* >results/pefile-real.txt
q_ver=$(grep -c '^Company Name:' results/quelvo-real.txt || true)
p_ver=$(grep -c ': version: ' results/pefile-real.txt || true)
if [ "$q_ver" -eq 0 ]; then
  echo "FAIL: quelvo printed no 'Company Name:' line for real/" >&2
  exit 1
fi
printf '%-44s %8s %8s\n' "files with a version (of $real_count)" quelvo pefile
printf '%-44s %8d %8d\n' "" "$q_ver" "$p_ver"
v_ver=$("$QUELVO" 'versioned/*' | grep -c '^Version String:' || true)
[ "$v_ver" -eq "$MANY_COUNT" ] ||
  { echo "FAIL: quelvo reports $v_ver of $MANY_COUNT files in versioned/" >&2; exit 1; }
c_low=$("$QUELVO" 'casefold/parent/sub/*' | grep -c '^Version String:' || true)
c_up=$("$QUELVO" 'casefold/parent/SUB/*' | grep -c '^Version String:' || true)
[ "$c_low" -eq "$CASE_COUNT" ] && [ "$c_up" -eq "$CASE_COUNT" ] ||
  { echo "FAIL: casefold/ reports $c_low and $c_up of $CASE_COUNT" >&2; exit 1; }

w_ver=$("$QUELVO" --recursive -d walk | grep -c '^Version String:' || true)
[ "$w_ver" -eq "$WALK_COUNT" ] ||
  { echo "FAIL: quelvo --recursive reports $w_ver of $WALK_COUNT files in walk/" >&2; exit 1; }
w_floor=$("$WALK_FLOOR" walk | grep -c ' bytes, read ' || true)
[ "$w_floor" -eq "$WALK_COUNT" ] ||
  { echo "FAIL: walk_floor probes $w_floor of $WALK_COUNT files in walk/" >&2; exit 1; }

# ---------------------------------------------------------------- 5. helpers
SUMMARY="$BENCH_DIR/results/summary.tsv"
: >"$SUMMARY"
IS_ROOT=0
if [ "$(id -u)" = 0 ] && [ -w /proc/sys/vm/drop_caches ]; then IS_ROOT=1; fi
# Before a cold run: empty the page cache, then load the two programs
# themselves, so that what is read from disk is what they read.
DROP="sync; echo 3 >/proc/sys/vm/drop_caches; '$QUELVO' >/dev/null || true; '$FLOOR' >/dev/null || true"

hf() { # [WARMUP=n] hf NAME RUNS [hyperfine options...] COMMAND
  local name=$1 runs=$2
  shift 2
  log "$name"
  hyperfine --style basic --warmup "${WARMUP:-2}" --runs "$runs" --output null \
    --export-json "results/$name.json" --command-name "$name" "$@"
}

# time_of cpu|wall NAME: mean user+system time, or mean wall time, in s.
time_of() {
  "$PY" - "$1" "results/$2.json" <<'EOF'
import json, sys
r = json.load(open(sys.argv[2]))["results"][0]
print(r["user"] + r["system"] if sys.argv[1] == "cpu" else r["mean"])
EOF
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# ab NAME COMMAND_A COMMAND_B: times A, then B, AB_ROUNDS times over, each
# time RUNS runs (failures ignored: a run with findings or an argument
# that matches nothing exits with 1). A shared machine's load drifts over
# seconds, and two blocks of runs timed one after the other carry that
# drift into their ratio: for commands of a few milliseconds it moved a
# ratio by a quarter between two runs of this script. ab_ratio then gives
# the median of the rounds' ratios.
ab() {
  local name=$1 a=$2 b=$3 r
  for ((r = 1; r <= AB_ROUNDS; r++)); do
    hf "$name-a$r" "$RUNS" -i "$a"
    hf "$name-b$r" "$RUNS" -i "$b"
  done
}

# ab_ratio cpu|wall NAME: B's time over A's, the median of ab's rounds.
ab_ratio() {
  local kind=$1 name=$2 r
  for ((r = 1; r <= AB_ROUNDS; r++)); do
    ratio "$(time_of "$kind" "$name-b$r")" "$(time_of "$kind" "$name-a$r")"
    echo
  done | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}

# row LABEL VALUE [UNIT [OP LIMIT]]: one line of the summary, judged
# against its target when it has one.
row() {
  local label=$1 value=$2 unit=${3:-} op=${4:-} limit=${5:-} verdict=""
  if [ -n "$op" ]; then
    verdict=$(awk -v v="$value" -v l="$limit" -v op="$op" \
      'BEGIN { ok = (op == "<=") ? v <= l : v >= l; print ok ? "met" : "MISSED" }')
  fi
  printf '%s\t%s%s\t%s\t%s\n' "$label" "$value" "$unit" \
    "${op:+$op $limit$unit}" "$verdict" >>"$SUMMARY"
  printf '%s: %s%s %s\n' "$label" "$value" "$unit" "$verdict"
}
skip_row() { printf '%s\tskipped\t\t%s\n' "$1" "$2" >>"$SUMMARY"; echo "$1: skipped, $2"; }

# syscalls COMMAND...: system calls of one run, every thread counted. The
# kernel counts them where perf may read its counters (root): strace stops
# the program at every call, which makes each report slow enough for the
# prefetcher to take the cache for cold and wake its helpers.
syscalls() {
  if perf stat -x, -e raw_syscalls:sys_enter -o results/perf.txt \
    "$@" >/dev/null 2>&1; then
    awk -F, '$3 == "raw_syscalls:sys_enter" { print $1 }' results/perf.txt
    return
  fi
  strace -f -c -o results/strace.txt "$@" >/dev/null
  awk '$NF == "total" { print $4 }' results/strace.txt
}

# cold_read_bytes RUNS COMMAND...: bytes the command had read from disk,
# the median of RUNS runs, each after the cache was dropped and the
# programs reloaded. The kernel counts a process's reads as it submits them
# to the disk (read-ahead included) and adds a child's count to its parent's
# when the parent reaps it, so the wrapper's /proc/self/io before and after
# the run gives the child's count.
cold_read_bytes() {
  "$PY" - "$QUELVO" "$FLOOR" "$@" <<'EOF'
import os, statistics, subprocess, sys

quelvo, floor, runs, cmd = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4:]

def read_bytes():
    with open("/proc/self/io") as f:
        for line in f:
            if line.startswith("read_bytes:"):
                return int(line.split()[1])

counts = []
for _ in range(runs):
    os.sync()
    with open("/proc/sys/vm/drop_caches", "w") as f:
        f.write("3")
    for prog in (quelvo, floor):
        subprocess.run([prog], stdout=subprocess.DEVNULL)
    before = read_bytes()
    subprocess.run(cmd, stdout=subprocess.DEVNULL, check=True)
    counts.append(read_bytes() - before)
print(int(statistics.median(counts)))
EOF
}

# max_rss_kib COMMAND...: the peak resident size of one run, in KiB. GNU
# time starts it: a launcher's own resident size counts in the child's peak
# (it survives the exec), and time's is smaller than quelvo's.
max_rss_kib() {
  /usr/bin/time -f %M -o results/maxrss.txt "$@" >/dev/null
  cat results/maxrss.txt
}

# ---------------------------------------------------------------- 6. rows
# Each row measures and records one line of the summary; a new row is a
# function here and its name in ALL_ROWS at the end. ROWS="row_cold
# row_cold_bytes" runs only the rows named.

row_pattern() {
  hf floor-real "$RUNS" "'$FLOOR' real/*"
  hf quelvo-d-real "$RUNS" "'$QUELVO' -d 'real/*'"
  row "quelvo -d 'real/*' / floor (cpu)" \
    "$(ratio "$(time_of cpu quelvo-d-real)" "$(time_of cpu floor-real)")" x "<=" 1.2
}

row_literal() {
  # The shell expands real/* for both: quelvo gets every name literally.
  # The floor is timed again right before, so that the two share the
  # machine's load of the moment rather than that of an earlier row.
  hf floor-literal "$RUNS" "'$FLOOR' real/*"
  hf quelvo-d-literal "$RUNS" "'$QUELVO' -d real/*"
  row "quelvo -d <$real_count names> / floor (cpu)" \
    "$(ratio "$(time_of cpu quelvo-d-literal)" "$(time_of cpu floor-literal)")" x "<=" 1.25
}

row_syscalls() {
  # Per file: the calls of a run over real/ less those of a run that names
  # no file (start-up and exit), divided by the number of files.
  log "system calls per file (perf stat, or strace -f -c)"
  local q0 f0 pat lit flo
  q0=$(syscalls "$QUELVO" -d)
  f0=$(syscalls "$FLOOR")
  pat=$(syscalls "$QUELVO" -d 'real/*')
  lit=$(syscalls "$QUELVO" -d real/*)
  flo=$(syscalls "$FLOOR" real/*)
  per() { awk -v a="$1" -v b="$2" -v n="$real_count" 'BEGIN { printf "%.2f", (a - b) / n }'; }
  row "system calls per file, quelvo -d 'real/*'" "$(per "$pat" "$q0")" "" "<=" 6.5
  row "system calls per file, quelvo -d <names>" "$(per "$lit" "$q0")" "" "<=" 6.5
  row "system calls per file, floor" "$(per "$flo" "$f0")"
}

row_large_folder() {
  WARMUP=1 hf floor-versioned "$LARGE_RUNS" "'$FLOOR' -r versioned"
  WARMUP=1 hf quelvo-d-versioned "$LARGE_RUNS" "'$QUELVO' -d 'versioned/*'"
  row "quelvo -d 'versioned/*' (100,000) / floor (cpu)" \
    "$(ratio "$(time_of cpu quelvo-d-versioned)" "$(time_of cpu floor-versioned)")" x "<=" 1.4
  row "quelvo -d 'versioned/*', wall time" \
    "$(awk -v t="$(time_of wall quelvo-d-versioned)" 'BEGIN { printf "%.2f", t }')" s
}

row_memory() {
  # Peak: how far the resident size of a run over the 100,000 names of
  # many/ rises above that of a run over one of them, per name. Held: the
  # heap in use that the expanded list keeps while its files are reported
  # (list_memory.cpp), per name.
  log "memory per matched file"
  local one all held
  one=$(max_rss_kib "$QUELVO" "$(find many -maxdepth 1 -type f -print -quit)")
  all=$(max_rss_kib "$QUELVO" 'many/*')
  row "memory per matched file, peak resident" \
    "$(awk -v a="$all" -v b="$one" -v n="$MANY_COUNT" 'BEGIN { printf "%.1f", (a - b) * 1024 / n }')" \
    B "<=" 64
  held=$("$BUILD/list_memory" 'many/*')
  row "memory per matched file, held by the list" \
    "$(echo "$held" | awk '{ printf "%.1f", $2 / $1 }')" B "<=" 64
}

row_cold() {
  if [ "$IS_ROOT" != 1 ]; then
    skip_row "cold cache, quelvo -d 'real/*' / floor (wall)" "needs root to drop the page cache"
    return
  fi
  WARMUP=0 hf floor-cold "$COLD_RUNS" --prepare "$DROP" "'$FLOOR' -r real"
  WARMUP=0 hf quelvo-d-cold "$COLD_RUNS" --prepare "$DROP" "'$QUELVO' -d 'real/*'"
  row "cold cache, quelvo -d 'real/*' / floor (wall)" \
    "$(ratio "$(time_of wall quelvo-d-cold)" "$(time_of wall floor-cold)")" x "<=" 0.5
}

row_cold_bytes() {
  if [ "$IS_ROOT" != 1 ]; then
    skip_row "bytes read from disk, cold, quelvo / floor" "needs root to drop the page cache"
    return
  fi
  log "bytes read from disk, cold (read_bytes of /proc/PID/io)"
  local q f
  q=$(cold_read_bytes 3 "$QUELVO" -d 'real/*')
  f=$(cold_read_bytes 3 "$FLOOR" -r real)
  echo "quelvo: $q bytes, floor: $f bytes, for $real_count files"
  row "bytes read from disk, cold, quelvo / floor" "$(ratio "$q" "$f")" x "<=" 1.1
  row "bytes read from disk per file, cold, quelvo" "$((q / real_count))" B
}

row_walk() {
  WARMUP=1 hf walk-floor "$LARGE_RUNS" "'$WALK_FLOOR' walk"
  WARMUP=1 hf quelvo-walk "$LARGE_RUNS" "'$QUELVO' --recursive -d walk"
  row "quelvo --recursive -d walk / floor (cpu)" \
    "$(ratio "$(time_of cpu quelvo-walk)" "$(time_of cpu walk-floor)")" x "<=" 1.3
  row "quelvo --recursive -d walk, wall time" \
    "$(awk -v t="$(time_of wall quelvo-walk)" 'BEGIN { printf "%.2f", t }')" s
}

row_walk_cold() {
  if [ "$IS_ROOT" != 1 ]; then
    skip_row "cold, quelvo --recursive -d walk / floor (wall)" "needs root to drop the page cache"
    return
  fi
  # As DROP, but the program loaded beside quelvo is the walk's floor.
  local drop="sync; echo 3 >/proc/sys/vm/drop_caches; '$QUELVO' >/dev/null || true; '$WALK_FLOOR' >/dev/null || true"
  WARMUP=0 hf walk-floor-cold "$COLD_RUNS" --prepare "$drop" "'$WALK_FLOOR' walk"
  WARMUP=0 hf quelvo-walk-cold "$COLD_RUNS" --prepare "$drop" "'$QUELVO' --recursive -d walk"
  row "cold, quelvo --recursive -d walk / floor (wall)" \
    "$(ratio "$(time_of wall quelvo-walk-cold)" "$(time_of wall walk-floor-cold)")" x "<=" 1.3
}

row_walk_syscalls() {
  # As row_syscalls: a run over walk/ less a run that names nothing, per file.
  log "system calls per file, recursive walk (perf stat, or strace -f -c)"
  local q0 f0 q f
  q0=$(syscalls "$QUELVO" --recursive -d)
  f0=$(syscalls "$WALK_FLOOR")
  q=$(syscalls "$QUELVO" --recursive -d walk)
  f=$(syscalls "$WALK_FLOOR" walk)
  per() { awk -v a="$1" -v b="$2" -v n="$WALK_COUNT" 'BEGIN { printf "%.2f", (a - b) / n }'; }
  row "system calls per file, quelvo --recursive -d walk" "$(per "$q" "$q0")"
  row "system calls per file, walk floor" "$(per "$f" "$f0")"
}

row_case_folder() {
  hf quelvo-case-same "$RUNS" "'$QUELVO' 'casefold/parent/sub/*'"
  WARMUP=1 hf quelvo-case-other "$SLOW_RUNS" "'$QUELVO' 'casefold/parent/SUB/*'"
  row "quelvo 'parent/SUB/*' / 'parent/sub/*' (cpu)" \
    "$(ratio "$(time_of cpu quelvo-case-other)" "$(time_of cpu quelvo-case-same)")" x "<=" 1.5
}

row_peers() {
  hf quelvo-real "$RUNS" "'$QUELVO' 'real/*'"
  hf pefile-real "$PEER_RUNS" -i "'$PY' '$HERE/pefile_peer.py' real/*"
  hf exiftool-real "$PEER_RUNS" -i "exiftool -q -q -fast -CompanyName -FileDescription -FileVersion real/*"
  # peres takes one file per invocation: one process per file.
  hf peres-real "$PEER_RUNS" -i "find real -type f -print0 | xargs -0 -n1 peres -v"
  local q p fastest=""
  q=$(time_of cpu quelvo-real)
  for p in pefile exiftool peres; do
    row "$p / quelvo 'real/*' (cpu)" "$(ratio "$(time_of cpu "$p-real")" "$q")" x
    if [ -z "$fastest" ] || awk -v a="$(time_of cpu "$p-real")" \
      -v b="$(time_of cpu "$fastest-real")" 'BEGIN { exit !(a < b) }'; then
      fastest=$p
    fi
  done
  row "fastest peer ($fastest) / quelvo (cpu)" \
    "$(ratio "$(time_of cpu "$fastest-real")" "$q")" x ">=" 100
}

row_big_file() {
  hf quelvo-small-file "$RUNS" -N "'$QUELVO' huge/small.dll"
  hf quelvo-1gib-file "$RUNS" -N "'$QUELVO' huge/huge.dll"
  row "1 GiB file / the same image at its size (cpu)" \
    "$(ratio "$(time_of cpu quelvo-1gib-file)" "$(time_of cpu quelvo-small-file)")" x "<=" 1.5
}

row_many() {
  WARMUP=1 hf floor-many "$LARGE_RUNS" "'$FLOOR' -r many"
  WARMUP=1 hf quelvo-many "$LARGE_RUNS" "'$QUELVO' 'many/*'"
  row "quelvo 'many/*' (1 in 10 versioned) / floor (cpu)" \
    "$(ratio "$(time_of cpu quelvo-many)" "$(time_of cpu floor-many)")" x "<=" 2
}

summary() {
  log "summary ($real_count real PE files, $((real_bytes / 1048576)) MiB; $MANY_COUNT-file folders)"
  awk -F'\t' '{ printf "%-52s %10s   %-10s %s\n", $1, $2, $3, $4 }' "$SUMMARY"
  echo
  echo "raw hyperfine results: $BENCH_DIR/results/*.json"
}

# ---------------------------------------------------------------- --json row
# quelvo --json against quelvo -d on the same files, one measured right
# after the other: the JSON Lines output reads every string of the table,
# the whole translation list and the image's kind and languages on top of
# what the detailed report reads. Target: within 1.3x of -d.
row_csv() {
  # --csv writes what --json writes, cell by cell, straight from each
  # file's record, the object's members each written alone.
  ab csv-row "'$QUELVO' -d 'real/*'" "'$QUELVO' --csv 'real/*'"
  row "quelvo --csv / -d on real/ (cpu)" "$(ab_ratio cpu csv-row)" x "<=" 1.3
}

row_json() {
  ab json-row "'$QUELVO' -d 'real/*'" "'$QUELVO' --json 'real/*'"
  row "quelvo --json / -d on real/ (wall)" "$(ab_ratio wall json-row)" x "<=" 1.3
  row "quelvo --json / -d on real/ (cpu)" "$(ab_ratio cpu json-row)" x "<=" 1.3
}

# ---------------------------------------------------------------- --hash row
# quelvo --json --hash against sha256sum on the same files, one measured
# right after the other: both read every byte of real/ and hash it, and
# quelvo reports each file's version resource on top. Target: within 1.15x
# of sha256sum (cpu). Then what the digests add to --json, on real/ and on
# the 100,000 small files of versioned/, and the bytes hashed per second
# of CPU on each (no target): large files against many small ones.
row_hash() {
  log "--hash: the digests against sha256sum's"
  "$QUELVO" --json --hash 'real/*' | "$PY" -c '
import json, sys
for line in sys.stdin:
    o = json.loads(line)
    print(o["sha256"], o["path"])' | sort >results/hash-quelvo.txt || true
  sha256sum real/* | sed 's/  / /' | sort >results/hash-sha256sum.txt
  cmp -s results/hash-quelvo.txt results/hash-sha256sum.txt ||
    { echo "FAIL: quelvo --hash and sha256sum disagree on real/" >&2; exit 1; }
  echo "$(wc -l <results/hash-quelvo.txt) digests agree"
  hf hash-row-sha256sum "$PEER_RUNS" "sha256sum real/*"
  # --json exits with 1 when a file has no version information: -i.
  hf hash-row-json-hash "$PEER_RUNS" -i "'$QUELVO' --json --hash 'real/*'"
  hf hash-row-json "$RUNS" -i "'$QUELVO' --json 'real/*'"
  row "quelvo --json --hash / sha256sum on real/ (cpu)" \
    "$(ratio "$(time_of cpu hash-row-json-hash)" "$(time_of cpu hash-row-sha256sum)")" x "<=" 1.15
  row "quelvo --json --hash / --json on real/ (cpu)" \
    "$(ratio "$(time_of cpu hash-row-json-hash)" "$(time_of cpu hash-row-json)")" x
  row "quelvo --json --hash on real/, per second of cpu" \
    "$(awk -v b="$real_bytes" -v t="$(time_of cpu hash-row-json-hash)" 'BEGIN { printf "%.0f", b / 1048576 / t }')" " MiB"
  WARMUP=1 hf hash-row-versioned-json "$LARGE_RUNS" "'$QUELVO' --json 'versioned/*'"
  WARMUP=1 hf hash-row-versioned-hash "$LARGE_RUNS" "'$QUELVO' --json --hash 'versioned/*'"
  row "quelvo --json --hash / --json on versioned/ (cpu)" \
    "$(ratio "$(time_of cpu hash-row-versioned-hash)" "$(time_of cpu hash-row-versioned-json)")" x
  # Every entry counted, hard links and all: each is read whole.
  local versioned_bytes
  versioned_bytes=$(find versioned -maxdepth 1 -type f -printf '%s\n' | awk '{ n += $1 } END { print n }')
  row "quelvo --json --hash on versioned/, per second of cpu" \
    "$(awk -v b="$versioned_bytes" -v t="$(time_of cpu hash-row-versioned-hash)" 'BEGIN { printf "%.0f", b / 1048576 / t }')" " MiB"
}

# ---------------------------------------------------------------- --signature rows
# quelvo --signature against sha256sum on the same files, one measured
# right after the other: the signature reads each file once, start to
# end, for the checksum and the Authentihash (of every algorithm its
# signatures name), so that it costs about what hashing the file costs.
# Over real/ (unsigned: the checksum alone) and over signed/: the signed
# EFI images of Debian's shim-signed, shim-helpers-amd64-signed,
# grub-efi-amd64-signed and fwupd-amd64-signed (fetched once with apt-get
# download, never installed) and the signed fixtures, every chain built to
# the fixtures' CA. Target: within 1.15x. The fixtures alone, a few
# kilobytes each, show what the signatures' own checks cost per file
# (decoding, three or four RSA or ECDSA verifications, the chain): a row
# without a target.
row_signature() {
  if [ ! -f debs/.done ]; then
    mkdir -p debs
    (cd debs && chown _apt . 2>/dev/null; apt-get download shim-signed shim-helpers-amd64-signed \
      grub-efi-amd64-signed fwupd-amd64-signed >/dev/null &&
      for d in ./*.deb; do dpkg-deb -x "$d" tree; done && touch .done)
  fi
  rm -rf signed fixtures-signed && mkdir signed fixtures-signed
  cp "$REPO"/tests/fixtures/signed/*.exe "$REPO"/tests/fixtures/signed/*.dll fixtures-signed/
  cp fixtures-signed/* signed/
  find debs/tree -name '*.efi.signed' -exec cp -t signed {} +
  echo "signed/: $(find signed -type f | wc -l) files, $(($(du -sb signed | cut -f1) / 1048576)) MiB"
  local ca="$REPO/tests/fixtures/signed/pki/ca.pem"
  hf sha256sum-real "$RUNS" "sha256sum real/*"
  hf quelvo-signature-real "$RUNS" "'$QUELVO' --signature 'real/*'"
  row "quelvo --signature 'real/*' / sha256sum (cpu)" \
    "$(ratio "$(time_of cpu quelvo-signature-real)" "$(time_of cpu sha256sum-real)")" x "<=" 1.15
  hf sha256sum-signed "$RUNS" "sha256sum signed/*"
  hf quelvo-signature-signed "$RUNS" "'$QUELVO' --ca-file '$ca' 'signed/*'"
  row "quelvo --ca-file ca.pem 'signed/*' / sha256sum (cpu)" \
    "$(ratio "$(time_of cpu quelvo-signature-signed)" "$(time_of cpu sha256sum-signed)")" x "<=" 1.15
  hf sha256sum-fixtures "$RUNS" "sha256sum fixtures-signed/*"
  hf quelvo-signature-fixtures "$RUNS" "'$QUELVO' --ca-file '$ca' 'fixtures-signed/*'"
  row "the small signed fixtures alone / sha256sum (cpu)" \
    "$(ratio "$(time_of cpu quelvo-signature-fixtures)" "$(time_of cpu sha256sum-fixtures)")" x
}

# A catalog folder of 300 catalogs of 200 members each (make_catalogs.sh),
# read, verified and indexed once, for one file that the last of them
# lists. Target: under a second.
row_catalogs() {
  local hash
  hash=$("$QUELVO" --json --catalog-dir "$REPO/tests/fixtures/signed/catalogs" \
    "$REPO/tests/fixtures/pe/basic.dll" | "$PY" -c \
    'import json, sys; print(json.loads(sys.stdin.read())["signature"]["catalog"]["hash"])')
  [ -f catalogs/.done ] || { "$HERE/make_catalogs.sh" catalogs 300 200 "$hash" && touch catalogs/.done; }
  "$QUELVO" --catalog-dir catalogs "$REPO/tests/fixtures/pe/basic.dll" | grep '^Signature: *catalog' >/dev/null ||
    { echo "FAIL: the catalog folder does not list pe/basic.dll" >&2; exit 1; }
  hf quelvo-catalogs "$RUNS" "'$QUELVO' --catalog-dir catalogs '$REPO/tests/fixtures/pe/basic.dll'"
  row "300 catalogs read and indexed, wall time" \
    "$(awk -v t="$(time_of wall quelvo-catalogs)" 'BEGIN { printf "%.2f", t }')" s "<=" 1
  row "300 catalogs read and indexed, cpu time" \
    "$(awk -v t="$(time_of cpu quelvo-catalogs)" 'BEGIN { printf "%.2f", t }')" s
}

# quelvo --dotnet -d against quelvo -d over a folder of Mono's .NET
# assemblies: the CLI header, the metadata root, the Assembly, AssemblyRef
# and attribute rows and the heap entries they name, and the resource's
# FileVersion and ProductVersion looked up for the comparison, on top of
# what -d reads.
# Target: within 1.5x of -d.
row_dotnet() {
  if [ ! -d mono ]; then
    log "building mono/ (Mono's assemblies)"
    rm -rf mono.tmp
    mkdir mono.tmp
    local i=0 f
    while IFS= read -r -d '' f; do
      i=$((i + 1))
      cp "$f" "mono.tmp/$i-$(basename "$f")"
    done < <(find /usr/lib/mono -type f -iname '*.dll' -print0 | sort -z)
    mv mono.tmp mono
  fi
  echo "mono/: $(find mono -type f | wc -l) files, $(($(du -sb mono | cut -f1) / 1048576)) MiB"
  ab dotnet-row "'$QUELVO' -d 'mono/*'" "'$QUELVO' --dotnet -d 'mono/*'"
  row "quelvo --dotnet -d / -d on mono/ (cpu)" "$(ab_ratio cpu dotnet-row)" x "<=" 1.5
  row "quelvo --dotnet -d / -d on mono/ (wall)" "$(ab_ratio wall dotnet-row)" x "<=" 1.5
}

# quelvo --lint against quelvo -d on the same files, one right after the
# other: the text report, and beside it, from the same block, every string
# and table key, the translation list, the image's kind, and each
# language's fixed record where a file holds several. Target: within 1.3x
# of -d.
row_lint() {
  ab lint-row "'$QUELVO' -d 'real/*'" "'$QUELVO' --lint 'real/*'"
  row "quelvo --lint / -d on real/ (cpu)" "$(ab_ratio cpu lint-row)" x "<=" 1.3
}

ALL_ROWS="row_pattern row_literal row_syscalls row_large_folder row_memory
  row_cold row_cold_bytes row_walk row_walk_cold row_walk_syscalls row_case_folder
  row_peers row_big_file row_many row_json row_csv row_hash row_signature
  row_catalogs row_dotnet row_lint"
for r in ${ROWS:-$ALL_ROWS}; do
  "$r"
done
summary

