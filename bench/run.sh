#!/usr/bin/env bash
# Measures quelvo against an I/O floor and against other version readers,
# all run here, in this script, on the same files. Prints ratios, not
# absolute claims: absolute times depend on the machine and the page cache.
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
REPO=$(dirname "$HERE")
BENCH_DIR=${BENCH_DIR:-/tmp/quelvo-bench}
RUNS=${RUNS:-20}           # timed runs for quelvo and the floor
PEER_RUNS=${PEER_RUNS:-3}  # timed runs for the (much slower) peers
MANY_COUNT=100000
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
[ -x "$PY" ] || need+=(python3)
installed python3-pefile || need+=(python3-pefile)
command -v exiftool >/dev/null 2>&1 || need+=(libimage-exiftool-perl)
command -v peres >/dev/null 2>&1 || need+=(pev)
# wine64 is only a source of real PE files (its DLLs and EXEs).
installed wine64 || need+=(wine64)
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
log "building quelvo (Release) and the floor into $BUILD"
cmake -S "$REPO" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DQUELVO_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j2 --target quelvo >/dev/null
cc -O2 -Wall -Wextra -o "$BUILD/floor" "$HERE/floor.c"
QUELVO="$BUILD/quelvo"
FLOOR="$BUILD/floor"

# ---------------------------------------------------------------- 3. corpus
mkdir -p "$BENCH_DIR/results"
cd "$BENCH_DIR"

pe_dirs=()
for d in /usr/lib/x86_64-linux-gnu/wine/x86_64-windows \
         /usr/lib/x86_64-linux-gnu/wine/i386-windows \
         /usr/lib/i386-linux-gnu/wine/i386-windows; do
  [ -d "$d" ] && pe_dirs+=("$d")
