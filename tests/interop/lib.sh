# Shared by the interoperability tests, which play games of our own in
# interpreters we did not write. Sourced with $1 = blorbpack binary,
# $2 = the examples folder and $3 = blorbinfo binary. A missing compiler or interpreter ends the test
# with status 77, which ctest reports as skipped, with the reason printed.
set -u
bin=$1
examples=$2
info=$3

skip() {
  echo "skipped: $*"
  exit 77
}

fail() {
  echo "FAILED: $*"
  exit 1
}

# Debian installs its interpreters in /usr/games, which is not on every PATH.
find_tool() {  # find_tool VARIABLE NAME PACKAGE: sets VARIABLE to the path, or skips the test
  local found
  found=$(PATH="$PATH:/usr/games" command -v "$2") || skip "no $2 on PATH or in /usr/games (Debian package $3)"
  printf -v "$1" '%s' "$found"
}

inform_library=/usr/share/inform6/library
need_inform_library() {
  [ -e "$inform_library/parser.h" ] || [ -e "$inform_library/Parser.h" ] ||
    skip "no Inform 6 library in $inform_library (Debian package inform6-library)"
}

scratch=$(mktemp -d)
cleanup_hooks=()
cleanup() {
  local hook
  for hook in "${cleanup_hooks[@]}"; do eval "$hook"; done
  rm -rf "$scratch"
}
trap cleanup EXIT
# Control files name their resources relative to the examples folder.
cp -R "$examples"/. "$scratch"/
cd "$scratch" || exit 1

compile() {  # compile SWITCHES SOURCE STORY
  if ! "$inform6" "$1" "+include_path=$inform_library" "$2" "$3" >compile.log 2>&1 || [ ! -s "$3" ]; then
    cat compile.log
    fail "inform6 could not compile $2"
  fi
}

# Packs the game and checks what blorbpack printed. The story file is removed
# afterwards, so an interpreter can only have found it inside the Blorb file.
pack() {  # pack CONTROL OUTPUT STORY
  local status
  "$bin" "$1" "$2" >pack.stdout 2>pack.stderr
  status=$?
  printf '%s\n' \
    "blorbpack version 1.0 (Apr 20 2009), a Blorb resource packager" \
    "Resource index and container writer version .5b" \
    "" \
    "# CONSTANTS FOR RESOURCES IN BLORB FILE" \
    "constant image_title 1" \
    "constant image_cover 2" \
    "constant sound_chime 3" >pack.expected
  if [ "$status" -ne 0 ] || ! cmp -s pack.expected pack.stdout || [ -s pack.stderr ]; then
    echo "--- status $status; stdout:"; cat pack.stdout
    echo "--- stderr:"; cat pack.stderr
    fail "blorbpack did not pack $1 cleanly"
  fi
  rm -f "$3"
  passes "$2"
}

# A file that the interpreters play must pass blorbinfo: its checks follow the
# format, not one packager's habits.
passes() {  # passes BLORB
  "$info" "$1" >info.stdout 2>&1 || { cat info.stdout; fail "blorbinfo does not pass $1"; }
}

expect_line() {  # expect_line TRANSCRIPT LINE WHAT
  if ! grep -qFx -- "$2" "$1"; then
    echo "--- transcript:"; cat "$1"
    fail "$3: no line \"$2\""
  fi
}
