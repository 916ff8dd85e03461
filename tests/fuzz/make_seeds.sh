#!/usr/bin/env bash
# Remakes the seed corpora of the archive targets in tests/fuzz/corpus from small files:
# with the project's own writers (seed_writer, built by scripts/fuzz.sh) and with the
# real peers (zip, tar, gzip, gcab); and those of the native document format (seed_writer:
# a sample document and the RTF seeds imported). The text targets' seeds are written by
# hand and kept as they are.
#   bash tests/fuzz/make_seeds.sh <build dir of tests/fuzz>
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
BUILD=${1:?build dir}
CORPUS=$HERE/corpus
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

src=$WORK/src
mkdir -p "$src"
printf 'Identifikace stanice 3\r\nPraxe: Veterina\r\n' >"$src/Identifikace.txt"
printf '\x8a\x9d\xe1\xe8ek \xe8ern\xfd' >"$src/czech.txt"   # Windows-1250 text
head -c 600 /dev/zero | tr '\0' 'A' >"$src/repeat.dat"
printf '\x00\x01\x02\x03\xff\xfe\xfd' >"$src/bin.dat"
: >"$src/empty.dat"

for d in zip tar gzip cab inflate registry rvf; do rm -f "$CORPUS/$d"/kit-* "$CORPUS/$d"/peer-*; done
"$BUILD/seed_writer" "$src" "$CORPUS"

cd "$src"
files=(Identifikace.txt czech.txt repeat.dat bin.dat empty.dat)
zip -q -X -9 "$CORPUS/zip/peer-deflated.zip" "${files[@]}"
zip -q -X -0 "$CORPUS/zip/peer-stored.zip" "${files[@]}"
zip -q -X -P pelvar "$CORPUS/zip/peer-encrypted.zip" Identifikace.txt repeat.dat
mkdir -p sub/deeper && cp czech.txt sub/deeper/
zip -q -r -fd "$CORPUS/zip/peer-dirs.zip" sub
printf 'station comment' | zip -q -z "$CORPUS/zip/peer-deflated.zip"
tar -b 1 --format=ustar -cf "$CORPUS/tar/peer-ustar.tar" "${files[@]}" sub
tar -b 1 --format=gnu -cf "$CORPUS/tar/peer-gnu-longname.tar" \
  --transform 's|^|a-rather-long-directory-name-for-the-gnu-long-name-record/and-another-one-beyond-one-hundred/|' czech.txt
tar -b 1 --format=pax -cf "$CORPUS/tar/peer-pax.tar" Identifikace.txt bin.dat
gzip -9 -c Identifikace.txt >"$CORPUS/gzip/peer-named.gz"
gzip -n -c repeat.dat >"$CORPUS/gzip/peer-noname.gz"
cat "$CORPUS/gzip/peer-named.gz" "$CORPUS/gzip/peer-noname.gz" >"$CORPUS/gzip/peer-members.gz"
tar --format=ustar -czf "$CORPUS/gzip/peer-tar.tgz" "${files[@]}"
gcab -c "$CORPUS/cab/peer-none.cab" "${files[@]}"
gcab -c -z "$CORPUS/cab/peer-mszip.cab" "${files[@]}"
ls -l "$CORPUS"/{zip,tar,gzip,cab,inflate,registry,rvf}
