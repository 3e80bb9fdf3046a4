#!/usr/bin/env bash
# demo.sh BUILD_DIR - plays Marlune's scripted performance where no display is at hand.
#
# Runs the program built in BUILD_DIR (BUILD_DIR/Marlune.app) under scripts/rig.sh - a
# virtual display and a private sound server - and plays the performance of the
# end-to-end test (e2e_perform in tools/rig/lib.sh): metronome, a kick, a lead on C and
# then on G, a bass line, a kick/snare/hat beat, a melody and a chord progression,
# about half a minute, all of it recorded by the program's own record pad.
#
# The program runs from a copy of the bundle in a temporary folder. Afterwards BUILD_DIR
# holds the recording, named demo-YYYY-MM-DD_HH-MM.wav after the program's own name for
# it (with _2, _3 ... if that name is taken), and demo-game.png, the game screen at the
# end of the performance; the script prints both paths. Needs the program and the tools
# marlune_pads and marlune_wavtool built in BUILD_DIR, and xdotool, ImageMagick, Xvfb and
# PulseAudio (scripts/install-deps.sh). Exit status 0 when the performance was recorded
# complete, at least MIN_SECONDS long and with sound, and the screenshot was taken; otherwise
# one line saying what went wrong, and status 1.
set -uo pipefail
readonly MIN_SECONDS=20
root=$(cd "$(dirname -- "$0")/.." && pwd)

if [ "${1:-}" = --inside ]; then
  # Inside the rig: $2 the build folder, $3 the scratch folder.
  export MARLUNE_BUNDLE_DIR="$2/Marlune.app/Contents" MARLUNE_PADS="$2/tools/rig/marlune_pads" \
    MARLUNE_WAVTOOL="$2/tools/rig/marlune_wavtool" MARLUNE_E2E_OUT="$3/out"
  source "$root/tools/rig/lib.sh"
  e2e_init
  e2e_bundle "$3/run"
  e2e_start
  e2e_wait_screen menu
  # After the checked part of the performance, the groove: bass line, beat, a "Lead 2" melody
  # and a progression on C, A, F, G.
  groove() {
    local i k=0
    e2e_press $(e2e_pad_row "Bass 1" 130 4 8) 1 0.3
    e2e_press $(e2e_pad_row "Bass 1" 130 2 8) 1 0.15
    sleep 0.3
    e2e_press $(e2e_pad_row "Bass 1" 130 1 8) 1 0.2
    e2e_press $(e2e_pad Kick 140 30)
    sleep 0.35
    e2e_press $(e2e_pad Snare 120 30)
    sleep 0.35
    e2e_press $(e2e_pad Kick 140 30)
    e2e_press $(e2e_pad "Closed Hat" 60 30) 1 0.6
    sleep 0.2
    e2e_press $(e2e_pad Snare 120 30)
    e2e_press $(e2e_pad "Open Hat" 60 30)
    k=0
    for i in 0 9 5 7; do e2e_press $(e2e_pad_row Chord $((100 * k + 12)) "$i" 12); k=$((k + 1)); done
    e2e_press $(e2e_pad_row Chord 360 9 12)  # the G becomes a Dominant7
    # "Lead 2" melody: the button held while the pointer walks the rows, a step (0.125 s) each.
    e2e_press $(e2e_pad_row "Lead 2" 120 7 12) 1 0
    for i in 7 7 8 9 11 9 8 7; do e2e_move $(e2e_pad_row "Lead 2" 120 "$i" 12); sleep 0.125; done
    e2e_release
  }
  e2e_perform "$3/run" "$E2E_OUT/timeline.txt" groove
  e2e_screenshot "$3/demo-game.png"
  e2e_quit 3
  e2e_assert_recording "$E2E_WAV" "$MIN_SECONDS"
  exit 0
fi

if [ $# != 1 ] || [ ! -d "$1" ]; then
  echo "usage: scripts/demo.sh BUILD_DIR   (the folder holding Marlune.app)" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
for tool in Marlune.app/Contents/MacOS/marlune tools/rig/marlune_pads tools/rig/marlune_wavtool; do
  [ -x "$build/$tool" ] || { echo "demo: FAILED: $build/$tool is not built" >&2; exit 1; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/marlune-demo.XXXXXX") || exit 1
trap 'rm -rf -- "$work"' EXIT

echo "Playing the scripted performance (about 35 s)..."
bash "$root/scripts/rig.sh" -- bash "$root/scripts/demo.sh" --inside "$build" "$work" 2>"$work/log.txt"
status=$?
recording=$(find "$work/run" -maxdepth 1 -type f -name '*.wav' 2>/dev/null | sort | head -n 1)
if [ "$status" != 0 ] || [ -z "$recording" ] || [ ! -s "$work/demo-game.png" ]; then
  # What went wrong is the performance's "FAIL: ..." line; the rest of its log follows it.
  why=$(grep -m1 '^FAIL: \|^rig: ' "$work/log.txt" | sed 's/^FAIL: //')
  echo "demo: FAILED: ${why:-the performance ended with status $status}" >&2
  grep -v '^e2e: \|^FAIL: ' "$work/log.txt" | tail -n 20 >&2
  exit 1
fi
base="demo-$(basename -- "$recording" .wav)"
target="$build/$base.wav"
n=2
while [ -e "$target" ]; do target="$build/${base}_$n.wav"; n=$((n + 1)); done
mv -- "$recording" "$target" && mv -- "$work/demo-game.png" "$build/demo-game.png" || exit 1
echo "Recording:  $target"
echo "Screenshot: $build/demo-game.png"
