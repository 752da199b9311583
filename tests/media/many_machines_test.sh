#!/usr/bin/env bash
# Three machines (Wine prefixes) install at once from one fault server that
# holds the cabinets, Bulk's a split set: machine 1's downloads are whole
# (its media's set, with an altered continuation, is passed over), machine
# 2's cut without a length (only the digest tells), machine 3's reset
# half-way and resumed. Machine 2 fails with 1603 and keeps nothing.
#   many_machines_test.sh ARCH BUILD SOURCE WORK
set -u
arch=$1 build=$2 source=$3 work=$4
. "$source/tools/wine-env.sh"
failures=0
fail() { printf 'FAIL: %s\n' "$*"; failures=$((failures + 1)); }
winpath() { printf 'Z:%s' "$(realpath -m "$1" | tr / '\\')"; }
digest() { sha256sum "$1" 2>/dev/null | cut -d' ' -f1; }
kinds=(- ok nolength range)
rm -rf "$work" && mkdir -p "$work/state" && cd "$work" || exit 1

# The build's prefix (the server's) is other tests' too: only the machines stop.
trap 'touch state/stop; wait; for k in 1 2 3; do (wine_setup "$arch" "$work/machine$k"; wine_down); done' EXIT
boots=() installs=()
for k in 1 2 3; do (wine_setup "$arch" "$work/machine$k" && wine_up) & boots+=($!); done

wine_setup "$arch" "$build/wineprefix"
tool() { wine "$build/bin/orvo-media.exe" "$@" </dev/null >>tool.log 2>&1 || fail "orvo-media $*"; }
mkdir -p bulk/deep && head -c 1500000 /dev/urandom > bulk/one.bin && head -c 700000 /dev/urandom > bulk/deep/two.bin
sample=$source/samples/product
tool init "$(winpath served)"
tool add "$(winpath served)" Basics "$(winpath "$sample/content/Basics")" --directory ORVODATA \
  --profile "$(winpath "$sample/basics-profiles.xml")"
tool add "$(winpath served)" Bulk "$(winpath bulk)" --directory ORVODATA --method stored --split 1200000
[ -f served/Content/Bulk/Bulk2.cab ] || fail "Bulk is no cabinet set"
[ "$arch" = x64 ] && platform=(-a x64 -D Platform=x64) || platform=()
(cd "$build/bin" && wixl "${platform[@]}" -D OrvoGuid=_MANY -D OrvoDll=orvo_Action.dll -D FolderName=OrvoMany \
  -D UpgradeCode='{7A3E5C1D-2B4F-4E6A-8C9D-0E1F2A3B4C5D}' -D ComponentGuid='{8B4F6D2E-3C5A-4F7B-9DAE-1F2A3B4C5D6E}' \
  -o "$work/product.msi" "$sample/product.wxs") && "$source/integration/fix-types.sh" product.msi || fail "the package"

wine "$build/tests/media/media_fault_serve.exe" "$(winpath served)" "$(winpath state)" </dev/null >server.log 2>&1 &
for i in $(seq 100); do [ -s state/port ] && break; sleep 0.1; done
port=$(tr -d '\r\n' < state/port 2>/dev/null)
[ -n "$port" ] || { fail "no fault server: $(cat server.log)"; exit 1; }
for k in 1 2 3; do
  cp -r served media$k && find media$k -name '*.cab' -delete && cp product.msi media$k/
  sed -i "0,/<Orvos>/s||<URL>http://127.0.0.1:$port/${kinds[k]}/</URL>\r\n  <Orvos>|" media$k/Content/master.xml
done
cp served/Content/Bulk/Bulk*.cab media1/Content/Bulk/ && printf X | dd of=media1/Content/Bulk/Bulk2.cab bs=1 seek=5 conv=notrunc 2>/dev/null
wait "${boots[@]}"

# A Unix exit status would keep only the low byte of 1603.
for k in 1 2 3; do
  (wine_setup "$arch" "$work/machine$k"
   printf '@msiexec /i %s /qn ORVO_SELECTED=Basics;Bulk\r\n@echo %%ERRORLEVEL%%> %s\r\n' \
     "$(winpath "$work/media$k/product.msi")" "$(winpath "$work/exit$k")" > install$k.cmd
   wine cmd /c "$(winpath "$work/install$k.cmd")" </dev/null >/dev/null 2>&1; wine_down) &
  installs+=($!)
done
wait "${installs[@]}"
touch state/stop && wait
mkdir expected && cp -r "$sample/content/Basics/." bulk/. expected/
url=http://127.0.0.1:$port
for k in 1 2 3; do
  c=machine$k/drive_c temp=machine$k/drive_c/users/$(id -un)/Temp
  iconv -f UTF-16LE -t UTF-8 $temp/orvo_Install.log 2>/dev/null | tr -d '\r' > log$k.txt
  code=$(tr -d '\r\n ' < exit$k 2>/dev/null)
  found() { grep -qF -- "$1" log$k.txt || fail "machine $k logged no \"$1\""; }
  if [ $k = 2 ]; then
    [ "$code" = 1603 ] || fail "machine 2 exited $code, not 1603"
    [ -z "$(find $c/ProgramData/OrvoSample $temp/KeltraTempMedia -type f 2>/dev/null)" ] ||
      fail "machine 2 kept files: $(find $c/ProgramData/OrvoSample $temp/KeltraTempMedia -type f)"
    grep -q "Download of $url/nolength/Content/Bulk/Bulk.cab has SHA-256 [0-9a-f]\{64\}, not the recorded $(digest served/Content/Bulk/Bulk.cab): deleted" log2.txt ||
      fail "machine 2 logged no refused download"
    continue
  fi
  [ "$code" = 0 ] || fail "machine $k exited $code, not 0"
  diff -r expected $c/ProgramData/OrvoSample/Content > diff$k.txt || fail "machine $k's files: $(cat diff$k.txt)"
  for cab in $(cd served && find . -name '*.cab'); do
    [ "$(digest $temp/KeltraTempMedia/$cab)" = "$(digest served/$cab)" ] || fail "machine $k keeps no whole $cab"
  done
  if [ $k = 1 ]; then
    bad=$(winpath "$work/media1/Content/Bulk/Bulk2.cab")
    found "   !=> $bad has SHA-256 $(digest media1/Content/Bulk/Bulk2.cab), not the recorded $(digest served/Content/Bulk/Bulk2.cab): not used"
    ! grep -q "Download of" log1.txt || fail "machine 1 logged a download problem: $(grep 'Download of' log1.txt)"
  else
    for cab in Basics/Basics Bulk/Bulk Bulk/Bulk2; do found "    => Download of $url/range/Content/$cab.cab resumed at byte"; done
  fi
done
[ "$failures" = 0 ] || { echo "$failures failures; the machines are kept in $work"; exit 1; }
rm -rf "$work"/machine?
echo "three machines, one server: all checks passed"
