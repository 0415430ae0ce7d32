#!/usr/bin/env bash
# Runs the packager under valgrind's memcheck in place of the bare binary:
#   memcheck.sh VALGRIND BINARY ARGS...
# An invalid access, or an uninitialised byte that reaches a system call (the
# output file, a message), ends the run with status 99 and the report on
# standard error. A run that ends with status 0 must also have released every
# heap block, reachable or not. A failed run ends through exit() with its
# blocks still held by program-wide variables, which is no leak, so only the
# successful run is held to that.
set -u
valgrind=$1
binary=$2
shift 2
log=$(mktemp) || exit 97
"$valgrind" -q --log-file="$log" --error-exitcode=99 --leak-check=full \
  --show-leak-kinds=all --errors-for-leak-kinds=none "$binary" "$@"
status=$?
if [ "$status" -eq 99 ] || { [ "$status" -eq 0 ] && [ -s "$log" ]; }; then
  cat "$log" >&2
  status=99
fi
rm -f "$log"
exit "$status"
