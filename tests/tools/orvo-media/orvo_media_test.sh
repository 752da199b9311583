#!/bin/sh
# orvo-media: media built from two content folders read back with cabextract
# and xmllint against the shipped schemas; then `check` on media broken in
# one way at a time reports exactly that problem.
#   orvo_media_test.sh native|wine TOOL WINE_RUN WORK SOURCE_DIR
set -u
mode=$1 tool=$2 wine_run=$3 work=$4 source=$5
failures=0
fail() { printf 'FAIL: %s\n' "$*"; failures=$((failures + 1)); }

rm -rf "$work"
mkdir -p "$work"
cd "$work" || exit 1

tpath() { if [ "$mode" = wine ]; then printf 'Z:%s' "$(realpath -m "$1")" | tr / '\\'; else printf '%s' "$1"; fi; }
media() { if [ "$mode" = wine ]; then "$wine_run" "$tool" "$@" </dev/null; else "$tool" "$@"; fi; }
# Runs the tool, expecting exit code $1; output in out.txt.
expect() {
  want=$1; shift
  media "$@" > out.raw 2>&1
  got=$?
  tr -d '\r' < out.raw > out.txt  # the Windows build writes CR LF
  [ "$got" = "$want" ] || fail "orvo-media $* exited $got, not $want: $(cat out.txt)"
}
attr() { xmllint --xpath "string($2)" "$1" 2>/dev/null; }

# Content: Alpha big enough to split, Beta small with an empty folder.
mkdir -p alpha/docs/deep alpha/bin beta/empty
seq 1 20000 | sed 's/^/text line /' > alpha/docs/lines.txt
head -c 150000 /dev/urandom > alpha/bin/noise.bin
printf 'deep' > "alpha/docs/deep/a & b.txt"
printf 'hello' > beta/readme.txt
cat > profile.xml <<'EOF'
<Profile Name="[ProductName] Main" Visible="true">
  <Inheritance>Base</Inheritance>
  <ProfileEntry Subkey="General" Name="Size" Type="REG_DWORD" Flags="9">12</ProfileEntry>
</Profile>
<Profile Name="Base"/>
EOF

M=$(tpath m)
expect 0 init "$M"
for f in master.xsd orvo_pack.xsd; do
  cmp -s "m/Content/$f" "$source/samples/media/$f" || fail "init did not put the shipped $f in Content"
done
expect 1 init "$M"

# A second add of a name replaces its entry and its cabinets.
expect 0 add "$M" Alpha "$(tpath alpha)" --directory INSTALLDIR --split 120000
expect 0 add "$M" Alpha "$(tpath alpha)" --directory INSTALLDIR
[ ! -e m/Content/Alpha/Alpha2.cab ] || fail "the cabinets of the first add of Alpha were left behind"
expect 0 add "$M" Alpha "$(tpath alpha)" --directory INSTALLDIR --split 120000 --method lzx:21 --language en --region US
[ -f m/Content/Alpha/Alpha.cab ] && [ -f m/Content/Alpha/Alpha2.cab ] || fail "--split made no cabinet set: $(ls m/Content/Alpha)"
expect 0 add "$M" Beta "$(tpath beta)" --directory USERDATA --per-user --profile "$(tpath profile.xml)" \
  --shortcut 'Beta & Co=[INSTALLDIR]beta.exe,--title "a<b"' --inherits Alpha --supersedes Old --supersedes Older
grep -q INDEXED_PERUSERDIRS out.txt || fail "no word of INDEXED_PERUSERDIRS for --per-user: $(cat out.txt)"

A=m/Content/Alpha/Alpha.xml B=m/Content/Beta/Beta.xml
[ "$(grep -c '<Orvo ' m/Content/master.xml)" = 2 ] || fail "master.xml does not list two Orvos: $(cat m/Content/master.xml)"
[ "$(attr m/Content/master.xml '//Orvo[@Name="Beta"]/MediaPath')" = 'Beta\Beta.xml' ] || fail "Beta's MediaPath"
[ "$(attr m/Content/master.xml '//Orvo[@Name="Alpha"]/@Display')" = true ] || fail "Alpha is not displayed"
# The set is one cabinet to the installer: it follows the rest from the first.
[ "$(attr $A 'count(//Cabinet)')" = 1 ] || fail "Alpha lists $(attr $A 'count(//Cabinet)') cabinets"
[ "$(attr $A '//Cabinet/@Name')" = Alpha.cab ] || fail "Alpha's cabinet is $(attr $A '//Cabinet/@Name')"
[ "$(attr $A '//Cabinet/@Sequence')" = 0 ] || fail "Alpha's cabinet has no Sequence 0"
[ "$(attr $A '//Cabinet/@FileCount')" = 3 ] || fail "Alpha's FileCount is $(attr $A '//Cabinet/@FileCount')"
[ "$(attr $A '//Cabinet/@Directory')" = INSTALLDIR ] || fail "Alpha's cabinet Directory"
# The digest of the first cabinet, the one the element names.
[ "$(attr $A '//Cabinet/@SHA256')" = "$(sha256sum m/Content/Alpha/Alpha.cab | cut -d' ' -f1)" ] ||
  fail "Alpha's SHA256 is not its cabinet's: $(attr $A '//Cabinet/@SHA256')"
