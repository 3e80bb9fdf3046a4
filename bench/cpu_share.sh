#!/usr/bin/env bash
# cpu_share.sh - the real program's CPU use as a player feels it: whole process (all threads)
# and main thread, over 10 s each, on the idle main menu and in a playing game (metronome on,
# Kick, Snare, Closed Hat and Lead 1 holding notes, the pointer resting off the pads), under
# the headless rig (virtual display with software OpenGL, private sound server). With a peer
# program given, it is measured in the same rig, alternating with Marlune: idle after loading
# a song, then playing it.
#
# Usage: bench/cpu_share.sh [BUILD_DIR] [SECONDS] [ROUNDS]   (defaults: build-bench, 10, 2)
#   PEER=hydrogen  also measure Debian's hydrogen drum machine (not installed by
#                  scripts/install-deps.sh: apt-get install hydrogen), playing
#                  PEER_SONG (default: its GM_kit_demo1 demo song), started with its
#                  play button
#   APP=DIR        measure the bundle DIR (…/Marlune.app) instead of BUILD_DIR's
# Build the default target in BUILD_DIR first. Prints one line per measurement, e.g.
#   marlune menu: whole process 4.0 % of one core, main thread 3.1 % (load 1.20)
# and, for a probe build (-DMARLUNE_AUDIO_PROBES=ON), the frames drawn per screen.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build-bench}" && pwd) || { echo "cpu_share: no build folder" >&2; exit 1; }
seconds=${2:-10}
rounds=${3:-2}

if [ -z "${RIG_DIR:-}" ]; then
  exec bash "$root/scripts/rig.sh" -- bash "$0" "$build" "$seconds" "$rounds"
fi

export MARLUNE_BUNDLE_DIR=${APP:-$build/Marlune.app}/Contents
export MARLUNE_WAVTOOL=$build/tools/rig/marlune_wavtool MARLUNE_PADS=${MARLUNE_PADS:-$build/tools/rig/marlune_pads}
# shellcheck source=../tools/rig/lib.sh
source "$root/tools/rig/lib.sh"
# shellcheck source=hydrogen_lib.sh
source "$root/bench/hydrogen_lib.sh"
e2e_init
ticks=$(getconf CLK_TCK)

# Prints utime + stime, in clock ticks, of a /proc stat file (fields after the command name).
cpu_ticks() { sed 's/^.*) //' "$1" | awk '{ print $12 + $13 }'; }

# measure NAME - samples the process E2E_PID and its main thread over `seconds`.
measure() {
  local main0 all0 main1 all1 load
  main0=$(cpu_ticks "/proc/$E2E_PID/task/$E2E_PID/stat") all0=$(cpu_ticks "/proc/$E2E_PID/stat")
  sleep "$seconds"
  main1=$(cpu_ticks "/proc/$E2E_PID/task/$E2E_PID/stat") all1=$(cpu_ticks "/proc/$E2E_PID/stat")
  load=$(cut -d' ' -f1 /proc/loadavg)
  awk -v n="$1" -v m=$((main1 - main0)) -v a=$((all1 - all0)) -v t="$ticks" -v s="$seconds" -v l="$load" \
    'BEGIN { printf "%s: whole process %.1f %% of one core, main thread %.1f %% (load %s)\n", n, 100 * a / t / s, 100 * m / t / s, l }'
}

press() {  # press X Y SECONDS - hold the left button over program point X Y
  e2e_move "$1" "$2"
  xdotool mousedown 1 && sleep "$3" && xdotool mouseup 1
  sleep 0.1
}

marlune() {
  e2e_start
  e2e_move 250 590  # off every pad, in the menu and in the game
  sleep 3           # past the start-up and the theme's fade-in
  measure "marlune menu"
  e2e_key Return    # "Start"
  sleep 1
  press 100 537 0.15  # the metronome
  press 650 330 0.5   # Kick
  press 650 240 0.5   # Snare
  press 650 150 0.5   # Closed Hat
  press 450 280 0.5   # Lead 1
  e2e_move 250 590
  sleep 1
  measure "marlune game"
  e2e_key Escape
  sleep 0.5
  e2e_key Escape Escape
  e2e_wait_exit 10
  # A probe build (-DMARLUNE_AUDIO_PROBES=ON) reports the frames it drew per screen.
  sed -n 's/^frames drawn: /marlune frames drawn: /p' "$E2E_OUT/stderr.txt"
}

# A window titled by the regular expression $1.
peer_window() { xdotool search --name "$1" 2>/dev/null | head -n 1; }

peer() {
  local song=${PEER_SONG:-/usr/share/hydrogen/data/demo_songs/GM_kit_demo1.h2song}
  # Its settings go to a private home inside the rig's folder.
  mkdir -p "$RIG_DIR/peer-home"
  HOME=$RIG_DIR/peer-home "$PEER" -n -d pulseaudio -s "$song" >"$E2E_OUT/peer.txt" 2>&1 </dev/null &
  E2E_PID=$!
  local i main=""
  for i in $(seq 300); do
    main=$(peer_window '^Hydrogen [0-9]')
    [ -n "$main" ] && break
    sleep 0.1
  done
  [ -n "$main" ] || e2e_fail "no main window of $PEER"
  # Loading the kit and the song; a note may pop up meanwhile.
  hydrogen_dismiss_note
  sleep 2
  # hydrogen runs as a child of a crash-reporting parent: measure the child, which plays.
  local parent=$E2E_PID
  E2E_PID=$(pgrep -P "$parent" | head -n 1)
  [ -n "$E2E_PID" ] || E2E_PID=$parent
  measure "$PEER idle"
  # The transport's play button (the window has no focus without a window manager).
  xdotool mousemove 233 69 click 1
  xdotool mousemove 1010 750  # the pointer rests off its windows
  sleep 1
  e2e_capture_start "$RIG_DIR/peer.wav"
  sleep 1
  e2e_capture_stop
  e2e_log "$PEER's output RMS over a second: $(e2e_wav "$RIG_DIR/peer.wav" rms 0 1)"
  measure "$PEER playing"
  E2E_PID=$parent
  _e2e_kill "$E2E_PID" TERM
  E2E_PID=""
}

for r in $(seq "$rounds"); do
  marlune
  [ -z "${PEER:-}" ] || peer
done
