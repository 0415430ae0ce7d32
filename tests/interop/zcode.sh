#!/usr/bin/env bash
# Compiles Post Room to version 5 Z-code, packs it as Exec 0 ZCOD with the
# example's pictures, sound and texts, and plays it in Debian's batch Z-code
# interpreter straight from the Blorb file.
source "$(dirname "$0")/lib.sh"
find_tool inform6 inform6 inform6-compiler
find_tool dfrotz dfrotz frotz
need_inform_library

compile -v5 games/postroom.inf games/postroom.z5
pack games/postroom.blc postroom.zblorb games/postroom.z5

printf 'examine parcel\nquit\ny\n' >input
# A wide screen keeps each reply on one line; -m drops the MORE prompts.
timeout 30 "$dfrotz" -q -m -p -w 250 postroom.zblorb <input >transcript 2>&1
status=$?
[ "$status" -eq 0 ] || { cat transcript; fail "dfrotz ended with status $status"; }
expect_line transcript "The night shift in the post room begins with a single parcel." "opening"
expect_line transcript \
  'The label reads: "Handle with care. Contents: one story, two pictures and a chime."' \
  "reply to EXAMINE PARCEL"
echo "dfrotz played postroom.zblorb"