# And of each cabinet that continues the set (here one), in its order.
[ "$(attr $A 'count(//Continuation)') $(attr $A '//Cabinet/Continuation[1]/@Name')" = "1 Alpha2.cab" ] &&
  [ "$(attr $A '//Continuation/@SHA256')" = "$(sha256sum m/Content/Alpha/Alpha2.cab | cut -d' ' -f1)" ] ||
  fail "Alpha's continuations: $(grep Continuation $A)"
[ "$(attr $A '//PreferredRegions/Region')" = US ] || fail "Alpha's region"
bytes=$(cat alpha/docs/lines.txt alpha/bin/noise.bin "alpha/docs/deep/a & b.txt" | wc -c)
cost=$(attr $A '//Cabinet/@Cost')
[ "$cost" -ge "$bytes" ] && [ "$cost" -le $((bytes + 1000)) ] || fail "Alpha's Cost $cost for $bytes bytes of files"
[ "$(attr $B '//Cabinet/@FileCount')" = 1 ] || fail "Beta's FileCount counts the empty folder's placeholder"
[ "$(attr $B '//Identification/Supercedes')" = 'Old;Older' ] || fail "Beta's Supercedes"
[ "$(attr $B '/OrvoPack/Inheritance')" = Alpha ] || fail "Beta's Inheritance"
[ "$(attr $B 'count(/OrvoPack/Registry/Profile)')" = 2 ] || fail "Beta's profiles were not copied"
[ "$(attr $B '//Profile/ProfileEntry/@Flags')" = 9 ] || fail "Beta's profile entry"
[ "$(attr $B '//Shortcuts/Shortcut/@Name')" = 'Beta & Co' ] || fail "shortcut name: $(attr $B '//Shortcut/@Name')"
[ "$(attr $B '//Shortcut/@Target')" = '[INSTALLDIR]beta.exe' ] || fail "shortcut target"
[ "$(attr $B '//Shortcut/@Parameters')" = '--title "a<b"' ] || fail "shortcut arguments: $(attr $B '//Shortcut/@Parameters')"
[ "$(attr $B '//Shortcut/@TargetDirectory')" = DesktopFolder ] || fail "shortcut folder"
for pair in master.xsd:master.xml Alpha/orvo_pack.xsd:Alpha/Alpha.xml Beta/orvo_pack.xsd:Beta/Beta.xml; do
  xmllint --noout --schema "m/Content/${pair%%:*}" "m/Content/${pair#*:}" > xsd.out 2>&1 ||
    fail "${pair#*:} does not validate against ${pair%%:*}: $(cat xsd.out)"
done

# cabextract reads the set from its first cabinet; every file comes back
# where IndexFile.dat puts it.
mkdir x && cabextract -q -d x m/Content/Alpha/Alpha.cab > /dev/null 2>&1 || fail "cabextract of Alpha's set"
n=0
sed 's/\r$//' x/IndexFile.dat | grep -v '^ *$' > pairs.txt
while IFS= read -r line; do
  stored=$(printf '%s' "$line" | cut -c1-38 | sed 's/ *$//') rel=$(printf '%s' "$line" | cut -c39- | tr '\\' /)
  cmp -s "x/$stored" "alpha/$rel" || fail "Alpha's $rel does not come back from the cabinets"
  n=$((n + 1))
done < pairs.txt
[ "$n" = 3 ] || fail "Alpha's IndexFile.dat maps $n files"

expect 0 check "$M"
expect 2 check "$(tpath no_such_media)"
expect 2 add "$M" Gamma "$(tpath beta)"
expect 2 add "$M" "a;b" "$(tpath beta)" --directory D
expect 2 check --bogus "$M"
expect 1 add "$M" Gamma "$(tpath no_such_folder)" --directory D
grep -c '<Orvo ' m/Content/master.xml | grep -qx 2 || fail "a failed add changed master.xml"

