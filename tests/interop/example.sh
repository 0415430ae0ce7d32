#!/usr/bin/env bash
# Packs the bundled example as the README tells and plays its Exec chunk, a
# hand-assembled Z-code story, in Debian's batch Z-code interpreter.
source "$(dirname "$0")/lib.sh"
find_tool dfrotz dfrotz frotz

"$bin" game.blc game.zblorb >pack.stdout 2>&1 || { cat pack.stdout; fail "blorbpack could not pack the example"; }
rm resources/story.z5
passes game.zblorb
timeout 30 "$dfrotz" -q -m -p game.zblorb </dev/null >transcript 2>&1
status=$?
[ "$status" -eq 0 ] || { cat transcript; fail "dfrotz ended with status $status"; }
expect_line transcript "This story file was packed by blorbpack." "the example's story"
echo "dfrotz played game.zblorb"
