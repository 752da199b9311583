#!/usr/bin/env bash
# N installations at once, each in a Wine prefix of its own, of the sample
# media (and a Bulk Orvo of BULK_MB random megabytes) whose cabinets are
# only on one nginx: the time of each installation and the bytes the server
# sent for it (its own URL prefix /iK/), for N = 1 2 4 8.
#   BULK_MB=16 bench/run-parallel-install-bench.sh [N...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/tools/wine-env.sh"
arch=$(orvo_pick_arch)
build=${ORVO_BUILD:-$top/build}/$arch
counts=${*:-1 2 4 8}
bulk_mb=${BULK_MB:-16}
work=$build/bench/parallel-work
echo "parallel installation benchmark with the $arch build of orvo_Action"
cmake --build "$build" --target orvo_Action orvo-media >/dev/null
winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }
wine_setup "$arch" "$build/wineprefix"
wine_up

# The media as the server holds them, and the package.
served=$work/served
rm -rf "$served" && mkdir -p "$served" "$work/bulk"
[ "$(du -sm "$work/bulk" | cut -f1)" -ge "$bulk_mb" ] ||
  for i in $(seq "$bulk_mb"); do head -c 1048576 /dev/urandom > "$work/bulk/part$i.bin"; done
sample=$top/samples/product
tool() { wine "$build/bin/orvo-media.exe" "$@" </dev/null >/dev/null 2>&1; }
tool init "$(winpath "$served")"
tool add "$(winpath "$served")" Basics "$(winpath "$sample/content/Basics")" --directory ORVODATA \
  --profile "$(winpath "$sample/basics-profiles.xml")"
tool add "$(winpath "$served")" Extras "$(winpath "$sample/content/Extras")" --directory USERDATA --per-user
tool add "$(winpath "$served")" Bulk "$(winpath "$work/bulk")" --directory ORVODATA
wixl_arch=()
[ "$arch" = x64 ] && wixl_arch=(-a x64 -D Platform=x64)
(cd "$build/bin" && wixl "${wixl_arch[@]}" -D OrvoGuid=_BENCH -D OrvoDll=orvo_Action.dll \
  -D UpgradeCode='{5D0C3B6A-1E2F-4A5B-9C8D-7E6F5A4B3C29}' -D FolderName=OrvoBench \
  -D ComponentGuid='{6E1D4C7B-2F30-4B6C-8D9E-8F7A6B5C4D39}' -o "$work/bench.msi" "$sample/product.wxs" 2>/dev/null)
"$top/integration/fix-types.sh" "$work/bench.msi"
wine_down

sh "$top/tests/media/nginx_fixture.sh" start "$work/nginx" >/dev/null
trap 'sh "$top/tests/media/nginx_fixture.sh" stop "$work/nginx"' EXIT
port=$(cat "$work/nginx/port")
cabinet_bytes=$(find "$served" -name '*.cab' -printf '%s\n' | awk '{ s += $1 } END { print s }')

max=$(printf '%s\n' $counts | sort -n | tail -1)
for k in $(seq "$max"); do
  # Local media without cabinets: every installation downloads them.
  m=$work/media$k
  rm -rf "$m" && cp -r "$served" "$m" && find "$m" -name '*.cab' -delete && cp "$work/bench.msi" "$m/"
  sed -i "0,/<Orvos>/s||<URL>http://127.0.0.1:$port/i$k/</URL>\r\n  <Orvos>|" "$m/Content/master.xml"
  ln -sfn "$served" "$work/nginx/www/i$k"
  (export WINEPREFIX=$work/prefix$k; wine_up; wine_down)
done

install_one() { # k
  export WINEPREFIX=$work/prefix$1
  local temp start status=0
  temp=$(wine winepath -u 'C:\users\root\Temp' 2>/dev/null | tr -d '\r') || true
  rm -rf "$temp/KeltraTempMedia"
  start=$(date +%s.%N)
  wine msiexec /i "$(winpath "$work/media$1/bench.msi")" /qn "ORVO_SELECTED=Basics;Extras;Bulk" >/dev/null 2>&1 || status=$?
  awk -v a="$start" -v b="$(date +%s.%N)" -v s=$status -v k="$1" 'BEGIN { printf "%d %.1f %d\n", k, b - a, s }'
  wine msiexec /x "$(winpath "$work/media$1/bench.msi")" /qn >/dev/null 2>&1 || true
  wine_down
}

printf 'cabinets: %d bytes per installation\n' "$cabinet_bytes"
for n in $counts; do
  : > "$work/nginx/logs/access.log"
  for k in $(seq "$n"); do install_one "$k" > "$work/result$k" & done
  wait
  printf 'N=%d:\n' "$n"
  for k in $(seq "$n"); do
    read -r _ seconds status < "$work/result$k"
    sent=$(awk -v p="/i$k/" 'index($1, p) == 1 { s += $5 } END { print s + 0 }' "$work/nginx/logs/access.log")
    printf '  installation %d: %6.1f s, exit %d, server sent %d bytes\n' "$k" "$seconds" "$status" "$sent"
  done
done