# Each break on a copy of the media; check names it, and only it.
broken() {
  what=$1 pattern=$2
  expect 1 check "$(tpath b)"
  grep -q -- "$pattern" out.txt || fail "$what: not reported: $(cat out.txt)"
  grep -qx '1 problem' out.txt || fail "$what: more than that reported: $(cat out.txt)"
}
fresh() { rm -rf b && cp -r m b; }
# For breaks inside a rebuilt cabinet: the digest would be a second problem.
undigested() { fresh; sed -i 's/ SHA256="[0-9a-f]*"//' b/Content/Beta/Beta.xml; }

fresh; rm b/Content/Alpha/Alpha2.cab
broken "a missing cabinet of a set" 'Content/Alpha/Alpha2.cab: missing'
fresh; rm b/Content/Beta/Beta.cab
broken "a missing cabinet" 'Content/Beta/Beta.cab: missing'
undigested; mkdir evil && (cd evil && printf 'F1%36s..\\evil.txt\r\nF2%36sok.txt\r\n' '' '' > IndexFile.dat &&
  echo bad > F1 && echo ok > F2 && gcab -c ../b/Content/Beta/Beta.cab IndexFile.dat F1 F2)
broken "an index that leaves the target folder" "maps F1 to '..\\\\evil.txt', which is not inside"
# Media from before the continuations had digests: still checked whole.
fresh; sed -i '/<Continuation /d' b/Content/Alpha/Alpha.xml
expect 0 check "$(tpath b)"
head -c 2000 m/Content/Alpha/Alpha2.cab > b/Content/Alpha/Alpha2.cab
broken "a cut cabinet" 'Content/Alpha/Alpha.cab: its set cannot be decoded'
# A byte the decoder does not read: only the digest tells.
fresh; printf 'X' | dd of=b/Content/Beta/Beta.cab bs=1 seek=5 conv=notrunc 2>/dev/null
broken "a cabinet altered in place" 'Content/Beta/Beta.cab: has SHA-256 [0-9a-f]*, the pack document records'
fresh; printf 'X' | dd of=b/Content/Alpha/Alpha2.cab bs=1 seek=5 conv=notrunc 2>/dev/null
broken "a continuing cabinet altered in place" 'Content/Alpha/Alpha2.cab: has SHA-256 [0-9a-f]*, the pack document records'
fresh; sed -i 's/<Continuation Name="Alpha2.cab"/<Continuation Name="Other.cab"/' b/Content/Alpha/Alpha.xml
broken "a continuation the set does not have" 'Continuation Other.cab stands where the set continues with Alpha2.cab'
fresh; sed -i 's/SHA256="\([0-9a-f]*\)"/SHA256="\1\1"/' b/Content/Beta/Beta.xml
broken "a digest of the wrong length" "SHA256 '[0-9a-f]*' is not 64 hexadecimal digits"
fresh; head -c 400 $A > b/Content/Alpha/Alpha.xml
broken "a cut pack document" 'Content/Alpha/Alpha.xml: not well-formed XML: line'
fresh; sed -i 's/ Name="Alpha.cab"//' b/Content/Alpha/Alpha.xml
broken "a cabinet without a name" 'Alpha.xml:[0-9]*: Cabinet has no Name'
fresh; sed -i 's/<Orvo Name="Beta"/<Orvo/' b/Content/master.xml
broken "an Orvo without a name" 'master.xml:[0-9]*: Orvo has no Name'
fresh; sed -i 's/Beta\\Beta.xml/..\\Beta.xml/' b/Content/master.xml
broken "a MediaPath outside the media" 'MediaPath ..\\Beta.xml does not lie inside'
fresh; rm b/Content/Beta/orvo_pack.xsd
broken "a missing schema" 'Beta.xml:2: the schema orvo_pack.xsd is missing'
fresh; sed -i 's/Visible="true"/Visible="true"><Stray\/><\/Profile><Profile Name="x"/' b/Content/Beta/Beta.xml
broken "a stray element in a profile" 'Stray is not allowed in Profile'

fresh; sed -i 's|</Files>|<Cabinet Sequence="0" Name="Alpha.cab" Directory="X"/></Files>|' b/Content/Alpha/Alpha.xml
broken "a Sequence taken twice" 'Cabinet Alpha.cab: Sequence 0 is taken'
fresh; sed -i 's/ Directory="USERDATA"//' b/Content/Beta/Beta.xml
broken "a cabinet without a target" 'Beta.cab has neither Directory nor Subscribe'
fresh; sed -i 's|</Orvos>|<Orvo Name="Alpha"><MediaPath>Alpha\\Alpha.xml</MediaPath></Orvo></Orvos>|' b/Content/master.xml
broken "an Orvo listed twice" 'Orvo Alpha is listed twice'
undigested; (cd evil && printf 'F2%36sok.txt\r\n' '' > IndexFile.dat && echo x > F3 &&
  gcab -c ../b/Content/Beta/Beta.cab IndexFile.dat F2 F3)
