#!/usr/bin/env bash
# Three machines (Wine prefixes of their own) install the sample product at
# once, each from media without cabinets, which one fault server holds: the
# first machine's downloads go through untouched, the second's are cut
# short by a server that announces no length (only the digest can tell),
# the third's are cut by a reset half-way and resumed. The second fails
# with 1603 before any file is written and keeps no download; the others
# install every file and keep whole cabinets.
#   many_machines_test.sh ARCH BUILD SOURCE WORK
set -u
arch=$1 build=$2 source=$3 work=$4
. "$source/tools/wine-env.sh"
failures=0
fail() { printf 'FAIL: %s\n' "$*"; failures=$((failures + 1)); }
winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }
kinds=(ok nolength range)

rm -rf "$work"
mkdir -p "$work/state"
cd "$work" || exit 1

# Each machine's server ends with the test; the build's prefix is left
# alone, as other tests use it.
machines_down() { for k in 1 2 3; do (wine_setup "$arch" "$work/machine$k" && wine_down); done; }
server=
trap 'touch "$work/state/stop"; [ -z "$server" ] || wait "$server"; machines_down' EXIT

# The machines boot while the media and the package are made.
boots=()
for k in 1 2 3; do
  (wine_setup "$arch" "$work/machine$k" && wine_up) &
  boots+=($!)
done

wine_setup "$arch" "$build/wineprefix"
tool() { wine "$build/bin/orvo-media.exe" "$@" </dev/null >>tool.log 2>&1 || fail "orvo-media $*"; }
sample=$source/samples/product
mkdir -p bulk/deep
head -c 1500000 /dev/urandom > bulk/one.bin
head -c 700000 /dev/urandom > bulk/deep/two.bin
tool init "$(winpath "$work/served")"
tool add "$(winpath "$work/served")" Basics "$(winpath "$sample/content/Basics")" --directory ORVODATA \
  --profile "$(winpath "$sample/basics-profiles.xml")"
tool add "$(winpath "$work/served")" Bulk "$(winpath "$work/bulk")" --directory ORVODATA --method stored
wixl_arch=()
[ "$arch" = x64 ] && wixl_arch=(-a x64 -D Platform=x64)
(cd "$build/bin" && wixl "${wixl_arch[@]}" -D OrvoGuid=_MANY -D OrvoDll=orvo_Action.dll \
  -D UpgradeCode='{7A3E5C1D-2B4F-4E6A-8C9D-0E1F2A3B4C5D}' -D FolderName=OrvoMany \
  -D ComponentGuid='{8B4F6D2E-3C5A-4F7B-9DAE-1F2A3B4C5D6E}' -o "$work/product.msi" "$sample/product.wxs") ||
  fail "wixl"
"$source/integration/fix-types.sh" "$work/product.msi" || fail "fix-types"

wine "$build/tests/media/media_fault_serve.exe" "$(winpath "$work/served")" "$(winpath "$work/state")" \
  </dev/null >server.log 2>&1 &
server=$!
for i in $(seq 100); do [ -s state/port ] && break; sleep 0.1; done
port=$(tr -d '\r\n' < state/port 2>/dev/null)
[ -n "$port" ] || { fail "the fault server did not start: $(cat server.log)"; exit 1; }

for k in 1 2 3; do
  m=$work/media$k
  cp -r "$work/served" "$m" && find "$m" -name '*.cab' -delete && cp "$work/product.msi" "$m/"
  sed -i "0,/<Orvos>/s||<URL>http://127.0.0.1:$port/${kinds[k - 1]}/</URL>\r\n  <Orvos>|" "$m/Content/master.xml"
done
wait "${boots[@]}"

install() { # k; a Unix exit status would keep only the low byte of 1603
  wine_setup "$arch" "$work/machine$1"
  printf '@msiexec /i %s /qn ORVO_SELECTED=Basics;Bulk\r\n@echo %%ERRORLEVEL%%> %s\r\n' \
    "$(winpath "$work/media$1/product.msi")" "$(winpath "$work/exit$1")" > "$work/install$1.cmd"
  wine cmd /c "$(winpath "$work/install$1.cmd")" </dev/null >/dev/null 2>&1
  wine_down
}
installs=()
for k in 1 2 3; do
  install $k &
  installs+=($!)
