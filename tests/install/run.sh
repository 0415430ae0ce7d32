#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks that the program and its
# manual page land where a Debian system looks for them.
set -u
cmake=$1
build=$2
bindir=$3
mandir=$4
page=$5
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix

if ! "$cmake" --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1; then
  cat "$scratch/install.log"
  exit 1
fi
failed=0
# Without arguments it prints its banner and usage and ends with status 1.
"$prefix/$bindir/blorbpack" >"$scratch/run.stdout" 2>&1
if [ "$(head -n 1 "$scratch/run.stdout")" != "blorbpack version 1.0 (Apr 20 2009), a Blorb resource packager" ]; then
  echo "--- $bindir/blorbpack did not run:"; cat "$scratch/run.stdout"
  failed=1
fi
if ! cmp -s "$page" "$prefix/$mandir/man1/blorbpack.1"; then
  echo "--- no copy of the manual page at $mandir/man1/blorbpack.1; installed:"
  (cd "$prefix" && find . -type f)
  failed=1
fi
exit $failed
