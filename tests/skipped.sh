#!/usr/bin/env bash
# Prints why each test of the last ctest run in a build folder was skipped:
# ctest lists skipped tests without the reason they printed.
#   tests/skipped.sh build/dev
set -u
log=${1:?a build folder, such as build/dev}/Testing/Temporary/LastTest.log
[ -e "$log" ] || { echo "tests/skipped.sh: no $log: run the tests first" >&2; exit 1; }
# Every test that skips prints a line "skipped: REASON" first.
awk '
  /^[0-9]+\/[0-9]+ Test: / { name = $3 }
  /^skipped: / && name != "" { sub(/^skipped: /, ""); printf "skipped %s: %s\n", name, $0; count++ }
  END { if (count == 0) print "no test was skipped" }
' "$log"