broken "a stored file the index leaves out" 'IndexFile.dat has no entry for F3'

# The cabinet folder of the pack: the Orvo's id when UseIdAsCabFolder says so.
fresh; mkdir b/Content/Alpha/Alpha && mv b/Content/Alpha/*.cab b/Content/Alpha/Alpha/
sed -i 's|<OrvoId>Alpha</OrvoId>|&<CabFolder UseIdAsCabFolder="yes">elsewhere</CabFolder>|' b/Content/Alpha/Alpha.xml
expect 0 check "$(tpath b)"
sed -i 's|UseIdAsCabFolder="yes"|UseIdAsCabFolder="Yes"|' b/Content/Alpha/Alpha.xml
broken "a cabinet folder that is not there" 'Content/Alpha/elsewhere/Alpha.cab: missing'

# A master document as the installer saves it (UTF-16, other children, an
# empty Orvos element): add changes the list and nothing else.
fresh
printf '<?xml version="1.0" encoding="UTF-16"?>\r\n<OrvoMaster xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xsi:noNamespaceSchemaLocation="master.xsd">\r\n  <!-- keep -->\r\n  <MediaRoot>D:\\\\</MediaRoot>\r\n  <Orvos/>\r\n  <InitialSelection>Beta</InitialSelection>\r\n</OrvoMaster>\r\n' |
  iconv -f UTF-8 -t UTF-16 > b/Content/master.xml
expect 0 add "$(tpath b)" Beta "$(tpath beta)" --directory USERDATA
iconv -f UTF-16 -t UTF-8 b/Content/master.xml | tr -d '\r' > utf16.txt
head -c 2 b/Content/master.xml | od -An -tx1 | grep -q 'ff fe' || fail "add did not keep the master document UTF-16"
grep -q '<!-- keep -->' utf16.txt && grep -q '<InitialSelection>Beta</InitialSelection>' utf16.txt ||
  fail "add lost the rest of the master document: $(cat utf16.txt)"
[ "$(grep -c '<Orvo Name="Beta" Display="true"><MediaPath>Beta\\Beta.xml</MediaPath></Orvo>' utf16.txt)" = 1 ] ||
  fail "Beta is not listed once: $(cat utf16.txt)"
xmllint --noout --schema b/Content/master.xsd b/Content/master.xml > xsd.out 2>&1 || fail "the UTF-16 master: $(cat xsd.out)"

# Profile files: markup kept as written; anything but Profile elements refused.
printf '<!-- c --><Profile Name="P"><ProfileEntry Name="V" Type="REG_SZ"><![CDATA[a<b]]> &amp; &#x263A;</ProfileEntry></Profile>\n' > p_ok.xml
expect 0 add "$(tpath b)" Gamma "$(tpath beta)" --directory D --profile "$(tpath p_ok.xml)"
[ "$(attr b/Content/Gamma/Gamma.xml '//ProfileEntry')" = "a<b & ☺" ] || fail "profile data: $(attr b/Content/Gamma/Gamma.xml '//ProfileEntry')"
grep -q 'CDATA\[a<b\]\]>' b/Content/Gamma/Gamma.xml || fail "the profile was not copied as written"
printf '<Profile Name="R"/><HKCU Subkey="Software\\X" Name="T" Type="REG_SZ">v</HKCU>\n' > p_reg.xml
expect 0 add "$(tpath b)" Epsilon "$(tpath beta)" --directory D --profile "$(tpath p_reg.xml)"
[ "$(attr b/Content/Epsilon/Epsilon.xml '//Registry/HKCU/@Name')" = T ] || fail "a registry entry was not copied"
cp b/Content/master.xml master.before
for bad in '<Profile Visible="true"/>' '<Entry Name="x"/>' '<Profile Name="P"><Profile Name="Q"/></Profile>' '<Profile Name="P">' 'text'; do
  printf '%s' "$bad" > p_bad.xml
  expect 1 add "$(tpath b)" Delta "$(tpath beta)" --directory D --profile "$(tpath p_bad.xml)"
done
cmp -s master.before b/Content/master.xml && [ ! -e b/Content/Delta ] || fail "a refused profile left changes behind"

if [ "$failures" -ne 0 ]; then
  echo "$failures failures"
  exit 1
fi
echo "orvo-media ($mode): all checks passed"
