#!/usr/bin/env bash
# Compiles Lighthouse to Glulx, packs it as Exec 0 GLUL with the keeper's log as
# Data resource 1 and the example's pictures, sound and texts, and plays it in
# glulxe straight from the Blorb file. glulxe draws a full-screen terminal, so
# it runs inside a private tmux server that this script alone uses and ends.
source "$(dirname "$0")/lib.sh"
find_tool inform6 inform6 inform6-compiler
find_tool glulxe glulxe glulxe
find_tool tmux tmux tmux

compile -G games/lighthouse.inf games/lighthouse.ulx
pack games/lighthouse.blc lighthouse.gblorb games/lighthouse.ulx

socket=$scratch/tmux.sock
# The game runs under a time limit that outlives this script's own waits, so
# even a killed test leaves nothing running for long. Ending the session alone
# is not enough: glulxe outlives its terminal, spinning, until it is signalled.
game=$("$tmux" -S "$socket" -f /dev/null new-session -d -P -F '#{pane_pid}' -x 100 -y 40 \
  "exec timeout -k 2 60 $glulxe $scratch/lighthouse.gblorb") || fail "tmux could not start a session"
cleanup_hooks+=('stop_game')
stop_game() {
  local tries=0
  kill -TERM "$game" 2>/dev/null   # timeout passes it on to glulxe
  while kill -0 "$game" 2>/dev/null && [ $tries -lt 50 ]; do
    sleep 0.1
    tries=$((tries + 1))
  done
  "$tmux" -S "$socket" kill-server >/dev/null 2>&1
}

screen() {
  "$tmux" -S "$socket" capture-pane -p >transcript 2>/dev/null
}
wait_for() {  # wait_for LINE WHAT: polls the screen for up to 20 seconds
  local tries=0
  while screen; ! grep -qFx -- "$1" transcript; do
    tries=$((tries + 1))
    [ $tries -lt 100 ] || break
    sleep 0.2
  done
  expect_line transcript "$1" "$2"
}

wait_for "The lamp of the lighthouse sweeps the dark sea once more." "opening"
"$tmux" -S "$socket" send-keys -l 'read logbook'
"$tmux" -S "$socket" send-keys Enter
wait_for "Keeper's log: the lamp was lit at dusk and the sea was calm." \
  "reply to READ LOGBOOK (the text of Data resource 1)"
echo "glulxe played lighthouse.gblorb"
