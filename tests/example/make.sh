#!/usr/bin/env bash
# Builds the example game with its Makefile, as the README and blorbpack(1)
# show it: from a clean tree with make -j4; a second make does nothing; a
# changed picture packs again without compiling; a deleted include is made
# again; a resource whose name has a space is packed and followed; a warning
# fails the build and leaves the Blorb file as it was.
#   make.sh BLORBPACK EXAMPLES
set -u
bin=$1
examples=$2
command -v make >/dev/null || { echo "skipped: no make (Debian package make)"; exit 77; }
inform6=$(PATH="$PATH:/usr/games" command -v inform6) ||
  { echo "skipped: no inform6 (Debian package inform6-compiler), which the Makefile compiles the story with"; exit 77; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp -R "$examples"/. "$scratch"/
cd "$scratch" || exit 1
make -s clean >/dev/null
failed=0
fail() { echo "--- $*"; failed=1; }
run_make() { make BLORBPACK="$bin" INFORM="$inform6" "$@" >make.out 2>&1; }
# Every file a minute old, so that what a step then changes or makes is newer
# than the rest even where the file system's clock is coarse.
settle() { find . -type f -exec touch -d '-1 minute' {} +; }
made() { [ "$1" -nt story.inf ]; }
settle

run_make -j4 || { cat make.out; fail "make -j4 failed from a clean tree"; }
printf '%s\n' '! The pictures and sounds of the Blorb file, by number: written by blorbpack' \
  'Constant image_title 1;' 'Constant image_cover 2;' 'Constant sound_chime 3;' >want.h
cmp -s want.h resources.h || { cat resources.h; fail "resources.h is not the three constants"; }
"$bin" -q --strict story.blc check.zblorb >/dev/null && cmp -s check.zblorb story.zblorb ||
  fail "story.zblorb is not story.blc packed with the story make compiled"

run_make
grep -q "Nothing to be done" make.out || { cat make.out; fail "a second make did something"; }

settle
touch resources/title.png
run_make && made story.zblorb && ! made story.z5 ||
  { cat make.out; fail "a changed picture did not pack again, or compiled the story again"; }

settle
rm resources.h
run_make && made resources.h && made story.z5 && made story.zblorb ||
  { cat make.out; fail "a deleted include was not made again, with the story and the Blorb file"; }

# A resource whose name has a space, added to the control file: the include
# keeps its time, so only the Blorb file is packed again; then a change of
# that file alone packs again.
settle
printf 'A text with a space in its name.\n' >'resources/read me.txt'
printf 'Data 2 TEXT resources/read me.txt\n' >>story.blc
run_make && made story.zblorb && ! made resources.h && ! made story.z5 ||
  { cat make.out; fail "an added text record was not packed, or changed the include or compiled the story"; }
grep -qF 'resources/read\ me.txt' story.d || { cat story.d; fail "story.d does not name 'resources/read me.txt'"; }
settle
touch 'resources/read me.txt'
run_make && made story.zblorb || { cat make.out; fail "a changed 'read me.txt' did not pack again"; }

# A warning fails the build, and the previous Blorb file stays; a deleted
# resource does not stop make either, but fails the packing.
cp story.zblorb before.zblorb
printf '1 0 RelN one\n' >>story.blc
if run_make; then fail "make succeeded with a warning"; fi
grep -qF 'Number "one" has no digits' make.out || { cat make.out; fail "no warning shown"; }
cmp -s before.zblorb story.zblorb || fail "a failed build changed story.zblorb"
sed -i '$d' story.blc
rm 'resources/read me.txt'
if run_make; then fail "make succeeded with a resource deleted"; fi
grep -qF "Can't open file resources/read me.txt" make.out || { cat make.out; fail "no message for the deleted resource"; }
exit $failed
