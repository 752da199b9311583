#!/usr/bin/env bash
# The demonstration: the sample product's life under msiexec. Media are made
# from samples/product/content with orvo-media, the package from
# samples/product/product.wxs and integration/orvo.wxi with wixl. Then: a
# first installation with two Orvos, a change that takes one away and adds
# the third, a repair, a second product that shares an Orvo, and the removal
# of both. After each step a short summary; at the end, what is left.
# Runs in a Wine prefix of its own under build/demo, with the x86 build
# where this machine runs 32-bit programs and the x64 build elsewhere
# (ORVO_ARCH=x64 or x86 chooses).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/tools/wine-env.sh"
arch=$(orvo_pick_arch)
base=${ORVO_BUILD:-$top/build}
build=$base/$arch
demo=$base/demo
say() { printf '\n=== %s\n' "$*"; }
echo "demonstration with the $arch build of orvo_Action ($build/bin/orvo_Action.dll)"

# A tree of its own is built without the tests; one with them keeps them.
if [ -f "$build/CMakeCache.txt" ]; then "$top/tools/build.sh" "$arch" >/dev/null
else ORVO_BUILD_TESTS=OFF "$top/tools/build.sh" "$arch" >/dev/null; fi
rm -rf "$demo"
mkdir -p "$demo/media"
wine_setup "$arch" "$demo/wineprefix"
wine_up
trap wine_down EXIT
winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }
utf16() { iconv -f UTF-16 -t UTF-8 "$1" | tr -d '\r'; }
run() { wine "$@" 2>/dev/null | tr -d '\r'; }
tool() { local name=$1; shift; run "$build/bin/$name.exe" "$@"; }

sample=$top/samples/product
media=$demo/media
say "media from samples/product/content with orvo-media"
tool orvo-media init "$(winpath "$media")"
tool orvo-media add "$(winpath "$media")" Basics "$(winpath "$sample/content/Basics")" --directory ORVODATA \
  --method lzx:21 --profile "$(winpath "$sample/basics-profiles.xml")" \
  --shortcut "Sample readme=[ORVODATA]Docs\\readme.txt"
tool orvo-media add "$(winpath "$media")" Extras "$(winpath "$sample/content/Extras")" --directory USERDATA --per-user
tool orvo-media add "$(winpath "$media")" ExtrasPlus "$(winpath "$sample/content/ExtrasPlus")" --directory USERDATA \
  --per-user --supersedes Extras
tool orvo-media check "$(winpath "$media")"
find "$media" -type f | sed "s|$media/||" | sort

# Two products from the same package source: each its own folder and codes.
package() { # name folder guid upgrade component
  local dir=$demo/$1
  mkdir -p "$dir"
  cp "$build/bin/orvo_Action.dll" "$dir/"
  (cd "$dir" && wixl "${wixl_arch[@]}" -D OrvoGuid="$3" -D OrvoDll=orvo_Action.dll -D UpgradeCode="$4" -D FolderName="$2" \
      -D ComponentGuid="$5" -o "$media/$1.msi" "$sample/product.wxs" 2>/dev/null)
  "$top/integration/fix-types.sh" "$media/$1.msi"
}
# A package of the build's own word size: its Program Files folder and
# registry view are those of the custom-action process.
wixl_arch=()
[ "$arch" = x64 ] && wixl_arch=(-a x64 -D Platform=x64)
say "building two products' packages with wixl and integration/orvo.wxi"
package first OrvoSample _SAMPLE1 '{5D0C3B6A-1E2F-4A5B-9C8D-7E6F5A4B3C21}' '{6E1D4C7B-2F30-4B6C-8D9E-8F7A6B5C4D31}'
package second OrvoSample2 _SAMPLE2 '{5D0C3B6A-1E2F-4A5B-9C8D-7E6F5A4B3C22}' '{6E1D4C7B-2F30-4B6C-8D9E-8F7A6B5C4D32}'

