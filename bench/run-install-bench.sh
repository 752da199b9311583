#!/usr/bin/env bash
# OrvoInstall and OrvoRemove of FILES files (about BYTES each, nested
# folders) against msiexec's own InstallFiles and RemoveFiles of the same
# files from a wixl package, MSZIP and LZX, and against the floor: a plain
# Win32 writer of the same files with the same times and attributes, and
# their deletion, in the same prefix and run; then a tenth of the files, to
# show the cost per file staying flat.
#   bench/run-install-bench.sh [FILES] [BYTES]      (default 20000 10000)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/tools/wine-env.sh"
arch=$(orvo_pick_arch)
build=${ORVO_BUILD:-$top/build}/$arch
files=${1:-20000}
bytes=${2:-10000}
work=$build/bench/install-work
echo "install benchmark with the $arch build of orvo_Action"
# A configured build only needs the benchmark and the library.
[ -f "$build/CMakeCache.txt" ] || "$top/tools/build.sh" "$arch" >/dev/null
cmake --build "$build" -j "${ORVO_JOBS:-2}" --target install_bench >/dev/null
wine_setup "$arch" "$build/wineprefix"
wine_up
winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }

# Content and the reference packages: one component per folder.
make_set() { # count folder
  python3 "$top/bench/install/make_set.py" "$1" "$bytes" "$2"
  (cd "$2" && wixl -o reference.msi OrvoBenchReference.wxs 2>/dev/null && wixl -o empty.msi OrvoBenchEmpty.wxs 2>/dev/null)
}

run() { # folder method [journal|nojournal]
  wine "$build/bench/install_bench.exe" "$(winpath "$1/content")" "$(winpath "$1/reference.msi")" \
    "$(winpath "$1/empty.msi")" "$2" "${3:-journal}" </dev/null >"$work/out.txt" 2>/dev/null || true
  tr -d '\r' <"$work/out.txt"
}

for count in "$files" $((files / 10)); do
  set_dir=$work/set-$count
  rm -rf "$set_dir"
  mkdir -p "$set_dir"
  echo "== $count files"
  make_set "$count" "$set_dir"
  # Each with the rollback journal and without it, to show what it costs.
  for method in mszip lzx; do
    run "$set_dir" "$method" journal
    run "$set_dir" "$method" nojournal
  done
  rm -rf "$set_dir"
done
wine_down
