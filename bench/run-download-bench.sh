#!/usr/bin/env bash
# The locator's download of one 200 MB cabinet from nginx on loopback,
# SHA-256 checked as it is written, against curl fetching the same file
# from the same server into the same folder; best of RUNS each.
#   bench/run-download-bench.sh [MB] [RUNS]      (default 200 3)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/tools/wine-env.sh"
arch=$(orvo_pick_arch)
build=${ORVO_BUILD:-$top/build}/$arch
mb=${1:-200}
runs=${2:-3}
work=$build/bench/download-work
echo "download benchmark with the $arch build of orvo_Action"
command -v curl >/dev/null || { echo "curl is not installed" >&2; exit 1; }
cmake --build "$build" --target download_bench >/dev/null
wine_setup "$arch" "$build/wineprefix"
wine_up
sh "$top/tests/media/nginx_fixture.sh" start "$work/nginx" >/dev/null
trap 'sh "$top/tests/media/nginx_fixture.sh" stop "$work/nginx"; wine_down' EXIT
port=$(cat "$work/nginx/port")
head -c $((mb * 1048576)) /dev/urandom > "$work/nginx/www/media/bench.cab"
digest=$(sha256sum "$work/nginx/www/media/bench.cab" | cut -d' ' -f1)
url=http://127.0.0.1:$port/media/bench.cab
temp=$(wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')
tempunix=$(wine winepath -u "$temp" 2>/dev/null | tr -d '\r')
mkdir -p "$tempunix/KeltraTempMedia"

best() { sort -g | head -1; }
curl_s=$(for i in $(seq "$runs"); do
  curl -s -o "$tempunix/KeltraTempMedia/curl.cab" -w '%{time_total}\n' "$url"
  rm -f "$tempunix/KeltraTempMedia/curl.cab"
done | best)
bytes=$((mb * 1048576))
ours() { # digest or empty; only whole downloads count
  for i in $(seq "$runs"); do
    wine "$build/bench/download_bench.exe" "http://127.0.0.1:$port/media/" bench.cab $1 2>/dev/null | tr -d '\r' |
      sed -n "s/^result 17, $bytes bytes in \([0-9.]*\) s.*/\1/p"
  done | best
}
with_s=$(ours "$digest")
without_s=$(ours "")
[ -n "$with_s" ] && [ -n "$without_s" ] || { echo "the locator's download failed" >&2; exit 1; }
rate() { awk -v b=$bytes -v s="$1" 'BEGIN { printf "%.0f MB/s", b / s / 1e6 }'; }
printf '%d MB from nginx on 127.0.0.1, best of %d:\n' "$mb" "$runs"
printf '  curl:                        %6.3f s  %s\n' "$curl_s" "$(rate "$curl_s")"
printf '  locator, SHA-256 checked:    %6.3f s  %s  (%.2f x curl)\n' "$with_s" "$(rate "$with_s")" \
  "$(awk -v a="$curl_s" -v b="$with_s" 'BEGIN { print a / b }')"
printf '  locator, no digest:          %6.3f s  %s  (%.2f x curl)\n' "$without_s" "$(rate "$without_s")" \
  "$(awk -v a="$curl_s" -v b="$without_s" 'BEGIN { print a / b }')"
