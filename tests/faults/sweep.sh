#!/usr/bin/env bash
# Failure injection at every point a run reaches, with the BLORBPACK_FAULTS
# build of the packager (see common/faults.h):
#   sweep.sh BINARY JOB KIND
# JOB is one of the representative runs below: inline (text and numbers),
# files (picture, embedded FORM, a mapped file, unindexed, missing and empty
# files) or many (enough records for the chunk table to grow).
# KIND alloc fails the Nth allocation, for every N the run makes: each run must
# end with exactly "Error: Memory exceeded!" on standard error and status 2.
# KIND output-unbuffered, output-buffered (a 61-byte buffer) and output (the
# stream's own buffer) fail the Nth write, seek or close of the output file, or
# the moving of the finished file into place: each run must end with the
# "Can't write Blorb Output File" message and status 1. Either way, what was
# printed before must be the start of what a complete run prints, and the
# previous output must be left as it was, content and permissions, with no
# temporary file beside it. A sanitizer report fails the check through
# standard error.
set -u
binary=$1
job=$2
kind=$3

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" || exit 1

case $job in
  inline)
    printf '0 1 ANNO Hello, world\n1 2 RelN 7\n3 3 Numb 300\n0 4 AUTH Someone\n' >ctl.blc
    ;;
  files)
    # Clean records but for the missing file, so that standard error holds
    # nothing but what a failure writes and the note that names that record:
    # real signatures, usages readers look up, types the format defines.
    printf '\211PNG\r\n\032\n' >pic.png
    printf 'FORM\0\0\0\4AIFF' >snd.aiff
    head -c 300000 /dev/zero | tr '\0' b >big.bin  # large enough to be mapped
    printf 'notes\n' >notes.txt
    : >empty
    printf '%s\n' 'Pict 1 PNG pic.png' 'Snd 2 FORM snd.aiff' 'Data 3 BINA big.bin' '2 4 TEXT notes.txt' \
      'Data 5 TEXT missing.txt' 'Data 6 TEXT empty' 'Data 7 TEXT pic.png' '0 8 ANNO odd' >ctl.blc
    ;;
  many)
    printf '\211PNG\r\n\032\n' >pic.png
    for ((i = 0; i < 300; ++i)); do
      # A name of its own for each picture, so that no constant repeats.
      if ((i % 2)); then ln -s pic.png pic$i.png; echo "Pict $i PNG pic$i.png"; else echo "0 $i ANNO x"; fi
    done >ctl.blc
    ;;
  *) echo "sweep.sh: no job $job" >&2; exit 2 ;;
esac

unset BLORBPACK_FAIL_ALLOC BLORBPACK_FAIL_OUTPUT BLORBPACK_OUTPUT_BUFFER BLORBPACK_FAULT_COUNTS
case $kind in
  alloc) ;;
  output-unbuffered) export BLORBPACK_OUTPUT_BUFFER=0 ;;
  output-buffered) export BLORBPACK_OUTPUT_BUFFER=61 ;;
  output) ;;
  *) echo "sweep.sh: no kind $kind" >&2; exit 2 ;;
esac

slurp() {  # slurp VARIABLE FILE: the whole file, trailing line feeds included
  IFS= read -r -d '' "$1" <"$2"
}

failures=0
fail() {
  echo "$kind point $point of $job: $*"
  echo "--- stdout:"; cat out.txt
  echo "--- stderr:"; cat err.txt
  failures=$((failures + 1))
  ((failures < 5)) || exit 1
}

# A complete run ends with status 0, or with 1 and the note when a record was
# not packed (the missing file of the files job).
want_status=0
want_errors=
if [ "$job" = files ]; then
  want_status=1
  want_errors=$'blorbpack: Note: 1 record not packed: record 5 (line 5)\n'
fi
"$binary" ctl.blc out.blorb >want.txt 2>err.txt
status=$?
slurp errors err.txt
if [ $status -ne $want_status ] || [ "$errors" != "$want_errors" ]; then
  echo "the run without faults failed"; cat want.txt err.txt; exit 1
fi
cp out.blorb want.blorb
slurp want want.txt
# What an earlier run left, with permissions that only a replacing run that
# keeps them would give its file.
: >empty.blc
"$binary" empty.blc previous.blorb >/dev/null 2>&1 || { echo "the empty run failed"; exit 1; }
chmod 604 previous.blorb

# kept FILE: the output is FILE, with the previous output's permissions, and
# nothing else was left beside it.
kept() {
  cmp -s out.blorb "$1" && [ "$(stat -c %a out.blorb)" = 604 ] && ! compgen -G 'out.blorb.tmp.*' >/dev/null
}

# Counting run: the output goes through the counting device but nothing fails;
# the file and the messages must be those of the plain run.
[ "$kind" = alloc ] || export BLORBPACK_FAIL_OUTPUT=0
export BLORBPACK_FAULT_COUNTS=$scratch/counts
point=0
cp -p previous.blorb out.blorb
"$binary" ctl.blc out.blorb >out.txt 2>err.txt
status=$?
slurp got out.txt
slurp errors err.txt
{ [ $status -eq $want_status ] && [ "$got" = "$want" ] && [ "$errors" = "$want_errors" ] && kept want.blorb; } ||
  fail "the counting run differs from the plain run"
{ read -r _ allocations; read -r _ outputs; } <counts
if [ "$kind" = alloc ]; then points=$allocations; else points=$outputs; fi
# tests/figures.sh asks only how many points there are.
if [ -n "${SWEEP_COUNT_ONLY:-}" ]; then echo "$points"; exit 0; fi

memory_message=$'Error: Memory exceeded!\n'
write_message=$'blorbpack: Error: Can\'t write Blorb Output File "out.blorb".\n'
for ((point = 1; point <= points + 1; ++point)); do
  rm -f counts
  cp -p previous.blorb out.blorb
  if [ "$kind" = alloc ]; then
    BLORBPACK_FAIL_ALLOC=$point "$binary" ctl.blc out.blorb >out.txt 2>err.txt
  else
    BLORBPACK_FAIL_OUTPUT=$point "$binary" ctl.blc out.blorb >out.txt 2>err.txt
  fi
  status=$?
  slurp got out.txt
  slurp errors err.txt
  if ((point > points)); then
    # One past the last point: nothing fails and the run is complete.
    { [ $status -eq $want_status ] && [ "$got" = "$want" ] && [ "$errors" = "$want_errors" ] &&
      kept want.blorb; } ||
      fail "a run past the last point is not the plain run"
    continue
  fi
  { read -r _ reached_allocations; read -r _ reached_outputs; } <counts
  if [ "$kind" = alloc ]; then
    [ $status -eq 2 ] || fail "status $status, not 2"
    [ "$errors" = "$memory_message" ] || fail "standard error is not the memory message alone"
    [[ "$want" == "$got"* ]] || fail "standard output is not the start of a complete run's"
    [ "$reached_allocations" -eq "$point" ] || fail "the run made $reached_allocations allocations, not $point"
  else
    [ $status -eq 1 ] || fail "status $status, not 1"
    [ -z "$errors" ] || fail "standard error is not empty"
    [[ "$got" == *"$write_message" && "$want" == "${got%"$write_message"}"* ]] ||
      fail "standard output is not the start of a complete run's and the write message"
    [ "$reached_outputs" -ge "$point" ] || fail "the failing point was not reached"
  fi
  kept previous.blorb || fail "the previous output was not left as it was"
done
echo "$job, $kind: $points failure points, each ended as it must; $failures wrong"
[ $failures -eq 0 ]
