#!/usr/bin/env bash
# Builds the cabinet decoder's fuzz target (clang, libFuzzer, AddressSanitizer
# and UBSan) into build-fuzz/ and runs it for N seconds (default 60), seeded
# with small cabinets of every method and layout the tests use. Any finding
# (crash, leak, sanitizer report, timeout) fails the run; its input is kept
# in build-fuzz/fuzz-findings/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build=${ORVO_FUZZ_BUILD:-$top/build-fuzz}
say() { printf '[fuzz-decoder] %s\n' "$*"; }

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DORVO_FUZZ=ON >/dev/null
cmake --build "$build" --target cab_decoder_fuzz cab_decoder_fuzz_seeds

bin=$build/tests/deploy/cabinet/decoder/fuzz
seeds=$build/fuzz-seeds
corpus=$build/fuzz-corpus
findings=$build/fuzz-findings
rm -rf "$seeds" "$findings"
mkdir -p "$seeds" "$corpus" "$findings"
"$bin/cab_decoder_fuzz_seeds" "$seeds" "$top/tests/deploy/cabinet/decoder/data"

say "fuzzing for ${seconds}s"
status=0
"$bin/cab_decoder_fuzz" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -max_len=65536 \
  -artifact_prefix="$findings/" -print_final_stats=1 "$corpus" "$seeds" || status=$?
if [ $status -ne 0 ] || [ -n "$(ls -A "$findings")" ]; then
  say "FINDINGS in $findings"
  ls -l "$findings" >&2
  exit 1
fi
say "no findings"
