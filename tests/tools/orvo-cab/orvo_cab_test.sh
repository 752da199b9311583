#!/bin/sh
# orvo-cab against cabextract: what `create` makes, cabextract lists and
# extracts to the packed bytes; `extract` gives the packed tree back.
#   orvo_cab_test.sh native|wine TOOL WINE_RUN WORK
set -u
mode=$1 tool=$2 wine_run=$3 work=$4
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

rm -rf "$work"
mkdir -p "$work"
cd "$work" || exit 1

# The tool's view of a path: as it is natively, on drive Z: under Wine.
tpath() { if [ "$mode" = wine ]; then printf 'Z:%s' "$(realpath -m "$1")" | tr / '\\'; else printf '%s' "$1"; fi; }
cab() { if [ "$mode" = wine ]; then "$wine_run" "$tool" "$@" </dev/null; else "$tool" "$@"; fi; }

# A tree of text, binary and already-compressed files, nested folders, an
# empty folder and awkward names.
mkdir -p tree/docs/deep/er tree/bin "tree/with space" tree/empty
seq 1 20000 | sed 's/^/text line /' > tree/docs/lines.txt
head -c 150000 /dev/urandom > tree/bin/noise.bin
seq 1 30000 | gzip -9 > tree/bin/packed.gz
printf 'deep' > tree/docs/deep/er/file.txt
printf '' > tree/docs/zero.txt
printf '%%s %%d' > "tree/with space/100%.txt"
touch -d '2020-03-04 05:06:08' tree/docs/lines.txt

# Stored name -> relative path, from an extracted IndexFile.dat (single-byte text).
index_pairs() { sed 's/\r$//' "$1" | grep -v '^ *$' | while IFS= read -r line; do
  printf '%s\t%s\n' "$(printf '%s' "$line" | cut -c1-38 | sed 's/ *$//')" "$(printf '%s' "$line" | cut -c39- | tr '\\' /)"
done; }

for method in stored mszip lzx:15 lzx:21; do
  for split in 0 70000; do
    name=$(echo "$method" | tr : _)_$split
    args="--method $method"
    [ "$split" = 0 ] || args="$args --split $split"
    # shellcheck disable=SC2086
    if ! cab create $args "$(tpath "$name.cab")" "$(tpath tree)" > "$name.out" 2>&1; then
      fail "create $method split $split: $(cat "$name.out")"
      continue
    fi
    if [ "$split" != 0 ] && [ ! -f "${name}2.cab" ]; then fail "$method split $split made one cabinet"; fi
    listed=$(cabextract -l "$name.cab" 2>&1) || fail "cabextract -l $name.cab: $listed"
    rm -rf "x_$name" && mkdir "x_$name"
    cabextract -q -d "x_$name" "$name.cab" >/dev/null 2>&1 || fail "cabextract $name.cab"
    [ -f "x_$name/IndexFile.dat" ] || { fail "$name: no IndexFile.dat"; continue; }
    count=0
    index_pairs "x_$name/IndexFile.dat" > "$name.pairs"
    while IFS="$(printf '\t')" read -r stored rel; do
      count=$((count + 1))
      echo "$listed" | grep -qF "$stored" || fail "$name: cabextract does not list $stored"
      case "$rel" in
        */empty.dir) [ -d "tree/${rel%/empty.dir}" ] || fail "$name: placeholder for a folder that is not there: $rel" ;;
        *) cmp -s "x_$name/$stored" "tree/$rel" || fail "$name: $stored differs from $rel" ;;
      esac
    done < "$name.pairs"
    [ "$count" = 7 ] || fail "$name: IndexFile.dat maps $count files, not 7"

    # Round trip through orvo-cab's own extraction.
    rm -rf "o_$name"
    if [ "$mode" = wine ]; then
      cab extract "$(tpath "$name.cab")" "$(tpath "o_$name")" > "$name.x" 2>&1 || fail "extract $name: $(cat "$name.x")"
      diff -r tree "o_$name" > "$name.diff" 2>&1 || fail "extract $name does not give the tree back: $(cat "$name.diff")"
    else
      cab extract --stored-names "$name.cab" "o_$name" > "$name.x" 2>&1 || fail "extract --stored-names $name: $(cat "$name.x")"
      rm -f "x_$name/empty.dir"
      diff -r "x_$name" "o_$name" > "$name.diff" 2>&1 || fail "extract --stored-names $name differs from cabextract"
    fi
  done
