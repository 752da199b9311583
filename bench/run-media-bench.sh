#!/usr/bin/env bash
# Media authoring against the compressor's own speed, natively and in one
# run: `orvo-media add` of FILES files (about BYTES each, the install
# benchmark's content) as MSZIP and as LZX 21, beside `gcab -c -z` (MSZIP)
# of the same files; throughput, ratio to gcab and compression ratio each.
#   bench/run-media-bench.sh [FILES] [BYTES]      (default 20000 10000)
# Environment: ORVO_NATIVE_BUILD, ORVO_MEDIA (another orvo-media to time),
# ORVO_BENCH_CONTENT (a content folder made before), ORVO_BENCH_DIR (a fresh
# folder in /dev/shm).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
native=${ORVO_NATIVE_BUILD:-$top/build-native}
files=${1:-20000}
bytes=${2:-10000}
work=${ORVO_BENCH_DIR:-/dev/shm/orvo-media-bench-$$}
say() { printf '[media-bench] %s\n' "$*"; }
calc() { awk "BEGIN { printf \"$1\", $2 }"; }
command -v gcab >/dev/null || { say "gcab is not installed"; exit 1; }

[ -f "$native/CMakeCache.txt" ] || cmake -S "$top" -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
[ -n "${ORVO_MEDIA:-}" ] || cmake --build "$native" -j "${ORVO_JOBS:-2}" --target orvo-media >/dev/null
media=${ORVO_MEDIA:-$native/bin/orvo-media}

rm -rf "$work"
mkdir -p "$work"
cleanup() { rm -rf "$work"; }
trap cleanup EXIT
content=${ORVO_BENCH_CONTENT:-$work/set/content}
if [ -z "${ORVO_BENCH_CONTENT:-}" ]; then
  say "generating $files files in $work/set"
  python3 "$top/bench/install/make_set.py" "$files" "$bytes" "$work/set"
fi
data_bytes=$(find "$content" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')

seconds() { # command...: wall time in seconds
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  calc "%.2f" "$end - $start"
}

(cd "$content" && find . -type f | sort | sed 's|^\./||') >"$work/list"
# One gcab run of every file (the names have no blanks).
gcab_time=$(cd "$content" && seconds bash -c 'exec gcab -c -z "$0" $(cat "$1")' "$work/gcab.cab" "$work/list")
gcab_size=$(stat -c %s "$work/gcab.cab")

add() { # method
  rm -rf "$work/media"
  "$media" init "$work/media" >/dev/null
  seconds "$media" add "$work/media" Bench "$content" --directory ORVODATA --method "$1"
}
mszip_time=$(add mszip)
mszip_size=$(stat -c %s "$work/media/Content/Bench/Bench.cab")
lzx_time=$(add lzx:21)
lzx_size=$(stat -c %s "$work/media/Content/Bench/Bench.cab")

mb=$(calc "%.1f" "$data_bytes / 1e6")
say "$(wc -l <"$work/list") files, $mb MB"
line() { # name seconds size
  printf '  %-24s %7.2f s %7.1f MB/s  compressed to %5.1f %%\n' "$1" "$2" "$(calc "%.4f" "$data_bytes / 1e6 / $2")" \
    "$(calc "%.4f" "100 * $3 / $data_bytes")"
}
line "gcab -c -z (MSZIP)" "$gcab_time" "$gcab_size"
line "orvo-media add MSZIP" "$mszip_time" "$mszip_size"
line "orvo-media add LZX 21" "$lzx_time" "$lzx_size"
say "throughput against gcab: MSZIP $(calc "%.2f" "$gcab_time / $mszip_time"), LZX 21 $(calc "%.2f" "$gcab_time / $lzx_time")"