done
[ ${#pe_dirs[@]} -gt 0 ] || { echo "no wine PE directories found" >&2; exit 1; }

list_sources() {
  find "${pe_dirs[@]}" -maxdepth 1 -type f \( -iname '*.dll' -o -iname '*.exe' \
    -o -iname '*.sys' -o -iname '*.drv' -o -iname '*.cpl' -o -iname '*.ocx' \
    -o -iname '*.acm' \) -print0
}
want_real=$(list_sources | tr -cd '\0' | wc -c)
have_real=$(find real -maxdepth 1 -type f 2>/dev/null | wc -l || true)
if [ "$have_real" -ne "$want_real" ]; then
  log "building real/ ($want_real files)"
  rm -rf real many
  mkdir real
  # Files from the 32-bit directories get a prefix so equal names do not
  # overwrite their 64-bit namesakes.
  list_sources | while IFS= read -r -d '' f; do
    case "$f" in
      */i386-windows/*) cp "$f" "real/i386-$(basename "$f")" ;;
      *) cp "$f" "real/$(basename "$f")" ;;
    esac
  done
fi
real_count=$(find real -maxdepth 1 -type f | wc -l)
real_bytes=$(du -sb real | cut -f1)
echo "real/: $real_count files, $((real_bytes / 1048576)) MiB (from ${pe_dirs[*]})"

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

# ---------------------------------------------------------------- 6. correctness
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

# ---------------------------------------------------------------- 4. timing
hf() { # name runs [hyperfine options...] -- command
  local name=$1 runs=$2
  shift 2
  log "$name"
  hyperfine --style basic --warmup 2 --runs "$runs" --output null \
    --export-json "results/$name.json" --command-name "$name" "$@"
}

# quelvo expands its patterns itself; the floor gets the shell's expansion
# of the same pattern, or reads the folder with readdir when 100,000 names
# would not fit on one command line.
hf quelvo-real "$RUNS" "'$QUELVO' 'real/*'"
hf quelvo-d-real "$RUNS" "'$QUELVO' -d 'real/*'"
hf floor-real "$RUNS" "'$FLOOR' real/*"
hf pefile-real "$PEER_RUNS" -i "'$PY' '$HERE/pefile_peer.py' real/*"
hf exiftool-real "$PEER_RUNS" -i "exiftool -q -q -fast -CompanyName -FileDescription -FileVersion real/*"
# peres takes one file per invocation: one process per file.
hf peres-real "$PEER_RUNS" -i "find real -type f -print0 | xargs -0 -n1 peres -v"
hf quelvo-small-file "$RUNS" -N "'$QUELVO' huge/small.dll"
hf quelvo-1gib-file "$RUNS" -N "'$QUELVO' huge/huge.dll"
hf quelvo-many "$RUNS" "'$QUELVO' 'many/*'"
hf floor-many "$RUNS" "'$FLOOR' -r many"

# ---------------------------------------------------------------- 5. summary
log "summary ($real_count real PE files, $((real_bytes / 1048576)) MiB; $many_count small files; warm page cache)"
"$PY" - "$BENCH_DIR/results" <<'EOF'
import json, os, sys

res = sys.argv[1]
def stats(name):
    with open(os.path.join(res, name + ".json")) as f:
        r = json.load(f)["results"][0]
    return r["mean"], r["stddev"] or 0.0

rows = [
    ("quelvo-real", "quelvo 'real/*'"),
    ("quelvo-d-real", "quelvo -d 'real/*'"),
    ("floor-real", "floor real/*"),
    ("pefile-real", "pefile, one process"),
    ("exiftool-real", "exiftool -fast, one process"),
    ("peres-real", "peres -v, one process per file (xargs)"),
    ("quelvo-small-file", "quelvo on one image at its own size"),
    ("quelvo-1gib-file", "quelvo on the same, resources at 1 GiB"),
    ("quelvo-many", "quelvo 'many/*' (100,000 files)"),
    ("floor-many", "floor -r many (100,000 files)"),
]
m = {}
print(f"{'command':<42} {'mean':>10} {'stddev':>10}")
for key, label in rows:
    mean, sd = stats(key)
    m[key] = mean
    print(f"{label:<42} {mean*1000:>8.1f}ms {sd*1000:>8.1f}ms")

def ok(flag):
    return "met" if flag else "MISSED"

print()
print(f"{'ratio':<42} {'value':>10}   {'target':<14} result")
r = m["quelvo-real"] / m["floor-real"]
print(f"{'quelvo / floor (real)':<42} {r:>9.2f}x   {'<= 2x':<14} {ok(r <= 2)}")
r = m["quelvo-d-real"] / m["floor-real"]
print(f"{'quelvo -d / floor (real)':<42} {r:>9.2f}x   {'<= 2x':<14} {ok(r <= 2)}")
r = m["quelvo-many"] / m["floor-many"]
print(f"{'quelvo / floor (many)':<42} {r:>9.2f}x   {'<= 2x':<14} {ok(r <= 2)}")
peers = ["pefile-real", "exiftool-real", "peres-real"]
for p in peers:
    r = m[p] / m["quelvo-real"]
    print(f"{p.replace('-real', '') + ' / quelvo (real)':<42} {r:>9.1f}x")
fastest = min(peers, key=lambda p: m[p])
r = m[fastest] / m["quelvo-real"]
label = f"fastest peer ({fastest.replace('-real', '')}) / quelvo"
print(f"{label:<42} {r:>9.1f}x   {'>= 100x':<14} {ok(r >= 100)}")
r = m["quelvo-1gib-file"] / m["quelvo-small-file"]
print(f"{'1 GiB file / same file at its size':<42} {r:>9.2f}x   {'~1x':<14} {ok(r < 1.5)}")
t = m["quelvo-many"]
print(f"{'quelvo, 100,000-file folder':<42} {t:>9.3f}s   {'< 2 s':<14} {ok(t < 2)}")
EOF
echo
echo "raw hyperfine results: $BENCH_DIR/results/*.json"

# ---------------------------------------------------------------- 7. --json
# quelvo --json against quelvo -d on the same files, measured here, one
# right after the other: the JSON Lines output reads every string of the
# table, the whole translation list and the image's kind and languages on
# top of what the detailed report reads. Target: within 1.3x of -d.
log "--json against -d on real/"
# --json exits with 1 when a file has no version information: -i.
hf json-row-d-real "$RUNS" -i "'$QUELVO' -d 'real/*'"
hf json-row-json-real "$RUNS" -i "'$QUELVO' --json 'real/*'"
"$PY" - "$BENCH_DIR/results" <<'PYEOF'
import json, os, sys

res = sys.argv[1]
def stats(name):
    with open(os.path.join(res, name + ".json")) as f:
        r = json.load(f)["results"][0]
    return r["mean"], r["stddev"] or 0.0, r["user"] + r["system"]

d, d_sd, d_cpu = stats("json-row-d-real")
j, j_sd, j_cpu = stats("json-row-json-real")
print(f"{'command':<42} {'mean':>10} {'stddev':>10} {'user+sys':>10}")
print(f"{'quelvo -d real/* (this block)':<42} {d*1000:>8.1f}ms {d_sd*1000:>8.1f}ms {d_cpu*1000:>8.1f}ms")
print(f"{'quelvo --json real/*':<42} {j*1000:>8.1f}ms {j_sd*1000:>8.1f}ms {j_cpu*1000:>8.1f}ms")
r = j / d
print(f"{'--json / -d (mean wall time)':<42} {r:>9.2f}x   {'<= 1.3x':<14} {'met' if r <= 1.3 else 'MISSED'}")
print(f"{'--json / -d (user+system time)':<42} {j_cpu / d_cpu:>9.2f}x")
PYEOF
