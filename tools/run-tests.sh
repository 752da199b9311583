#!/usr/bin/env bash
# Builds orvo_Action and its tests for Windows (mingw) and runs them under
# Wine in the build tree's own prefix, then builds and runs the portable
# parts natively (with the reference cabinet tools) and a short fuzz run.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ORVO_BUILD:-$top/build}
native=${ORVO_NATIVE_BUILD:-$top/build-native}
jobs=${ORVO_JOBS:-$(nproc)}
say() { printf '[run-tests] %s\n' "$*"; }

say "building for Windows in $build"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DORVO_DEPS="${ORVO_DEPS:-$top/.deps}" >/dev/null
cmake --build "$build" -j "$jobs"

export WINEPREFIX=$build/wineprefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
say "warming up Wine in $WINEPREFIX"
mkdir -p "$WINEPREFIX"
wineserver -p || true  # one may be running for this prefix already
# Wine's services hold the standard streams; ctest would wait on them forever.
wine wineboot </dev/null >/dev/null 2>&1 || true
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

status=0
say "running the Windows tests under Wine"
ctest --test-dir "$build" --output-on-failure -j "$jobs" </dev/null || status=1

say "building the portable parts natively in $native"
cmake -S "$top" -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$native" -j "$jobs"
ctest --test-dir "$native" --output-on-failure -j "$jobs" </dev/null || status=1

if [ -x "$top/tools/fuzz-decoder.sh" ] && [ "${ORVO_SKIP_FUZZ:-0}" != 1 ]; then
  say "short fuzz run of the cabinet decoder"
  "$top/tools/fuzz-decoder.sh" "${ORVO_FUZZ_SECONDS:-60}" || status=1
fi

[ $status -eq 0 ] && say "all tests passed" || say "FAILURES"
exit $status
