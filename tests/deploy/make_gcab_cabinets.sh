#!/bin/sh
# Makes the gcab cabinets that the Wine cross-check extracts: the same few
# files packed plain and with MSZIP.
set -eu
out=$1
rm -rf "$out"
mkdir -p "$out/source/docs" "$out/source/bin"
cd "$out/source"
seq 1 30000 | sed 's/^/gcab line /' > docs/lines.txt
head -c 200000 /dev/zero | tr '\0' 'z' > docs/z.txt
head -c 60000 /dev/urandom > bin/noise.bin
printf 'tiny' > tiny.txt
gcab -c ../plain.cab docs/lines.txt docs/z.txt bin/noise.bin tiny.txt
gcab -c -z ../mszip.cab docs/lines.txt docs/z.txt bin/noise.bin tiny.txt