c=$WINEPREFIX/drive_c
summary() {
  say "after: $1"
  for product in OrvoSample OrvoSample2; do
    local master="$c/Program Files/$product/Orvos/master.xml"
    [ -f "$master" ] || continue
    echo "-- $product: Orvos (orvo-inspect orvos)"
    tool orvo-inspect orvos "$(winpath "$master")" |
      awk '/^Orvo /{name=$2} /^  Action:/{action=$2} /^  Installed:/{print "   " name ": action " action ", installed " $2}' || true
  done
  echo "-- files"
  (cd "$c" && find ProgramData/OrvoSample users/*/AppData/Roaming/OrvoSample -type f 2>/dev/null | sort) || true
  echo "-- references of the shared readme"
  tool orvo-inspect refs 'C:\ProgramData\OrvoSample\Content\Docs\readme.txt' || true
  echo "-- the current user's profile Standard"
  run reg query 'HKCU\Software\OrvoSample\Host\Profiles\Standard\Paths' 2>/dev/null | grep REG_ || echo "(none)"
  echo "-- Basics' registry entries"
  run reg query 'HKCU\Software\OrvoSample\Host\Settings' 2>/dev/null | grep REG_ || echo "(none for this user)"
  run reg query 'HKLM\Software\OrvoSample\Host\Installed' 2>/dev/null | grep REG_ || echo "(none for the machine)"
  echo "-- shortcuts on the desktop"
  ls "$c/users/Public/Desktop" "$c"/users/*/Desktop 2>/dev/null | grep '\.lnk' || echo "(none)"
}
msi() {
  local status=0 start end
  start=$(date +%s.%N)
  wine msiexec "$@" >/dev/null 2>&1 || status=$?
  end=$(date +%s.%N)
  printf 'msiexec %s ... -> exit %d in %.1f s\n' "$1" "$status" "$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')"
  [ $status -eq 0 ] || exit 1
}

say "first installation: Basics and Extras (ExtrasPlus supersedes Extras, so it comes along)"
msi /i "$(winpath "$media/first.msi")" /qn "ORVO_SELECTED=Basics;Extras" "ORVO_SHORTCUT=Basics" CREATE_VEXA_PROFILE=1
summary "first installation"

say "a change: Extras goes, ExtrasPlus stays"
msi /i "$(winpath "$media/first.msi")" /qn ORVO_ADDREMOVE=1 "ORVO_SELECTED=Basics;ExtrasPlus" "ORVO_SHORTCUT=Basics" \
  REINSTALL=ALL REINSTALLMODE=os
summary "the change"

say "a repair"
msi /i "$(winpath "$media/first.msi")" /qn REINSTALL=ALL REINSTALLMODE=amus
summary "the repair"

say "a second product that shares Basics"
msi /i "$(winpath "$media/second.msi")" /qn ORVO_SELECTED=Basics ORVO_SHORTCUT=Basics CREATE_VEXA_PROFILE=1
summary "the second product"

say "removing the first product: the shared files stay for the second"
msi /x "$(winpath "$media/first.msi")" /qn
summary "removing the first product"

say "removing the second product"
msi /x "$(winpath "$media/second.msi")" /qn
summary "removing the second product"

say "what is left"
left=$( (cd "$c" && find ProgramData/OrvoSample "Program Files/OrvoSample" "Program Files/OrvoSample2" \
          users/*/AppData/Roaming/OrvoSample ProgramData/Keltra/Orvos users/*/AppData/Local/Keltra -type f \
          2>/dev/null) || true)
if [ -z "$left" ]; then echo "nothing: no content, no reference document"; else echo "$left"; fi
if run reg query 'HKLM\Software\OrvoSample\Host\Profiles' >/dev/null 2>&1; then
  echo "machine-wide profiles left"
else
  echo "no machine-wide profiles left"
fi
echo "(the user's reset copy of Standard and macro store stay: they belong to the host application's user settings)"
say "demonstration finished"
