#!/usr/bin/env bash
# Runs one golden end-to-end case: the case folder is copied to a scratch
# folder, its `cmd` script runs there with $BLORBPACK and $BLORBINFO naming the
# two binaries, and what it printed, its exit status and the output file are
# compared with the expected.* files beside it. Exit 77 marks a case that
# cannot run here.
#   expected.stdout   standard output, exactly (required)
#   expected.stderr   standard error, exactly (absent: must be empty)
#   expected.status   exit status (absent: 0)
#   expected.hex      bytes of out.blorb, two hex digits a byte, '#' starts a note
#   expected.absent   names of files that must not exist afterwards
#   expected.info     what blorbinfo prints for out.blorb, exactly
#   expected.info-status  blorbinfo's exit status for out.blorb (absent: 0)
#   expected.unpack   what blorbinfo --unpack prints for out.blorb, exactly, when
#                     blorbpack cannot re-pack it byte for byte (status 1); absent:
#                     the unpacked files must re-pack to out.blorb exactly
#   skip-if-sanitized the case needs what sanitizers and memcheck take away
#                     (address-space limits)
#   requires          a shell condition ($BLORBPACK set); when false the case is
#                     skipped, with the reason
#   requires-posix    what the case needs of a POSIX system (/dev/full, FIFOs,
#   requires-windows  ...), or of Windows: elsewhere it is skipped with that
#                     reason. BLORBPACK_TARGET names the programs' platform:
#                     posix (the default) or windows.
#   expected.*.windows  stands for expected.* where the platforms differ
set -u
bin=$1
case_dir=$2
info=$3
export BLORBPACK=$bin
export BLORBINFO=$info
target=${BLORBPACK_TARGET:-posix}
if [ "$target" != posix ] && [ -e "$case_dir/requires-posix" ]; then
  echo "skipped: needs what only POSIX systems have: $(cat "$case_dir/requires-posix")"
  exit 77
fi
if [ "$target" != windows ] && [ -e "$case_dir/requires-windows" ]; then
  echo "skipped: needs Windows: $(cat "$case_dir/requires-windows")"
  exit 77
fi
if [ -e "$case_dir/requires" ] && ! bash "$case_dir/requires" >/dev/null 2>&1; then
  echo "skipped: this machine lacks: $(cat "$case_dir/requires")"
  exit 77
fi
if [ -e "$case_dir/skip-if-sanitized" ] && [ -n "${BLORBPACK_SANITIZED:-}" ]; then
  echo "skipped: $(cat "$case_dir/skip-if-sanitized")"
  exit 77
fi
scratch=$(mktemp -d)
trap 'chmod -R u+rwx "$scratch" 2>/dev/null; rm -rf "$scratch"' EXIT
cp -R "$case_dir"/. "$scratch"/
cd "$scratch" || exit 1
for file in expected.*."$target"; do
  [ -e "$file" ] && mv "$file" "${file%."$target"}"
done
bash ./cmd >actual.stdout 2>actual.stderr </dev/null
status=$?

failed=0
check() {  # check WHAT EXPECTED-FILE ACTUAL-FILE
  if ! cmp -s "$2" "$3"; then
    echo "--- $1 differs (expected, then actual):"
    diff <(od -c "$2") <(od -c "$3") | head -n 40
    failed=1
  fi
}
check stdout expected.stdout actual.stdout
if [ -e expected.stderr ]; then
  check stderr expected.stderr actual.stderr
else
  check stderr /dev/null actual.stderr
fi
want_status=0
[ -e expected.status ] && want_status=$(tr -d ' \n' <expected.status)
if [ "$status" != "$want_status" ]; then
  echo "--- exit status $status, expected $want_status"
  failed=1
fi
if [ -e expected.hex ]; then
  sed 's/#.*//' expected.hex | tr -s ' \t\n' '\n' | grep -v '^$' | tr 'A-F' 'a-f' >want.hex
  if [ -e out.blorb ]; then
    od -An -v -tx1 out.blorb | tr -s ' \n' '\n' | grep -v '^$' >got.hex
  else
    echo "(no out.blorb)" >got.hex
  fi
  if ! cmp -s want.hex got.hex; then
    echo "--- out.blorb differs (byte offset: expected / actual):"
    diff <(nl -v0 -ba want.hex) <(nl -v0 -ba got.hex) | head -n 40
    failed=1
  fi
