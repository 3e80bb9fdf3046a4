# shellcheck shell=bash
# performance_lib.sh - the scripted performance of the game screen, shared by the
# end-to-end test (performance_test.sh) and the headless demo (scripts/demo.sh).
# Source it after lib.sh, inside scripts/rig.sh:
#
#   source "$MARLUNE_E2E_LIB"; source "$(dirname "$0")/performance_lib.sh"
#   e2e_init
#   perf_private_bundle "$MARLUNE_BUILD_DIR/Marlune.app" "$E2E_OUT/run"
#   e2e_start_marlune
#   perf_play "$E2E_OUT/timeline.txt"     # leaves the game on screen, recording stopped
#
# Functions:
#   perf_private_bundle APP DIR   copy the bundle APP (…/Marlune.app) into DIR and point
#                                 MARLUNE_BUNDLE_DIR at the copy: the program's recordings
#                                 then land in DIR (three folders above Contents/Resources)
#   perf_recordings DIR           prints the recordings in DIR (YYYY-MM-DD_HH-MM[_N].wav)
#   perf_press X Y [BUTTON] [HOLD_S]  press at program point X Y, hold (default 0.15 s),
#                                 release, wait 0.1 s: the pads read the buttons once per
#                                 audio buffer, so an instant click could fall between two
#                                 (and on a busy machine buffers come late)
#   perf_hold X Y BUTTON SECONDS  press and hold for SECONDS of recorded audio
#   perf_play TIMELINE            the whole performance (below); writes TIMELINE; the
#                                 folder beside the bundle must hold no recording yet
#   perf_start_game / perf_quit   Return on "Start" / Escape to the menu, Escape, Escape
#
# The pads see the pointer on the audio clock, and a note lands on the step playing
# when the press is seen, so where a note falls in the loop is not known from here.
# The performance therefore gives every checked sound its own stretch, separated by
# silence, so that it can be found in the recording itself. On a busy machine the audio
# clock falls behind the wall clock, so the performance keeps time by the recording:
# the seconds of audio in the file being written. TIMELINE records when each action
# began on that clock: lines "NAME SECONDS".
#
#   metronome   0 .. metronome_off          the metronome alone, six beats
#   kick        kick .. kick_clear          one kick note (or two on adjacent steps) alone,
#                                           repeating every loop; then the right button is
#                                           held over the pad for more than a loop, which
#                                           clears every step it passes
#   lead        lead .. lead+1.0            "Lead 1" row 0 held over about eight steps; it
#                                           repeats every 2 s. Row 0 is the chord's root: C
#                                           (the major scale and the created Minor7 entries
#                                           are both on key 60) until chord_first
#   chord       chord_first .. chord_last   root "G" clicked in all four segments: whichever
#                                           entry is current changes at once, the others
#                                           when their loop comes, so from chord_last on
#                                           every loop is built on G; pass lead_g_pass of
#                                           the lead (counted from 0) is the first checked
#                                           on G
#   groove      groove .. record_off        bass line, kick/snare/hat beat, a "Lead 2"
#                                           melody and a progression of four roots
#
# After perf_play the game is still on screen with the notes in place and the
# recording closed; the caller takes its screenshot and then calls perf_quit.

# Pads of the preset (program coordinates: lower-left corner, y up).
readonly PERF_METRONOME_X=100 PERF_METRONOME_Y=537
readonly PERF_RECORD_X=100 PERF_RECORD_Y=447
readonly PERF_KICK_X=625 PERF_KICK_Y=310
readonly PERF_SNARE_X=625 PERF_SNARE_Y=219
readonly PERF_CLOSED_HAT_X=625 PERF_CLOSED_HAT_Y=127
readonly PERF_OPEN_HAT_X=625 PERF_OPEN_HAT_Y=35
readonly PERF_LEAD1_X=425 PERF_LEAD1_Y=250
readonly PERF_BASS1_X=25 PERF_BASS1_Y=50
readonly PERF_LEAD2_X=425 PERF_LEAD2_Y=50
readonly PERF_CHORD_X=400 PERF_CHORD_Y=400
# The lead's note length and how long after its press the first loop's notes sound.
readonly PERF_LEAD_HOLD=1.0

