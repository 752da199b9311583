#!/usr/bin/env bash
# Builds orvo_Action.dll and the Windows tools: tools/build.sh [x64|x86 ...]
# (both by default) into build/<arch>/bin. ORVO_BUILD_TESTS=ON or OFF says
# whether the tests are built too; unset, a build tree keeps its choice (a new
# one builds them).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/tools/wine-env.sh"
base=${ORVO_BUILD:-$top/build}
[ $# -gt 0 ] || set -- x64 x86
for arch in "$@"; do
  build=$base/$arch
  tests=()
  [ -z "${ORVO_BUILD_TESTS:-}" ] || tests=(-DORVO_BUILD_TESTS="$ORVO_BUILD_TESTS")
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$(orvo_toolchain "$arch")" \
    -DCMAKE_BUILD_TYPE=Release -DORVO_DEPS="${ORVO_DEPS:-$top/.deps}" "${tests[@]}" --no-warn-unused-cli >/dev/null
  cmake --build "$build" -j "${ORVO_JOBS:-$(nproc)}"
  echo "[build] $build/bin/orvo_Action.dll"
done