fi
# Whatever failed, no run may leave its temporary file behind; and a fault in
# the output path, run as root, could replace the devices that every later case
# writes to, which would make those cases void.
left=$(find . -name '*.tmp.*' -print 2>/dev/null)
if [ -n "$left" ]; then
  echo "--- temporary files left behind:"; echo "$left"
  failed=1
fi
for device in /dev/null /dev/full; do
  if [ ! -c "$device" ]; then echo "--- $device is no longer a character device"; failed=1; fi
done
if [ -e expected.absent ]; then
  while IFS= read -r name; do
    [ -z "$name" ] && continue
    if [ -e "$name" ]; then echo "--- $name exists but must not"; failed=1; fi
  done <expected.absent
fi
# Every complete file the packager makes must open everywhere, unless the case
# packs what readers refuse on purpose. A failed run leaves no complete file to
# check, except one whose only failure was records not packed (its note says
# so): that file holds all the others and must be whole.
if [ $failed -eq 0 ] && [ -e out.blorb ] &&
   { [ "$want_status" = 0 ] || [ -e expected.info-status ] || grep -q '^blorbpack: Note: ' actual.stderr; }; then
  "$info" out.blorb >actual.info 2>actual.info-stderr
  info_status=$?
  want_info_status=0
  [ -e expected.info-status ] && want_info_status=$(tr -d ' \n' <expected.info-status)
  info_failed=0
  if [ "$info_status" != "$want_info_status" ]; then
    echo "--- blorbinfo exit status $info_status, expected $want_info_status"
    info_failed=1
  fi
  [ -e expected.info ] && ! cmp -s expected.info actual.info && { echo "--- blorbinfo output differs"; info_failed=1; }
  [ -s actual.info-stderr ] && { echo "--- blorbinfo wrote to standard error"; info_failed=1; }
  if [ $info_failed -ne 0 ]; then
    [ -e expected.info ] && diff expected.info actual.info | head -n 40
    echo "--- blorbinfo printed:"; cat actual.info actual.info-stderr
    failed=1
  fi
fi
# And every such file comes apart into a control file and chunk files that
# blorbpack packs into the same bytes again, in base-name mode inside the
# folder, as the manual page tells.
if [ $failed -eq 0 ] && [ -e out.blorb ] &&
   { [ "$want_status" = 0 ] || [ -e expected.info-status ] || grep -q '^blorbpack: Note: ' actual.stderr; }; then
  rm -rf unpacked
  "$info" --unpack unpacked out.blorb >actual.unpack 2>actual.unpack-stderr
  unpack_status=$?
  want_unpack_status=0
  [ -e expected.unpack ] && want_unpack_status=1
  unpack_failed=0
  if [ "$unpack_status" != "$want_unpack_status" ]; then
    echo "--- blorbinfo --unpack exit status $unpack_status, expected $want_unpack_status"
    unpack_failed=1
  fi
  [ -s actual.unpack-stderr ] && { echo "--- blorbinfo --unpack wrote to standard error"; unpack_failed=1; }
  if [ -e expected.unpack ]; then
    cmp -s expected.unpack actual.unpack || { echo "--- blorbinfo --unpack output differs"; unpack_failed=1; }
  elif ! (cd unpacked && "$bin" out >/dev/null 2>&1) || ! cmp -s out.blorb unpacked/out.blorb; then
    echo "--- the unpacked files do not re-pack to out.blorb; unpacked/out.blc holds:"
    cat -A unpacked/out.blc | head -n 40
    unpack_failed=1
  fi
  if [ $unpack_failed -ne 0 ]; then
    echo "--- blorbinfo --unpack printed:"; cat actual.unpack actual.unpack-stderr
    failed=1
  fi
fi
if [ $failed -ne 0 ]; then
  echo "--- stdout was:"; cat actual.stdout
  echo "--- stderr was:"; cat actual.stderr
fi
exit $failed
