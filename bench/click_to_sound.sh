#!/usr/bin/env bash
# click_to_sound.sh - from a click to its sound, as a player hears it, per sound server and
# buffer size: the real program in the headless rig, its metronome on, and presses on "Kick"
# made 3 to 15 ms after a step began as heard; each is timed from the press to the kick's first
# onset in a capture of what the server plays. Beside it, the same player clicks a reference
# client of ours (bench/click_reference.cpp: the same kick, about 10 ms of buffering, through
# the same server) and, under PulseAudio, Debian's hydrogen drum machine.
#
# Usage: bench/click_to_sound.sh [BUILD_DIR] [OUT]   (defaults: build, BUILD_DIR/click_to_sound.txt)
#   SERVERS="pulseaudio pipewire jack"   the rig's PulseAudio, its PipeWire stack (clients
#        speak the PulseAudio protocol to pipewire-pulse), and JACK: Debian's jackd1 with the
#        dummy driver at 44.1 kHz, a period of the buffer size, a server name of its own
#   SIZES="64 128 256 512 1024 2048"     the menu's buffer sizes
#   CLIENTS="marlune reference hydrogen" hydrogen runs only under pulseaudio, at HYDROGEN_SIZES
#        (default 512; not installed by scripts/install-deps.sh: apt-get install hydrogen; the
#        project does not depend on it); it is skipped when it is not installed
#   ROUNDS=4     rounds of two clicks: 8 clicks per server, client and size
#   SETTLE=8     seconds of play after the stream opens before the first click (the rig's null
#                sink reports a latency that decays over some seconds after a stream opens)
#   APP=DIR      measure the bundle DIR (…/Marlune.app) instead of BUILD_DIR's
# Build marlune, marlune_tapper, marlune_pads, marlune_jackprobe, marlune_wavtool and
# marlune_click_reference in BUILD_DIR first. Prints the table (server, client, size, median
# and max in ms, clicks heard of clicks made) and writes it to OUT; the logs of each server's
# run, every click's figure among them, and the captures go to BUILD_DIR/click-to-sound/SERVER/.
#
# How a click is timed (marlune_tapper clicks, tools/rig/tapper.cpp):
#  - The capture (parec on the null sink's monitor; under JACK marlune_jackprobe record, what
#    reaches the playback ports) grows as the server plays. The tool stamps it on the monotonic
#    clock as it arrives: frame 0 was heard at the smallest (now - frames / rate) over its polls.
#  - The beat grid comes from the metronome's clicks in the capture, as the tapper finds it for
#    the taps test; while clicking it follows only onsets from 100 ms before to 120 ms after a
#    beat, so the kicks, 128 ms or more after one, never move it, and moves by more than a
#    buffer of the size under test (the audio slipped). A press goes out 125 ms after a beat (the step after it: the metronome
#    clicks on beats only, and its 50 ms click is over), 3, 7, 11 or 15 ms into that step, held
#    100 ms; two presses a round, two beats apart (the kick lasts half a second), then the right
#    button held 2.3 s clears the pattern so no note replays into the next round.
#  - The kick's onset: the first frame at 0.05 of full scale after 30 ms below it, from the
#    press on, up to a quarter beat later, before the next beat's click: the kick is then the
#    only attack there can be. A press whose kick is not heard in that window counts as missed.
#  - Under JACK the dummy driver keeps time by sleeping and can fall behind the clock on a busy
#    machine at short periods; the capture's log (parec.txt) then says "N s of sound in M s".
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd) || { echo "click_to_sound: no build folder" >&2; exit 1; }
out=${2:-$build/click_to_sound.txt}
SERVERS=${SERVERS:-pulseaudio pipewire jack}
SIZES=${SIZES:-64 128 256 512 1024 2048}
CLIENTS=${CLIENTS:-marlune reference hydrogen}
HYDROGEN_SIZES=${HYDROGEN_SIZES:-512}
ROUNDS=${ROUNDS:-4}
SETTLE=${SETTLE:-8}
export SIZES CLIENTS HYDROGEN_SIZES ROUNDS SETTLE

# ---- Outside the rig: one rig per server, then the table ----
if [ -z "${CLICK_SERVER:-}" ]; then
  rows="$out.rows"
  : >"$rows"
  for server in $SERVERS; do
    case $server in pulseaudio|pipewire) rig=$server ;; jack) rig=pulseaudio ;;
      *) echo "click_to_sound: unknown server $server" >&2; exit 1 ;; esac
    CLICK_SERVER=$server bash "$root/scripts/rig.sh" --server "$rig" -- bash "$0" "$build" "$rows" ||
      echo "click_to_sound: the run under $server failed (see $build/click-to-sound/$server/)" >&2
  done
  {
    echo "# click to sound, $(date '+%F %H:%M'), load $(cut -d' ' -f1-3 /proc/loadavg), $(git -C "$root" rev-parse --short HEAD 2>/dev/null)"
    printf '%-10s  %-9s  %6s  %10s  %8s  %s\n' server client size "median ms" "max ms" n
    awk '{ printf "%-10s  %-9s  %6s  %10s  %8s  %s\n", $1, $2, $3, $4, $5, $6 }' "$rows"
  } >"$out"
  cat "$out"
  exit 0
fi

