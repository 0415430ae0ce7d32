#!/usr/bin/env bash
# Holds --constants to the packing run: the case's cmd runs with $BLORBPACK
# standing for a wrapper that, before each packing run without options whose
# control file is a regular file, writes the include of that control file;
# when the packing run ends with status 0 (every resource opened), its
# constants listing must be exactly the include's constants. The case's own
# expectations are not checked here; run_case.sh does that.
#   constants_match.sh BLORBPACK CASE-DIR BLORBINFO
set -u
bin=$1
case_dir=$2
export BLORBINFO=$3
[ -e "$case_dir/requires" ] && ! bash "$case_dir/requires" >/dev/null 2>&1 && { echo "skipped: lacks a requirement"; exit 77; }
[ -e "$case_dir/requires-windows" ] && { echo "skipped: a Windows case"; exit 77; }
scratch=$(mktemp -d)
trap 'chmod -R u+rwx "$scratch" 2>/dev/null; rm -rf "$scratch"' EXIT
mkdir "$scratch/case" "$scratch/bin"
cp -R "$case_dir"/. "$scratch/case"/
export CONSTANTS_LOG=$scratch/log
: >"$CONSTANTS_LOG"
cat >"$scratch/bin/blorbpack" <<WRAPPER
#!/usr/bin/env bash
real='$bin'
WRAPPER
cat >>"$scratch/bin/blorbpack" <<'WRAPPER'
case $# in
  1) control=$1.blc ;;
  0) exec "$real" ;;
  *) control=$1 ;;
esac
case $1 in -*) exec "$real" "$@" ;; esac
[ -f "$control" ] || exec "$real" "$@"
include=$(mktemp) listing=$(mktemp)
"$real" -q --constants "$control" "$include" >/dev/null 2>&1
include_status=$?
"$real" "$@" >"$listing"
status=$?
cat "$listing"
if [ $status -eq 0 ]; then
  sed -n 's/^constant \(.*\) \([^ ]*\)$/Constant \1 \2;/p' "$listing" >"$listing.want"
  tail -n +2 "$include" >"$include.got"
  if [ $include_status -ne 0 ] || ! cmp -s "$listing.want" "$include.got"; then
    { echo "--- $control: --constants status $include_status; listing, then include:"
      cat "$listing.want" "$include.got"; } >>"$CONSTANTS_LOG"
  else
    echo "same: $control" >>"$CONSTANTS_LOG"
  fi
fi
rm -f "$include" "$include.got" "$listing" "$listing.want"
exit $status
WRAPPER
chmod +x "$scratch/bin/blorbpack"
(cd "$scratch/case" && BLORBPACK=$scratch/bin/blorbpack timeout 50 bash ./cmd >/dev/null 2>&1 </dev/null)
cat "$CONSTANTS_LOG"
! grep -q '^---' "$CONSTANTS_LOG"
