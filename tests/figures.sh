#!/usr/bin/env bash
# Writes the figures of the developers' guide's Reliability section from runs,
# so that none is copied by hand. Each figure stands between <!-- NAME --> and
# <!-- /NAME --> in docs/DEVELOPING.md, and is replaced in place:
#   tests/figures.sh sweeps          counts the failure points of every sweep
#                                    with build/faults (cmake --workflow --preset faults)
#   tests/figures.sh fuzz NAME LOG   the statistics of a fuzzing run of NAME
#                                    (control or blorbinfo) from its output:
#                                    fuzz/run NAME SECONDS 2>LOG
#   tests/figures.sh --check sweeps  says whether the guide's sweep figures
#                                    are current, and changes nothing
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
guide=$root/docs/DEVELOPING.md
check=
if [ "${1:-}" = --check ]; then check=1; shift; fi

# 1234567 -> 1,234,567
grouped() { printf '%s' "$1" | rev | sed 's/[0-9]\{3\}/&,/g; s/,$//' | rev; }

replace() {  # replace NAME TEXT: the text between the NAME markers
  local name=$1 text=$2 current
  current=$(NAME=$name perl -0ne 'print $1 if /<!-- \Q$ENV{NAME}\E -->(.*?)<!-- \/\Q$ENV{NAME}\E -->/s' "$guide")
  if [ -n "$check" ]; then
    if [ "$current" != "$text" ]; then
      echo "docs/DEVELOPING.md says \"$current\" for $name; a run gives \"$text\" (tests/figures.sh $name writes it)"
      exit 1
    fi
    echo "docs/DEVELOPING.md's $name figures are current: $text"
    return
  fi
  NAME=$name TEXT=$text perl -0pi -e 's/(<!-- \Q$ENV{NAME}\E -->).*?(<!-- \/\Q$ENV{NAME}\E -->)/$1$ENV{TEXT}$2/s' "$guide"
  echo "$name: $text"
}

case "${1:-}" in
  sweeps)
    binary=${BLORBPACK:-$root/build/faults/blorbpack}
    [ -x "$binary" ] || { echo "tests/figures.sh: no $binary: run cmake --workflow --preset faults first" >&2; exit 1; }
    allocations=0
    outputs=0
    for job in inline files many; do
      for kind in alloc output-unbuffered output-buffered output; do
        points=$(SWEEP_COUNT_ONLY=1 bash "$root/tests/faults/sweep.sh" "$binary" "$job" "$kind")
        if [ "$kind" = alloc ]; then
          allocations=$((allocations + points))
        else
          outputs=$((outputs + points))
        fi
      done
    done
    replace sweeps "$(grouped $allocations) allocation points and $(grouped $outputs) output points"
    ;;
  fuzz)
    name=${2:?which fuzz target: control or blorbinfo}
    log=${3:?the log of fuzz/run $name}
    stat() { sed -n "s/^stat::$1: *//p" "$log" | tail -n 1; }
    runs=$(stat number_of_executed_units)
    speed=$(stat average_exec_per_sec)
    [ -n "$runs" ] || { echo "tests/figures.sh: $log holds no final statistics of libFuzzer" >&2; exit 1; }
    if grep -q -E '^==[0-9]+==(ERROR|WARNING)|^SUMMARY: |deadly signal|control_fuzz: |blorbinfo_fuzz: ' "$log"; then
      echo "tests/figures.sh: $log records a failure: fix it before quoting the run" >&2
      exit 1
    fi
    done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1)
    edges=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$done_line")
    features=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$done_line")
    corpus=$(sed -n 's/.* corp: \([0-9]*\).*/\1/p' <<<"$done_line")
    seconds=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -n 1)
    replace "fuzz-$name" "$(grouped "$runs") executions in $(grouped "$seconds") seconds ($(grouped "$speed") a second), $(grouped "$edges") edges covered ($(grouped "$features") features), a corpus of $(grouped "$corpus") inputs"
    ;;
  *)
    sed -n '2,13s/^# \{0,1\}//p' "$0" >&2
    exit 2
    ;;
esac
