#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, replays the saved corpus and the
# regression inputs, then fuzzes each target for a bounded time.
#
#   fuzz/run.sh [SECONDS_PER_TARGET]     (default 60; 0 replays only)
#
# New inputs that raise coverage are kept in fuzz/corpus/TARGET. A crash
# stops the run; its input is left in build-fuzz/ and belongs, once fixed,
# in fuzz/regressions/TARGET as a permanent test.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
jobs=$(nproc 2>/dev/null || echo 2)
targets=(fuzz_version fuzz_report fuzz_wildcard fuzz_json fuzz_signature fuzz_dotnet)
# fuzz_json parses what it writes with nlohmann-json; the program needs
# libcrypto's headers to build at all.
need=()
[ -f /usr/include/nlohmann/json.hpp ] || need+=(nlohmann-json3-dev)
[ -f /usr/include/openssl/evp.h ] || need+=(libssl-dev)
if [ "${#need[@]}" -gt 0 ] && [ "$(id -u)" = 0 ]; then
  echo "== installing ${need[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null ||
    { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null; }
fi
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DQUELVO_FUZZ=ON \
  -DBUILD_TESTING=OFF -DQUELVO_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j"$jobs" --target "${targets[@]}"

seed() {
  local target=$1
  mkdir -p "fuzz/corpus/$target"
  case $target in
  fuzz_version | fuzz_report | fuzz_json)
    # Every fixture executable is a seed; copies are cheap and stable.
    for f in tests/fixtures/pe/* tests/fixtures/ne/* tests/fixtures/lossless/*; do
      if [ -f "$f" ]; then cp -n "$f" "fuzz/corpus/$target/seed-$(basename "$f")"; fi
    done
    ;;
  fuzz_signature)
    # The signed and tampered fixtures and the catalog; the large one is
    # past the input limit.
    for f in tests/fixtures/signed/*.exe tests/fixtures/signed/*.dll tests/fixtures/signed/catalogs/*.cat tests/fixtures/pe/basic.dll; do
      if [ -f "$f" ] && [ "$(stat -c %s "$f")" -le 65536 ]; then cp -n "$f" "fuzz/corpus/$target/seed-$(basename "$f")"; fi
    done
    ;;
  fuzz_dotnet)
    # The .NET fixtures, satellites, module and hosts included.
    while IFS= read -r -d '' f; do
      cp -n "$f" "fuzz/corpus/$target/seed-$(echo "${f#tests/fixtures/dotnet/}" | tr / _)"
    done < <(find tests/fixtures/dotnet -type f -size -64k -print0)
    ;;
  fuzz_wildcard)
    local i=0
    for pair in '*.*|README' '*.|a.txt' 'a?.txt|a.txt' 'file?|file12' \
      'f*.f*|foo.faa' '?.?|a.b' '*.exe|a.b.exe' 'readme.*|readme'; do
      printf '%s\0%s' "${pair%%|*}" "${pair#*|}" >"fuzz/corpus/$target/seed-$i"
      i=$((i + 1))
    done
    ;;
  esac
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for target in "${targets[@]}"; do
  seed "$target"
  dirs=("fuzz/corpus/$target")
  [ -d "fuzz/regressions/$target" ] && dirs+=("fuzz/regressions/$target")
  echo "== $target: replaying ${dirs[*]}"
  files=$(find "${dirs[@]}" -type f | wc -l)
  "build-fuzz/fuzz/$target" -runs=0 "${dirs[@]}" 2>&1 | tail -n 2
  echo "== $target: $files inputs replayed without a fault"
  if [ "$seconds" -gt 0 ]; then
    echo "== $target: fuzzing for ${seconds}s"
    (cd build-fuzz && "./fuzz/$target" -max_total_time="$seconds" \
      -max_len=65536 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      "../fuzz/corpus/$target" 2>&1 | grep -E "^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ *DONE)|ERROR|SUMMARY" || true)
    # Keep the saved corpus minimal: only inputs that add coverage.
    merged="build-fuzz/merged-$target"
    rm -rf "$merged" && mkdir -p "$merged"
    "build-fuzz/fuzz/$target" -merge=1 "$merged" "fuzz/corpus/$target" >/dev/null 2>&1 &&
      rm -rf "fuzz/corpus/$target" && mv "$merged" "fuzz/corpus/$target"
    # A crash leaves crash-*/leak-*/timeout-* files behind: fail loudly.
    if [ -n "$(find build-fuzz -maxdepth 1 -name "crash-*" -o -maxdepth 1 -name "leak-*" -o -maxdepth 1 -name "timeout-*")" ]; then
      echo "fuzz: $target found a fault; inputs in build-fuzz/"
      exit 1
    fi
  fi
done
echo "fuzz: all targets clean"
