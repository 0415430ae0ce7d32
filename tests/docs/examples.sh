#!/usr/bin/env bash
# The README (or the developers' guide, wherever an example stands) and
# blorbpack(1) show the bundled example's control file and what packing it
# prints; both must be what the file holds and what a run prints.
# The page's version and date must be the banner's. So too for blorbinfo: the
# README's listing of the packed example is the whole of what it prints, and
# every line of blorbinfo(1)'s example (folded there) and of its --help is
# one it prints. Every file of the source tree that either guide names must be
# there, so that moving a file or a section leaves no stale path behind.
#   examples.sh BLORBPACK README PAGE EXAMPLES BLORBINFO INFO-PAGE GUIDE
set -u
bin=$1
readme=$(realpath "$2")
page=$(realpath "$3")
examples=$4
info=$5
info_page=$(realpath "$6")
guide=$(realpath "$7")
source=$(dirname "$readme")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp -R "$examples"/. "$scratch"/
cd "$scratch" || exit 1
rm -f game.zblorb
"$bin" game.blc game.zblorb >run.stdout 2>run.stderr || { cat run.stdout run.stderr; echo "--- the example did not pack"; exit 1; }

failed=0
same() {  # same WHAT EXPECTED-FILE ACTUAL-FILE
  if ! cmp -s "$2" "$3"; then
    echo "--- $1 (what it should be, then what it is):"
    diff "$2" "$3"
    failed=1
  fi
}
# The fenced block that follows the first line holding the text, in the
# README or else in the guide.
readme_block() {
  awk -v after="$1" 'found && /^```/ { if (inside) exit; inside = 1; next }
                     inside { print } index($0, after) { found = 1 }' "$readme" "$guide"
}
# The Nth .nf ... .fi block of the page.
page_block() {
  awk -v n="$1" '/^\.nf/ { ++k; inside = (k == n); next } /^\.fi/ { inside = 0 } inside' "$page" | sed 's/\\-/-/g; s/^\\&//'
}

readme_block 'Example (`examples/game.blc`)' >readme.control
same "README's control file is not examples/game.blc" game.blc readme.control
readme_block 'For `examples/game.blc`' >readme.stdout
same "README's listing is not what packing the example prints" run.stdout readme.stdout
page_block 1 >page.control
same "blorbpack(1)'s control file is not examples/game.blc" game.blc page.control
{ echo '$ blorbpack game.blc game.zblorb'; cat run.stdout; } >want.session
page_block 2 >page.session
same "blorbpack(1)'s example run is not what packing the example prints" want.session page.session

# "blorbpack version 1.0 (Apr 20 2009), ..." and .TH NAME 1 2009-04-20 "blorbpack 1.0"
banner=$("$bin" --version | head -n 1)
version=$(sed -n 's/^[^ ]* version \([^ ]*\) (.*/\1/p' <<<"$banner")
date=$(date -u -d "$(sed -n 's/.*(\(.*\)).*/\1/p' <<<"$banner")" +%F)
th=$(grep -m 1 '^\.TH ' "$page")
want_th=".TH BLORBPACK 1 $date \"blorbpack $version\" \"User Commands\""
[ "$th" = "$want_th" ] || { echo "--- $page has $th; the banner ($banner) gives $want_th"; failed=1; }
"$info" game.zblorb >info.stdout 2>&1
readme_block 'For the bundled example (`../build/release/info/blorbinfo' >readme.info
same "README's blorbinfo listing is not what blorbinfo prints for the example" info.stdout readme.info
awk '/^\.nf/ { ++k; next } /^\.fi/ { next } k == 1' "$info_page" | sed 's/\\e/\\/g' |
  awk '/^  / { line = line " " substr($0, 3); next } { if (line != "") print line; line = $0 } END { print line }' |
  grep '^game.zblorb: ' >page.info
"$info" --help | sed -n 's/^  \(game\.zblorb: \)/\1/p' >>page.info
"$info" --unpack game game.zblorb >unpack.stdout 2>&1 || { cat unpack.stdout; echo "--- the example did not unpack"; failed=1; }
cat info.stdout unpack.stdout >printed.stdout
while IFS= read -r line; do
  grep -qxF -- "$line" printed.stdout || { echo "--- blorbinfo(1) or --help shows a line blorbinfo does not print: $line"; failed=1; }
done <page.info
[ -s page.info ] || { echo "--- blorbinfo(1) shows no listing of the example"; failed=1; }

# Unpacking the example, as the README and blorbinfo(1) show it: what it
# prints, the control file, and that packing it again gives the same bytes.
readme_block '`game/game.blc` holds:' >readme.unpacked
same "README's unpacked control file is not what blorbinfo --unpack writes" game/game.blc readme.unpacked
cat "$readme" "$guide" | grep -qxF "prints \`$(cat unpack.stdout)\`, and" ||
  { echo "--- README does not quote what blorbinfo --unpack prints: $(cat unpack.stdout)"; failed=1; }
(cd game && "$bin" game.blc game.zblorb >/dev/null 2>&1 && cmp -s game.zblorb ../game.zblorb) ||
  { echo "--- the unpacked example does not pack into the same bytes"; failed=1; }
{
  echo '$ blorbinfo --unpack game game.zblorb'
  cat unpack.stdout
  echo '$ cat game/game.blc'
  cat game/game.blc
  echo '$ cd game && blorbpack game.blc game.zblorb && cmp game.zblorb ../game.zblorb'
} >want.unpack
awk '/^\.nf/ { inside = 1; block = ""; next }
     /^\.fi/ { if (block ~ /^\$ blorbinfo \\-\\-unpack/) printf "%s", block; inside = 0; next }
     inside && !/^\./ { block = block $0 "\n" }' "$info_page" | sed 's/\\-/-/g' >page.unpack
same "blorbinfo(1)'s unpacking session is not what a run prints" want.unpack page.unpack

# Paths in backquotes that start with a folder of the source tree, such as
# `tests/figures.sh` or `examples/games/*.blc` (a pattern must match; a
# library may be named without its source's extension), and the targets of
# links, from the folder of the file that holds them. build/ and Blorb files
# are what runs make, and no part of the tree.
tops=$(cd "$source" && ls -d -- */ .ci/ | sed 's|/$||' | grep -vx build | paste -sd '|')
for doc in "$readme" "$guide"; do
  {
    grep -o '`[^` ]*' "$doc" | sed 's/^`//' | grep -E "^($tops)/" | grep -v '[<>]\|\.\.\.' |
      grep -vE '\.(zblorb|gblorb|blorb|blb)$' | sed "s|^|$source/|"
    grep -o '](\([^):#]*\))' "$doc" | sed "s|^](|$(dirname "$doc")/|; s/)$//"
  } | sort -u | while IFS= read -r path; do
    compgen -G "$path" >/dev/null || compgen -G "$path.*" >/dev/null ||
      { echo "--- $(basename "$doc") names ${path#"$source"/}, which the source tree does not hold"; exit 1; }
  done || failed=1
done
exit $failed