done

# list: stored names, sizes, folders and the mapped paths.
cab list "$(tpath mszip_0.cab)" > list.out 2>&1 || fail "list: $(cat list.out)"
grep -q 'IndexFile.dat' list.out || fail "list does not show IndexFile.dat"
grep -q -- '-> docs\\deep\\er\\file.txt' list.out || fail "list does not show the mapped path: $(cat list.out)"
grep -q '2020-03-04 05:06:0[68]' list.out || fail "list does not show the stored time"

# The stored time comes back (to the format's two seconds).
if [ "$mode" = wine ]; then
  want=$(stat -c %Y tree/docs/lines.txt) got=$(stat -c %Y o_mszip_0/docs/lines.txt 2>/dev/null || echo 0)
  [ $((got - want)) -le 2 ] && [ $((want - got)) -le 2 ] || fail "time stamp $got, packed $want"
fi

# Failures exit non-zero with a message.
expect_failure() {
  what=$1; shift
  if cab "$@" > fail.out 2>&1; then fail "$what succeeded"; fi
  grep -q 'orvo-cab:' fail.out || fail "$what gave no message: $(cat fail.out)"
}
expect_failure "extract of a missing cabinet" extract "$(tpath missing.cab)" "$(tpath out_missing)"
expect_failure "create from a missing folder" create "$(tpath bad.cab)" "$(tpath no_such_folder)"
expect_failure "create with an unknown method" create --method lzx:22 "$(tpath bad.cab)" "$(tpath tree)"
expect_failure "list of a text file" list "$(tpath mszip_0.pairs)"
gcab -c plain.cab tree/docs/lines.txt
if [ "$mode" = wine ]; then
  expect_failure "extract of a cabinet without IndexFile.dat" extract "$(tpath plain.cab)" "$(tpath out_plain)"
  grep -q 'stored-names' fail.out || fail "no hint at --stored-names: $(cat fail.out)"
else
  expect_failure "extract by index in the native build" extract "$(tpath plain.cab)" "$(tpath out_plain)"
fi
cab extract --stored-names "$(tpath plain.cab)" "$(tpath out_plain)" > plain.out 2>&1 || fail "extract --stored-names: $(cat plain.out)"
cmp -s tree/docs/lines.txt out_plain/tree/docs/lines.txt || fail "extract --stored-names of a gcab cabinet"

# A cabinet cut short fails the extraction and leaves no short file that
# would pass for the whole one.
mkdir -p cut && head -c 300000 /dev/urandom > cut/big.bin
(cd cut && gcab -c ../cut.cab big.bin)
head -c 150000 cut.cab > cut_short.cab
expect_failure "extract of a cut cabinet" extract --stored-names "$(tpath cut_short.cab)" "$(tpath out_cut)"
[ ! -e out_cut/big.bin ] || fail "extract of a cut cabinet left $(stat -c %s out_cut/big.bin) bytes of big.bin"

# An index bigger than any real one is refused, as the installer's extractor
# refuses it, rather than read whole into memory.
mkdir -p huge && (cd huge && awk 'BEGIN { for (i = 0; i < 600000; i++) printf "%-38s%s\r\n", "k" i, "some\\path\\" i }' > IndexFile.dat)
(cd huge && gcab -c -z ../huge.cab IndexFile.dat)
expect_failure "list of a cabinet with an oversized IndexFile.dat" list "$(tpath huge.cab)"
grep -q 'larger than' fail.out || fail "no word of the oversized index: $(cat fail.out)"

if [ "$failures" -ne 0 ]; then
  echo "$failures failures"
  exit 1
fi
echo "orvo-cab ($mode): all checks passed"
