#!/usr/bin/env bash
# Packs the bundled example exactly as the README's first command does, in a
# scratch copy, and checks what it prints, its index and where each file's
# bytes landed; then takes it apart with blorbinfo --unpack and packs it
# again as the README shows, which must give the same bytes.
set -u
bin=$1
examples=$2
info=$3
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp -R "$examples"/. "$scratch"/
cd "$scratch" || exit 1
rm -f game.zblorb game.blorb

"$bin" game.blc game.zblorb >actual.stdout 2>actual.stderr
status=$?
failed=0
{
  echo "blorbpack version 1.0 (Apr 20 2009), a Blorb resource packager"
  echo "Resource index and container writer version .5b"
  cat expected-constants.txt
} >expected.stdout
if ! cmp -s expected.stdout actual.stdout; then
  echo "--- standard output differs from banner + examples/expected-constants.txt:"
  diff expected.stdout actual.stdout
  failed=1
fi
if [ -s actual.stderr ]; then echo "--- standard error:"; cat actual.stderr; failed=1; fi
if [ "$status" -ne 0 ]; then echo "--- exit status $status"; failed=1; fi
[ -e game.zblorb ] || { echo "--- no game.zblorb"; exit 1; }

sed 's/#.*//' "$here"/expected-index.hex | tr -s ' \t\n' '\n' | grep -v '^$' >want.hex
od -An -v -tx1 -N 84 game.zblorb | tr -s ' \n' '\n' | grep -v '^$' >got.hex
if ! cmp -s want.hex got.hex; then
  echo "--- header and index differ (byte offset: expected / actual):"
  diff <(nl -v0 -ba want.hex) <(nl -v0 -ba got.hex)
  failed=1
fi
size=$(wc -c <game.zblorb)
if [ "$size" -ne 1600 ]; then echo "--- game.zblorb is $size bytes, expected 1600"; failed=1; fi

# Each resource's bytes, found at the data offset its place in the file implies.
while read -r offset name; do
  if ! cmp -s <(tail -c +$((offset + 1)) game.zblorb | head -c "$(wc -c <"$name")") "$name"; then
    echo "--- $name is not at offset $offset"
    failed=1
  fi
done <<'LIST'
92 resources/title.png
174 resources/cover.jpg
364 resources/chime.aiff
528 resources/notes.txt
578 resources/story.z5
1486 resources/credits.txt
LIST

if ! "$info" --unpack unpacked game.zblorb >unpack.stdout 2>&1; then
  echo "--- blorbinfo --unpack failed:"; cat unpack.stdout
  failed=1
elif ! (cd unpacked && "$bin" game.blc game.zblorb >repack.stdout 2>&1) || ! cmp -s game.zblorb unpacked/game.zblorb; then
  echo "--- the unpacked example does not re-pack to game.zblorb; unpacked/game.blc holds:"
  cat unpacked/game.blc
  failed=1
fi
exit $failed
