#!/usr/bin/env bash
# The manual page must format without a single warning, both through groff
# directly and the way man(1) renders a page given by path.
set -u
page=$1
command -v groff >/dev/null || { echo "skipped: no groff (Debian package groff-base)"; exit 77; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

failed=0
if ! groff -ww -z -man "$page" 2>"$scratch/groff.err" || [ -s "$scratch/groff.err" ]; then
  echo "--- groff -ww -z -man $page:"; cat "$scratch/groff.err"
  failed=1
fi
if command -v man >/dev/null; then
  if ! MANWIDTH=80 man --warnings -l "$page" >/dev/null 2>"$scratch/man.err" || [ -s "$scratch/man.err" ]; then
    echo "--- man --warnings -l $page:"; cat "$scratch/man.err"
    failed=1
  fi
else
  echo "no man (Debian package man-db): checked with groff alone"
fi
exit $failed