# ---- Inside the rig: every client and size under one server ----
rows=$2
export MARLUNE_BUNDLE_DIR=${APP:-$build/Marlune.app}/Contents
export MARLUNE_WAVTOOL=$build/tools/rig/marlune_wavtool MARLUNE_PADS=$build/tools/rig/marlune_pads
export MARLUNE_TAPPER=$build/tools/rig/marlune_tapper MARLUNE_JACKPROBE=$build/tools/rig/marlune_jackprobe
export MARLUNE_E2E_OUT=$build/click-to-sound/$CLICK_SERVER
reference=$build/bench/marlune_click_reference
# shellcheck source=../tools/rig/lib.sh
source "$root/tools/rig/lib.sh"
e2e_init
sounds=$MARLUNE_BUNDLE_DIR/Resources/MarluneContent/sfx
[ -x "$reference" ] || e2e_fail "build marlune_click_reference first"
[ "$CLICK_SERVER" = jack ] && export JACK_DEFAULT_SERVER=marlune_click

# The display and the capture carry the measurement for every client alike: real-time, so the
# shared machine's other work does not delay a press or a chunk of the capture (root only).
boost_rig() {
  local pid
  for pid in $(pgrep -x Xvfb) $E2E_CAPTURE_PID; do
    [ "$pid" = "$E2E_CAPTURE_PID" ] || grep -qz -- "$DISPLAY" "/proc/$pid/cmdline" 2>/dev/null || continue
    chrt -f -a -p 20 "$pid" >/dev/null 2>&1
  done
}

# clicks CLIENT SIZE [noclear] - captures while the tapper clicks where the pointer rests (and
# clears the pattern between rounds unless told not to); one row.
clicks() {
  local result line frames=$2
  [[ $frames =~ ^[0-9]+$ ]] || frames=441  # the reference client's 10 ms
  e2e_capture_start "$E2E_OUT/$1-$2.wav"
  boost_rig
  result=$("$MARLUNE_TAPPER" clicks "$E2E_CAPTURE" "$ROUNDS" 100 "${3:-clear}" "$frames" 2>&1) || e2e_fail "$1 at $2: the tapper failed: $result"
  e2e_capture_stop
  echo "$result" >"$E2E_OUT/$1-$2.txt"
  line=$(grep '^clicks ' <<<"$result")
  e2e_log "$CLICK_SERVER $1 $2: $line ($(grep -c '^click ' <<<"$result") presses)"
  awk -v s="$CLICK_SERVER" -v c="$1" -v z="$2" '
    $1 == "clicks" { n = $2; med = $4; max = $6; miss = $8 }
    END { printf "%s %s %s %s %s %d/%d\n", s, c, z, n ? med : "-", n ? max : "-", n, n + miss }' <<<"$result" >>"$rows"
}

# The JACK server runs with a period of the buffer size; a new one for each size.
jack_for() { [ "$CLICK_SERVER" = jack ] || return 0; e2e_jack_stop; e2e_jack_start "$1"; }

# Buffer Size in the menu: 512, then each Return the next of 1024, 2048, 64, 128, 256.
returns_for() { case $1 in 512) echo 0 ;; 1024) echo 1 ;; 2048) echo 2 ;; 64) echo 3 ;; 128) echo 4 ;; 256) echo 5 ;; *) e2e_fail "no buffer size $1 in the menu" ;; esac; }

marlune() {
  local size=$1 n
  jack_for "$size"
  e2e_start
  e2e_wait_screen menu
  n=$(returns_for "$size")
  if [ "$n" -gt 0 ]; then
    xdotool key --delay 500 Down $(printf 'Return %.0s' $(seq "$n")) Up || e2e_fail "keys failed"
    e2e_wait_screen menu
    # The rig's null sink renders in 2 s blocks while no stream asks for less, and a stream
    # that starts meanwhile waits for the block to end: the old stream's close and the new
    # one's start each take up to 2 s. A press made before the new stream plays belongs to no
    # moment the player heard, and the program drops it (the metronome would stay off).
    sleep 4.5
  fi
  e2e_key Return
  e2e_wait_screen game
  e2e_press $(e2e_pad Metronome)
  e2e_move $(e2e_pad Kick 140 30)
  sleep "$SETTLE"
  clicks marlune "$size"
  e2e_quit 3
}

reference() {
  local size=$1 wid=""
  jack_for "$size"
  local api=pulse; [ "$CLICK_SERVER" = jack ] && api=jack
  "$reference" "$api" "$sounds" >"$E2E_OUT/reference.txt" 2>&1 &
  E2E_PID=$!
  for _ in $(seq 100); do wid=$(xdotool search --onlyvisible --name '^Marlune click reference$' 2>/dev/null | head -n 1); [ -n "$wid" ] && break; sleep 0.1; done
  [ -n "$wid" ] || e2e_fail "no window of the reference client"
  xdotool mousemove --sync 100 100
  sleep "$SETTLE"
  clicks reference "$size" noclear
  _e2e_kill "$E2E_PID" TERM
  E2E_PID=""
}

for client in $CLIENTS; do
  case $client in
    marlune) for size in $SIZES; do marlune "$size"; done ;;
    # Its buffering is its own (10 ms) but for JACK's period.
    reference) if [ "$CLICK_SERVER" = jack ]; then for size in $SIZES; do reference "$size"; done; else reference 10ms; fi ;;
    hydrogen) [ "$CLICK_SERVER" = pulseaudio ] || continue
      command -v hydrogen >/dev/null || { e2e_log "hydrogen is not installed: skipped"; continue; }
      # shellcheck source=click_to_sound_hydrogen.sh
      source "$root/bench/click_to_sound_hydrogen.sh"
      for size in $HYDROGEN_SIZES; do hydrogen_clicks "$size"; done ;;
  esac
done
e2e_jack_stop
e2e_pass
