#!/usr/bin/env bash
# The demonstration: packs the built-in sample Orvo into a cabinet with
# orvo-cab, lists and extracts it again (checked against cabextract and the
# originals), then installs and removes a sample product whose package runs
# the DLL's application-index entry points, showing the index and the logs.
# Runs in a Wine prefix of its own under build/demo, so the machine's other
# prefixes are not touched.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ORVO_BUILD:-$top/build}
demo=$build/demo
say() { printf '\n=== %s\n' "$*"; }

"$top/tools/build.sh" >/dev/null
rm -rf "$demo"
mkdir -p "$demo"
export WINEPREFIX=$demo/wineprefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
wineserver -p
wine wineboot </dev/null >/dev/null 2>&1 || true
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }
utf16() { iconv -f UTF-16 -t UTF-8 "$1" | tr -d '\r'; }

content=$top/samples/demo/content
say "packing $content with orvo-cab (LZX, window 2^21)"
wine "$build/bin/orvo-cab.exe" create --method lzx:21 "$(winpath "$demo/demo-orvo.cab")" "$(winpath "$content")"
ls -l "$demo/demo-orvo.cab"

say "orvo-cab list"
wine "$build/bin/orvo-cab.exe" list "$(winpath "$demo/demo-orvo.cab")"

say "cabextract, an independent decoder, reads the same cabinet"
cabextract -q -d "$demo/cabextract" "$demo/demo-orvo.cab"
ls "$demo/cabextract"

say "orvo-cab extract places the files by IndexFile.dat"
wine "$build/bin/orvo-cab.exe" extract "$(winpath "$demo/demo-orvo.cab")" "$(winpath "$demo/extracted")"
diff -r "$content" "$demo/extracted" && echo "extracted tree is identical to the sample content"

say "building the sample product's package with wixl"
cp "$build/bin/orvo_Action.dll" "$demo/"
(cd "$demo" && wixl -o demo.msi "$top/samples/demo/demo.wxs")

say "installing it with msiexec (AppIndexWrite, AppIndexSetNoBackslashProps; OrvoRollback stands by as rollback action)"
wine msiexec /i "$(winpath "$demo/demo.msi")" /qn
index=$WINEPREFIX/drive_c/ProgramData/Keltra/appIndex.xml
say "the application index: $index"
utf16 "$index"
say "a registry value written from NOSLASH_INSTALLDIR"
wine reg query 'HKLM\Software\OrvoDemo' /v InstallFolder 2>/dev/null | tr -d '\r' | grep InstallFolder
applog=$(find "$WINEPREFIX/drive_c/users" -name appIndex.log | head -n1)
say "appIndex.log ($applog)"
utf16 "$applog"

say "removing the product (AppIndexUninstall)"
wine msiexec /x "$(winpath "$demo/demo.msi")" /qn
utf16 "$index"
say "demonstration finished"
