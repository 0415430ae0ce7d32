#!/usr/bin/env bash
# Builds the example with its Makefile, as a game's build would: the Blorb
# file and the Inform 6 include file are made, made again when a resource
# changes, and a run of blorbpack that leaves a record out fails the build
# and leaves no target behind. With Inform 6 installed, a game includes the
# file it wrote.
#   make.sh BLORBPACK EXAMPLES
set -u
bin=$1
examples=$2
command -v make >/dev/null || { echo "skipped: no make (Debian package make)"; exit 77; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp -R "$examples"/. "$scratch"/
cd "$scratch" || exit 1
rm -f game.zblorb game.listing resources.h
failed=0
fail() { echo "--- $*"; failed=1; }

make -s BLORBPACK="$bin" >make.out 2>&1 || { cat make.out; fail "make failed"; }
printf 'Constant image_title 1;\nConstant image_cover 2;\nConstant sound_chime 3;\n' >want.h
cmp -s want.h resources.h || { cat resources.h; fail "resources.h is not the three constants"; }
[ "$(wc -c <game.zblorb)" -eq 1600 ] || fail "game.zblorb is not the 1600-byte example"

make BLORBPACK="$bin" >make.out 2>&1
grep -q "Nothing to be done" make.out || { cat make.out; fail "a second make packed again"; }
# Outputs made a minute ago, so that the change is seen without waiting.
touch -d '-1 minute' game.zblorb game.listing resources.h
touch resources/chime.aiff
make -s BLORBPACK="$bin" >make.out 2>&1 && ! [ resources/chime.aiff -nt game.zblorb ] ||
  { cat make.out; fail "a changed resource did not pack again"; }

# A resource that cannot be packed: blorbpack ends with status 1, and make
# shows its message and removes the Blorb file it left.
rm resources/notes.txt
mkdir resources/notes.txt
if make -s BLORBPACK="$bin" >make.out 2>&1; then fail "make succeeded with a record not packed"; fi
grep -qF 'blorbpack: Error: 4: Can'"'"'t open file resources/notes.txt' make.out || { cat make.out; fail "no message"; }
[ ! -e game.zblorb ] || fail "game.zblorb was left for the next make to take as up to date"

inform6=$(PATH="$PATH:/usr/games" command -v inform6)
if [ -n "$inform6" ]; then
  printf '%s\n' 'Include ">resources.h";' \
    '[ Main; print image_title, image_cover, sound_chime, "^"; ];' >uses.inf
  "$inform6" -v5 uses.inf uses.z5 >inform.out 2>&1 && [ -s uses.z5 ] ||
    { cat inform.out; fail "Inform 6 could not include resources.h"; }
else
  echo "no inform6 (Debian package inform6-compiler): resources.h was not compiled"
fi
exit $failed
