#!/usr/bin/env bash
# Cabinet benchmarks, all figures in one run:
#  - a deterministic mixed data set (text, binaries, already-compressed
#    data) in a tmpfs folder, packed by the writer as MSZIP and as LZX:21;
#  - our decoder against cabextract natively, writing to the same tmpfs
#    folder and with the output discarded (cabextract -t);
#  - under Wine, our extraction against cabinet.dll's FDICopy;
#  - the decoder's peak memory and the writer's LZX ratio against MSZIP.
# Environment: ORVO_NATIVE_BUILD, ORVO_BUILD (cross), ORVO_BENCH_MB (220),
# ORVO_BENCH_REPEATS (3), ORVO_BENCH_DIR (a fresh folder in /dev/shm).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
native=${ORVO_NATIVE_BUILD:-$top/build-native}
. "$top/tools/wine-env.sh"
arch=$(orvo_pick_arch)
cross=${ORVO_BUILD:-$top/build}/$arch
megabytes=${ORVO_BENCH_MB:-220}
repeats=${ORVO_BENCH_REPEATS:-3}
work=${ORVO_BENCH_DIR:-/dev/shm/orvo-cab-bench-$$}
jobs=${ORVO_JOBS:-2}
say() { printf '[cab-bench] %s\n' "$*"; }
say "the Wine part uses the $arch build of orvo_Action"
calc() { awk "BEGIN { printf \"$1\", $2 }"; }

say "building the native benchmark in $native"
[ -f "$native/CMakeCache.txt" ] || cmake -S "$top" -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$native" -j "$jobs" --target cab_bench >/dev/null
bench=$native/bench/cabinet/cab_bench

rm -rf "$work"
mkdir -p "$work"
cleanup() { rm -rf "$work"; }
trap cleanup EXIT

say "generating ${megabytes} MB in $work/data"
"$bench" generate "$work/data" "$megabytes"
data_bytes=$(du -sb "$work/data" | cut -f1)

pack_line() { "$bench" pack "$work/data" "$work/$1.cab" "$2"; }
say "packing"
mszip_pack=$(pack_line mszip mszip) && echo "  $mszip_pack"
lzx_pack=$(pack_line lzx lzx:21) && echo "  $lzx_pack"
mszip_size=$(stat -c %s "$work/mszip.cab")
lzx_size=$(stat -c %s "$work/lzx.cab")

# Best wall time of a command over the repeats, in seconds.
best_time() {
  local best=""
  for _ in $(seq "$repeats"); do
    [ -n "${prepare:-}" ] && eval "$prepare"
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null
    end=$(date +%s.%N)
    best=$(awk -v a="$start" -v b="$end" -v best="$best" 'BEGIN { t = b - a; if (best == "" || t < best) best = t; printf "%.4f", best }')
  done
  echo "$best"
}

for method in mszip lzx; do
  cabinet=$work/$method.cab
  out=$work/out
  rm -rf "$out" && mkdir -p "$out"
  read -r ours_s bytes peak rss_growth rss_total < <("$bench" decode "$cabinet" "$out" "$repeats")
  prepare="rm -rf '$out'; mkdir -p '$out'"
  theirs_s=$(best_time cabextract -q -d "$out" "$cabinet")
  prepare=""
  read -r ours_d _ peak_d _ _ < <("$bench" decode "$cabinet" --discard "$repeats")
  theirs_d=$(best_time cabextract -q -t "$cabinet")
  # -t also takes an MD5 of every file; -p to /dev/null discards without it.
  theirs_p=$(best_time cabextract -q -p "$cabinet")
  rm -rf "$out"
  mb=$(calc "%.1f" "$bytes / 1048576")
  echo
  say "$method: $mb MB decoded, best of $repeats"
  printf '  to tmpfs:   ours %7.1f MB/s, cabextract %7.1f MB/s, ratio ours/cabextract %.2fx\n' \
    "$(calc "%.3f" "$bytes / 1048576 / $ours_s")" "$(calc "%.3f" "$bytes / 1048576 / $theirs_s")" \
    "$(calc "%.3f" "$theirs_s / $ours_s")"
  printf '  discarded:  ours %7.1f MB/s, cabextract -t %7.1f MB/s, ratio ours/cabextract %.2fx\n' \
    "$(calc "%.3f" "$bytes / 1048576 / $ours_d")" "$(calc "%.3f" "$bytes / 1048576 / $theirs_d")" \
    "$(calc "%.3f" "$theirs_d / $ours_d")"
  printf '              cabextract -p >/dev/null %7.1f MB/s, ratio ours/cabextract %.2fx\n' \
    "$(calc "%.3f" "$bytes / 1048576 / $theirs_p")" "$(calc "%.3f" "$theirs_p / $ours_d")"
  window=$([ "$method" = lzx ] && echo 2097152 || echo 32768)
  printf '  memory:     decoder peak %.2f MB (window %.2f MB, %.2f MB beyond it); process peak rss %.1f MB, grew %.1f MB while decoding\n' \
    "$(calc "%.4f" "$peak / 1048576")" "$(calc "%.4f" "$window / 1048576")" \
    "$(calc "%.4f" "($peak - $window) / 1048576")" "$(calc "%.2f" "$rss_total / 1024")" "$(calc "%.2f" "$rss_growth / 1024")"
done

echo
say "writer: $data_bytes bytes of data"
printf '  MSZIP %d bytes (ratio %.4f), LZX:21 %d bytes (ratio %.4f); LZX/MSZIP size %.3f\n' \
  "$mszip_size" "$(calc "%.5f" "$mszip_size / $data_bytes")" "$lzx_size" "$(calc "%.5f" "$lzx_size / $data_bytes")" \
  "$(calc "%.4f" "$lzx_size / $mszip_size")"

if wine_setup "$arch" "$cross/wineprefix" && [ -x "$WINELOADER" ]; then
  echo
  say "building the Wine benchmark in $cross"
  [ -f "$cross/CMakeCache.txt" ] || cmake -S "$top" -B "$cross" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$(orvo_toolchain "$arch")" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$cross" -j "$jobs" --target cab_bench_wine >/dev/null
  wine_up
  winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
  for method in mszip lzx; do
    read -r bytes ours theirs ours_peak theirs_peak < <(wine "$cross/bench/cabinet/cab_bench_wine.exe" \
      "$(winpath "$work/$method.cab")" "$(winpath "$work/wout")" "$repeats" </dev/null)
    rm -rf "$work/wout"
    printf '  %-5s under Wine: ours %7.1f MB/s, cabinet.dll FDICopy %7.1f MB/s, ratio ours/cabinet.dll %.2fx; peak memory ours %.2f MB, cabinet.dll %.2f MB\n' \
      "$method" "$(calc "%.3f" "$bytes / 1048576 / $ours")" "$(calc "%.3f" "$bytes / 1048576 / $theirs")" \
      "$(calc "%.3f" "$theirs / $ours")" "$(calc "%.4f" "$ours_peak / 1048576")" "$(calc "%.4f" "$theirs_peak / 1048576")"
  done
else
  say "no mingw or Wine here: the Wine comparison is left out"
fi