done
wait "${installs[@]}"
touch state/stop
wait "$server"
server=
tr -d '\r' < state/requests.txt > requests.txt

# What each machine has: exit code, content files, downloads, its log.
digest() { sha256sum "$1" | cut -d' ' -f1; }
key='Software\\OrvoSample\\OrvoMany'  # the product component's value, as the registry file writes it
for k in 1 2 3; do
  drive=$work/machine$k/drive_c
  content=$drive/ProgramData/OrvoSample/Content
  temp=$drive/users/$(id -un)/Temp
  downloads=$temp/KeltraTempMedia
  log=$work/log$k.txt
  iconv -f UTF-16LE -t UTF-8 "$temp/orvo_Install.log" 2>/dev/null | tr -d '\r' > "$log"
  code=$(tr -d '\r\n ' < "exit$k" 2>/dev/null)
  if [ $k = 2 ]; then
    [ "$code" = 1603 ] || fail "machine 2 exited $code, not 1603"
    [ -z "$(find "$content" -type f 2>/dev/null)" ] || fail "machine 2 extracted: $(find "$content" -type f)"
    [ -z "$(find "$downloads" -type f 2>/dev/null)" ] || fail "machine 2 kept downloads: $(find "$downloads" -type f)"
    for orvo in Basics Bulk; do
      grep -q "Download of http://127.0.0.1:$port/nolength/Content/$orvo/$orvo.cab has SHA-256 [0-9a-f]\{64\}, not the recorded $(digest "served/Content/$orvo/$orvo.cab"): deleted" "$log" ||
        fail "machine 2 logged no refused download of $orvo.cab"
    done
    grep -q " !=> Bulk.cab of Bulk: no copy has the recorded SHA-256. Nothing is installed" "$log" ||
      fail "machine 2 did not refuse the installation"
    grep -q "!=> OrvoInstall returning 1603" "$log" || fail "machine 2's OrvoInstall did not return 1603"
    ! grep -qF "$key" "$work/machine$k/system.reg" || fail "machine 2 kept the product's registry value"
  else
    [ "$code" = 0 ] || fail "machine $k exited $code, not 0"
    for from in "$sample/content/Basics" "$work/bulk"; do
      (cd "$from" && find . -type f) | while read -r f; do
        cmp -s "$from/$f" "$content/$f" || echo "machine $k: $f"
      done
    done > missing$k.txt
    [ ! -s missing$k.txt ] || fail "files not installed as packed: $(cat missing$k.txt)"
    for orvo in Basics Bulk; do
      [ "$(digest "$downloads/Content/$orvo/$orvo.cab" 2>/dev/null)" = "$(digest "served/Content/$orvo/$orvo.cab")" ] ||
        fail "machine $k does not keep a whole $orvo.cab: $(find "$downloads" -type f)"
    done
    grep -qF "$key" "$work/machine$k/system.reg" || fail "machine $k has not the product's registry value"
    if [ $k = 3 ]; then
      grep -q "Download of http://127.0.0.1:$port/range/Content/Bulk/Bulk.cab resumed at byte [1-9]" "$log" ||
        fail "machine 3 did not resume the cut download"
    else
      ! grep -q "Download of" "$log" || fail "machine 1 logged a download problem: $(grep 'Download of' "$log")"
    fi
  fi
done

# The server saw each machine only under its own prefix: ranges from the
# third alone.
ranged() { grep "^/$1/" requests.txt | grep -vc ' -$'; }
[ "$(ranged ok)" = 0 ] && [ "$(ranged nolength)" = 0 ] || fail "a range asked of a whole or unlength body"
[ "$(ranged range)" -ge 2 ] || fail "machine 3 asked no range per cabinet: $(cat requests.txt)"
[ -z "$(grep -v '^/\(ok\|nolength\|range\)/Content/' requests.txt)" ] ||
  fail "requests outside the machines' prefixes: $(cat requests.txt)"

if [ "$failures" -ne 0 ]; then
  echo "$failures failures; the machines are kept in $work"
  exit 1
fi
rm -rf "$work"/machine?
echo "three machines, one server: all checks passed"
