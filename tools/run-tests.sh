#!/usr/bin/env bash
# Builds orvo_Action and its tests for Windows (mingw) and runs them under
# Wine in each build tree's own prefix: the x64 build under 64-bit Wine on
# every machine, the x86 build under 32-bit Wine where this machine executes
# 32-bit programs (elsewhere its DLL is built and checked, not run). Then the
# portable parts natively (with the reference cabinet tools and the PE
# checks of both DLLs) and a short fuzz run.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/tools/wine-env.sh"
base=${ORVO_BUILD:-$top/build}
native=${ORVO_NATIVE_BUILD:-$top/build-native}
jobs=${ORVO_JOBS:-$(nproc)}
say() { printf '[run-tests] %s\n' "$*"; }

archs=(x64)
if orvo_runs_x86; then
  archs+=(x86)
else
  say "x86 suite skipped: this machine does not execute 32-bit programs (the x86 DLL is built and its image checked)"
  say "building the x86 DLL and tools in $base/x86"
  ORVO_BUILD_TESTS=OFF "$top/tools/build.sh" x86 >/dev/null
fi

status=0
for arch in "${archs[@]}"; do
  build=$base/$arch
  say "building the $arch build and its tests in $build"
  ORVO_BUILD_TESTS=ON "$top/tools/build.sh" "$arch" >/dev/null
  wine_setup "$arch" "$build/wineprefix"
  say "warming up $arch Wine in $WINEPREFIX"
  wine_up
  trap wine_down EXIT
  say "running the $arch Windows tests under Wine"
  ctest --test-dir "$build" --output-on-failure -j "$jobs" </dev/null || status=1
  wine_down
done

# The native tests that start Wine's own tools use the x64 loader and a
# prefix of their own.
wine_setup x64 "$native/wineprefix"
say "building the portable parts natively in $native"
cmake -S "$top" -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DORVO_CHECK_DLLS="x86=$base/x86/bin/orvo_Action.dll;x64=$base/x64/bin/orvo_Action.dll" >/dev/null
cmake --build "$native" -j "$jobs"
ctest --test-dir "$native" --output-on-failure -j "$jobs" </dev/null || status=1
wine_down

if [ -x "$top/tools/fuzz-decoder.sh" ] && [ "${ORVO_SKIP_FUZZ:-0}" != 1 ]; then
  say "short fuzz run of the cabinet decoder"
  "$top/tools/fuzz-decoder.sh" "${ORVO_FUZZ_SECONDS:-60}" || status=1
fi

[ $status -eq 0 ] && say "all tests passed" || say "FAILURES"
exit $status
