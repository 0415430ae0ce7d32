#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks that both programs and
# both manual pages land where a Debian system looks for them.
#   run.sh CMAKE BUILD BINDIR MANDIR DOCS
set -u
cmake=$1
build=$2
bindir=$3
mandir=$4
docs=$5
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix

if ! "$cmake" --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1; then
  cat "$scratch/install.log"
  exit 1
fi
failed=0
# --version prints the banner and ends with status 0.
"$prefix/$bindir/blorbpack" --version >"$scratch/run.stdout" 2>&1
if [ $? -ne 0 ] || [ "$(head -n 1 "$scratch/run.stdout")" != "blorbpack version 1.0 (Apr 20 2009), a Blorb resource packager" ]; then
  echo "--- $bindir/blorbpack did not run:"; cat "$scratch/run.stdout"
  failed=1
fi
# A Blorb file holding only the empty index passes.
printf 'FORM\0\0\0\020IFRSRIdx\0\0\0\004\0\0\0\0' >"$scratch/empty.blorb"
if ! "$prefix/$bindir/blorbinfo" "$scratch/empty.blorb" >"$scratch/info.stdout" 2>&1; then
  echo "--- $bindir/blorbinfo did not run:"; cat "$scratch/info.stdout"
  failed=1
fi
for page in blorbpack.1 blorbinfo.1; do
  if ! cmp -s "$docs/$page" "$prefix/$mandir/man1/$page"; then
    echo "--- no copy of the manual page at $mandir/man1/$page; installed:"
    (cd "$prefix" && find . -type f)
    failed=1
  fi
done
exit $failed
