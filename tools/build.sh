#!/usr/bin/env bash
# Builds orvo_Action.dll (and the Windows tools) into build/bin.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ORVO_BUILD:-$top/build}
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DORVO_DEPS="${ORVO_DEPS:-$top/.deps}" >/dev/null
cmake --build "$build" -j "${ORVO_JOBS:-$(nproc)}"
echo "[build] $build/bin/orvo_Action.dll"