PERF_WAV=""
PERF_TIMELINE=""

perf_private_bundle() {
  local app=$1 dir=$2
  [ -x "$app/Contents/MacOS/marlune" ] || e2e_fail "program not built: $app/Contents/MacOS/marlune"
  mkdir -p -- "$dir" && cp -r -- "$app" "$dir/" || e2e_fail "cannot copy $app to $dir"
  MARLUNE_BUNDLE_DIR="$(cd "$dir" && pwd)/Marlune.app/Contents"
  export MARLUNE_BUNDLE_DIR
}

perf_recordings() {
  find "$1" -maxdepth 1 -type f -name '*.wav' -printf '%f\n' \
    | grep -E '^[0-9]{4}-[0-9]{2}-[0-9]{2}_[0-9]{2}-[0-9]{2}(_[0-9]+)?\.wav$' | sort
}

PERF_AT_XY=""

# Moves the pointer to program point X Y. Moving to where it already is would make
# xdotool wait for a motion that never comes, so that is skipped.
perf_move() {
  [ "$PERF_AT_XY" = "$1 $2" ] && return 0
  e2e_move "$1" "$2"
  PERF_AT_XY="$1 $2"
}

perf_press() {
  local hold=${4:-0.15}
  perf_move "$1" "$2"
  xdotool mousedown "${3:-1}" || e2e_fail "mouse down at $1 $2 failed"
  sleep "$hold"
  e2e_mouse_up "${3:-1}"
  sleep 0.1
}

# Seconds of audio in the recording so far: the program's own audio clock, read from
# the size of the file it is writing (its writer appends every 10 ms or so, so this trails
# a little). Whole milliseconds, rounded down, so a mark never lies past the audio written.
# 0 before the recording exists.
perf_time() {
  local size=0
  [ -n "$PERF_WAV" ] && size=$(stat -c %s -- "$PERF_WAV" 2>/dev/null || echo 0)
  awk -v s="$size" 'BEGIN { d = (s - 44) / 176400; if (d < 0) d = 0; printf "%.3f\n", int(d * 1000) / 1000 }'
}

perf_mark() {
  local t
  t=$(perf_time)
  echo "$1 $t" >>"$PERF_TIMELINE"
  e2e_log "$(printf '%6.2f s  %s' "$t" "$1")"
}

# Waits until the recording holds SECONDS of audio; fails if it stops growing.
perf_until() {
  local now last="" still=0
  while :; do
    now=$(perf_time)
    awk -v n="$now" -v t="$1" 'BEGIN { exit !(n >= t) }' && return 0
    if [ "$now" = "$last" ]; then
      still=$((still + 1))
      [ "$still" -lt 250 ] || e2e_fail "the recording $PERF_WAV stopped growing at $now s"
    else
      still=0
    fi
    last=$now
    sleep 0.02
  done
}

# Holds BUTTON at program point X Y for SECONDS of audio.
perf_hold() {
  local until
  perf_move "$1" "$2"
  xdotool mousedown "$3" || e2e_fail "mouse down at $1 $2 failed"
  until=$(awk -v t="$(perf_time)" -v d="$4" 'BEGIN { print t + d }')
  perf_until "$until"
  e2e_mouse_up "$3"
  sleep 0.1
}

# Value of NAME in the timeline.
perf_at() { awk -v n="$1" '$1 == n { print $2; exit }' "$PERF_TIMELINE"; }

# Point X of a wave loop pad at fraction F of its width (the velocity grows to the right),
# and the centre Y of row R of a pad with ROWS rows of a 120-pixel (or H) high pad.
perf_row_y() { awk -v y="$1" -v h="$2" -v rows="$3" -v r="$4" 'BEGIN { printf "%d\n", y + h * (r + 0.5) / rows }'; }

# Root R (0 = "C" … 11 = "B") or type T of chord segment K.
perf_chord_root_xy() { echo "$((PERF_CHORD_X + 100 * $1 + 12)) $(awk -v r="$2" -v y=$PERF_CHORD_Y 'BEGIN { printf "%d\n", y + 200 * (r + 0.5) / 12 }')"; }
perf_chord_type_xy() { echo "$((PERF_CHORD_X + 100 * $1 + 60)) $(awk -v r="$2" -v y=$PERF_CHORD_Y 'BEGIN { printf "%d\n", y + 200 * (r + 0.5) / 12 }')"; }

# Fraction of the pixels of a program rectangle (lower-left X Y, size W H) of a
# screenshot that satisfy an ImageMagick -fx condition on r, g, b (0 to 1).
perf_fraction() {
  convert "$1" -crop "$4x$5+$2+$((600 - $3 - $5))" +repage -fx "$6" -format '%[fx:mean]' info: \
    || e2e_fail "cannot read $1"
}

# Waits until the menu shows "Start" in yellow (start-up drops the keys that come
# before), presses Return and waits for the game screen: the white top edge of the
# Kick pad. The menu theme fades out over one second before the performance begins.
perf_start_game() {
  local shot="$E2E_OUT/perf-screen.png" i
  for i in $(seq 100); do
    e2e_screenshot "$shot"
    awk -v f="$(perf_fraction "$shot" 100 150 60 22 'r>0.8&&g>0.8&&b<0.3')" 'BEGIN { exit !(f > 0.05) }' && break
    [ "$i" -lt 100 ] || e2e_fail "the menu did not appear"
    sleep 0.1
  done
  e2e_key Return
  for i in $(seq 50); do
    e2e_screenshot "$shot"
    awk -v f="$(perf_fraction "$shot" 625 369 150 3 'r>0.9&&g>0.9&&b>0.9')" 'BEGIN { exit !(f > 0.25) }' && break
    [ "$i" -lt 50 ] || e2e_fail "Return on \"Start\" did not start a game"
    sleep 0.1
  done
  rm -f -- "$shot"
  sleep 1.5
}

perf_quit() {
  e2e_key Escape
  sleep 0.5
  e2e_key Escape
  sleep 0.2
  e2e_key Escape
}

# Holds the left button over "Lead 2" and walks the pointer through ROWS… one step
# (0.125 s) apiece: every step reached gets the row under the pointer.
perf_melody() {
  local row
  perf_move $((PERF_LEAD2_X + 120)) "$(perf_row_y $PERF_LEAD2_Y 120 12 "$1")"
  xdotool mousedown 1 || e2e_fail "mouse down on Lead 2 failed"
  for row in "$@"; do
    perf_move $((PERF_LEAD2_X + 120)) "$(perf_row_y $PERF_LEAD2_Y 120 12 "$row")"
    sleep 0.125
  done
  e2e_mouse_up
  sleep 0.08
}

perf_play() {
  PERF_TIMELINE=$1
  : >"$PERF_TIMELINE" || e2e_fail "cannot write $PERF_TIMELINE"
  perf_start_game

  # Metronome on, then recording on; from here on the recording is the clock.
  perf_press $PERF_METRONOME_X $PERF_METRONOME_Y
  sleep 0.3
  local dir i
  dir=$(dirname -- "$(dirname -- "$MARLUNE_BUNDLE_DIR")")
  [ -z "$(perf_recordings "$dir")" ] || e2e_fail "$dir already holds a recording"
  perf_press $PERF_RECORD_X $PERF_RECORD_Y
  for i in $(seq 100); do
    PERF_WAV=$(perf_recordings "$dir" | head -n 1)
    [ -z "$PERF_WAV" ] || break
    [ "$i" -lt 100 ] || e2e_fail "the record pad started no recording in $dir"
    sleep 0.05
  done
  PERF_WAV="$dir/$PERF_WAV"
  perf_mark record_on

  # The metronome alone for six beats, then off.
  perf_until 3.0
  perf_mark metronome_off
  perf_press $PERF_METRONOME_X $PERF_METRONOME_Y

  # One kick, held across a step boundary so it lands whatever the phase of the step.
  perf_until 4.0
  perf_mark kick
  perf_press $((PERF_KICK_X + 140)) $((PERF_KICK_Y + 30)) 1 0.18
  # Three passes of the loop, then the right button held for more than a loop
  # removes the note from every step it passes.
  perf_until 9.0
  perf_mark kick_clear
  perf_hold $((PERF_KICK_X + 75)) $((PERF_KICK_Y + 30)) 3 2.3

  # "Lead 1", row 0, held over about eight steps: a long steady tone every loop.
  perf_until 12.1
  perf_mark lead
  perf_hold $((PERF_LEAD1_X + 140)) "$(perf_row_y $PERF_LEAD1_Y 120 8 0)" 1 $PERF_LEAD_HOLD
  # After the second pass has sounded, root "G" in every segment.
  local lead k xy
  lead=$(perf_at lead)
  perf_until "$(awk -v l="$lead" 'BEGIN { print l + 3.4 }')"
  perf_mark chord_first
  for k in 0 1 2 3; do
    xy=$(perf_chord_root_xy $k 7)
    # shellcheck disable=SC2086
    perf_press $xy
  done
  perf_mark chord_last
  # The first pass that starts half a second after the last click plays on G (the
  # half second covers the way from a click to the audio thread on a busy machine);
  # let it sound before anything else joins in.
  local pass_g
  pass_g=$(awk -v l="$lead" -v c="$(perf_at chord_last)" \
    'BEGIN { k = 1; while (l + 2 * k - 0.5 <= c) k++; print k }')
  echo "lead_g_pass $pass_g" >>"$PERF_TIMELINE"
  perf_until "$(awk -v l="$lead" -v k="$pass_g" 'BEGIN { print l + 2 * k + 1.3 }')"

  # The groove: bass line, beat, melody and a progression on C, A, F, G.
  perf_mark groove
  perf_press $((PERF_BASS1_X + 130)) "$(perf_row_y $PERF_BASS1_Y 120 8 4)" 1 0.3
  perf_press $((PERF_BASS1_X + 130)) "$(perf_row_y $PERF_BASS1_Y 120 8 2)" 1 0.15
  sleep 0.3
  perf_press $((PERF_BASS1_X + 130)) "$(perf_row_y $PERF_BASS1_Y 120 8 1)" 1 0.2
  perf_press $((PERF_KICK_X + 140)) $((PERF_KICK_Y + 30)) 1 0.15
  sleep 0.35
  perf_press $((PERF_SNARE_X + 120)) $((PERF_SNARE_Y + 30)) 1 0.15
  sleep 0.35
  perf_press $((PERF_KICK_X + 140)) $((PERF_KICK_Y + 30)) 1 0.15
  perf_press $((PERF_CLOSED_HAT_X + 60)) $((PERF_CLOSED_HAT_Y + 30)) 1 0.6
  sleep 0.2
  perf_press $((PERF_SNARE_X + 120)) $((PERF_SNARE_Y + 30)) 1 0.15
  perf_press $((PERF_OPEN_HAT_X + 60)) $((PERF_OPEN_HAT_Y + 30)) 1 0.15
  for k in 0 1 2 3; do
    xy=$(perf_chord_root_xy $k "$(echo 0 9 5 7 | cut -d' ' -f$((k + 1)))")
    # shellcheck disable=SC2086
    perf_press $xy
  done
  xy=$(perf_chord_type_xy 3 9)   # the G becomes a Dominant7
  # shellcheck disable=SC2086
  perf_press $xy
  perf_melody 7 7 8 9 11 9 8 7
  perf_mark melody_done
  perf_until "$(awk -v t="$(perf_time)" 'BEGIN { print t + 4 }')"

  perf_mark record_off
  perf_press $PERF_RECORD_X $PERF_RECORD_Y
  # Off the pads, so that no hover highlight shows on the picture of the game.
  perf_move 200 400
  sleep 0.5
}
