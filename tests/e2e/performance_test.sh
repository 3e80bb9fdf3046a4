#!/usr/bin/env bash
# performance_test.sh - plays the scripted performance of performance_lib.sh on the real
# program and judges the program's own recording of it.
#
# Runs inside scripts/rig.sh (registered with marlune_e2e_test). The program runs from a
# private copy of the bundle in the artefact folder, so its recording lands there and never
# in the build folder. Checks:
#   - exactly one recording, named YYYY-MM-DD_HH-MM.wav after the minute of the record
#     press; 2 channels, 16-bit PCM, 44100 Hz, header sizes agreeing with the data, and
#     as long as the performance;
#   - the metronome alone: clicks 22050 frames apart, within one 512-frame buffer;
#   - the kick alone: every hit comes back 88200 frames (one loop) later, within a buffer;
#   - "Lead 1" row 0 sounds at the chord root x 0.5 within 5 cents: C (130.81 Hz) on the
#     first two passes, G (196.00 Hz) on the first pass after "G" was clicked in every
#     segment of the chord pad;
#   - a screenshot of the game before Escape: pad frames, labels, notes in the Kick strip.
# Sample positions come from the recording; the wall-clock timeline of the performance
# only picks the windows to look at. Artefacts: recording, game.png, timeline.txt.
set -uo pipefail
here=$(cd "$(dirname -- "$0")" && pwd)
source "${MARLUNE_E2E_LIB:-$here/lib.sh}"
source "$here/performance_lib.sh"

readonly RATE=44100 BUFFER=512
readonly BEAT_FRAMES=22050 LOOP_FRAMES=88200
readonly C_HZ=130.8128 G_HZ=195.9977   # KeyToFrequency(60) and (67), times 0.5

e2e_init
[ -n "${MARLUNE_BUNDLE_DIR:-}" ] || e2e_fail "MARLUNE_BUNDLE_DIR is not set (register the test with marlune_e2e_test)"
run="$E2E_OUT/run"
perf_private_bundle "$(dirname -- "$MARLUNE_BUNDLE_DIR")" "$run"

stamp_before=$(date +%Y-%m-%d_%H-%M)
e2e_start_marlune
timeline="$E2E_OUT/timeline.txt"
perf_play "$timeline"
stamp_after=$(date +%Y-%m-%d_%H-%M)

shot="$E2E_OUT/game.png"
e2e_screenshot "$shot"
perf_quit
e2e_wait_exit 15
[ "$E2E_STATUS" = 0 ] || e2e_fail "marlune exited with status $E2E_STATUS"

# --- The recording file.
mapfile -t recordings < <(perf_recordings "$run")
[ "${#recordings[@]}" = 1 ] || e2e_fail "want one recording in $run, found: ${recordings[*]:-none} ($(ls "$run"))"
name=${recordings[0]}
stamp=${name%.wav}
# The stamps sort as they follow each other in time.
[[ ! "$stamp" < "$stamp_before" && ! "$stamp" > "$stamp_after" ]] || \
  e2e_fail "recording $name is not named after the minute of the performance ($stamp_before .. $stamp_after)"
wav="$run/$name"
info=$("$E2E_WAVTOOL" info "$wav") || e2e_fail "recording $name is not a well-formed WAV"
field() { awk -v k="$1" '$1 == k { print $2 }' <<<"$info"; }
[ "$(field channels)" = 2 ] || e2e_fail "$name has $(field channels) channels, want 2"
[ "$(field rate)" = $RATE ] || e2e_fail "$name has rate $(field rate), want $RATE"
[ "$(field bits)" = 16 ] && [ "$(field format)" = pcm ] || e2e_fail "$name is $(field bits)-bit $(field format), want 16-bit pcm"
seconds=$(field seconds)
record_off=$(perf_at record_off)
e2e_check "$seconds >= $record_off && $seconds <= $record_off + 1.5" \
  "$name lasts $seconds s, the record pad was pressed again after $record_off s of it"
e2e_log "recording $name: $seconds s, 2 ch, 16 bit, $RATE Hz (record pad pressed again after $record_off s)"

# Every section is found in the recording itself, from its onsets (frames).
mapfile -t onsets < <(e2e_wav_onsets "$wav" 0.05 40 | awk '{ print $1 }')
[ "${#onsets[@]}" -ge 8 ] || e2e_fail "too few onsets in $name: ${onsets[*]:-none}"
near() { [ $(($1 - $2)) -le "$3" ] && [ $(($2 - $1)) -le "$3" ]; }
# first_after FRAME - index of the first onset after FRAME (the count if none).
first_after() {
  local i
  for ((i = 0; i < ${#onsets[@]}; i++)); do [ "${onsets[i]}" -gt "$1" ] && break; done
  echo "$i"
}
# chain I STEP - indexes of onset I and the onsets STEP, 2 STEP ... frames after it, each
# within a buffer of the previous one plus STEP, up to the first that is missing.
chain() {
  local i=$1 j found
  echo "$i"
  while :; do
    found=""
    for ((j = i + 1; j < ${#onsets[@]}; j++)); do
      if near $((onsets[j] - onsets[i])) "$2" $BUFFER; then found=$j; break; fi
    done
    [ -n "$found" ] || break
    echo "$found"
    i=$found
  done
}
frames_of() { local a; for a in "$@"; do echo -n " ${onsets[a]}"; done; }
spacings_of() { local a prev=""; for a in "$@"; do [ -z "$prev" ] || echo -n " $((onsets[a] - onsets[prev]))"; prev=$a; done; }

# --- The metronome alone: from the first onset on, one click every beat.
mapfile -t clicks < <(chain 0 $BEAT_FRAMES)
[ "${#clicks[@]}" -ge 4 ] || e2e_fail "want at least 4 metronome clicks $BEAT_FRAMES ±$BUFFER frames apart from the start, found ${#clicks[@]} (onsets:$(frames_of 0 1 2 3 4 5))"
e2e_log "metronome: ${#clicks[@]} clicks at$(frames_of "${clicks[@]}"), spacings:$(spacings_of "${clicks[@]}")"
last_click=${onsets[${clicks[-1]}]}

# --- The kick alone: the next onset, and the same hit again every loop. The first hit
# was a click, which counts for the step the player heard and sounds at once: up to the late
# window (StepsToSamples(0.25) + one buffer) after that step began as heard, and then the
# output latency (three buffers) and up to a buffer more before it is heard itself, so up to
# 1378 + 5 buffers = 3938 frames after its step; the loop's repeats start in their step's
# first buffer.
k0=$(first_after $((last_click + RATE / 10)))
[ "$k0" -lt "${#onsets[@]}" ] || e2e_fail "no kick after the metronome"
k1=""
for ((i = k0 + 1; i < ${#onsets[@]}; i++)); do
  d=$((onsets[i] - onsets[k0]))
  if [ "$d" -ge $((LOOP_FRAMES - 1378 - 6 * BUFFER)) ] && [ "$d" -le $((LOOP_FRAMES + BUFFER)) ]; then k1=$i; break; fi
done
[ -n "$k1" ] || e2e_fail "the kick at frame ${onsets[k0]} does not come back a loop later (onsets: ${onsets[*]})"
mapfile -t kicks < <(chain "$k1" $LOOP_FRAMES)
[ "${#kicks[@]}" -ge 2 ] || e2e_fail "the kick at frame ${onsets[k1]} does not come back $LOOP_FRAMES ±$BUFFER frames later (onsets: ${onsets[*]})"
e2e_log "kick: clicked at frame ${onsets[k0]}, repeats at$(frames_of "${kicks[@]}"), spacings:$(spacings_of "${kicks[@]}")"
last_kick=${onsets[${kicks[-1]}]}

# --- "Lead 1": the first onset after its press; before it, the cleared kick is silent.
lead=$(perf_at lead)
p0i=$(first_after "$(awk -v t="$lead" -v r=$RATE 'BEGIN { printf "%d\n", (t - 0.05) * r }')")
[ "$p0i" -lt "${#onsets[@]}" ] || e2e_fail "no lead after its press at $lead s"
p0=${onsets[p0i]}
e2e_assert_silence "$wav" "$(awk -v f="$last_kick" -v r=$RATE 'BEGIN { print f / r + 0.8 }')" \
  "$(awk -v f="$p0" -v r=$RATE 'BEGIN { print f / r - 0.02 }')" 0.01
pass_g=$(perf_at lead_g_pass)
e2e_log "lead: first note at frame $p0"
# pitch_of PASS HZ WHAT - the steady part of pass PASS of the lead (it comes back every
# loop, within a buffer), 0.3 to 0.75 s into it.
pitch_of() {
  local from to got cents
  from=$(awk -v f="$p0" -v k="$1" -v r=$RATE -v l=$LOOP_FRAMES 'BEGIN { printf "%.4f\n", (f + k * l) / r + 0.3 }')
  to=$(awk -v f="$from" 'BEGIN { print f + 0.45 }')
  got=$(e2e_wav_pitch "$wav" "$from" "$to") || exit 1
  cents=$(e2e_cents "$got" "$2")
  e2e_log "lead pass $1 ($3): $got Hz from $from to $to s, $cents cents from $2 Hz"
  e2e_check "$cents <= 5 && $cents >= -5" "\"Lead 1\" pass $1 ($3) plays $got Hz, want $2 Hz ±5 cents"
}
pitch_of 0 $C_HZ "on C"
pitch_of 1 $C_HZ "on C"
pitch_of "$pass_g" $G_HZ "after \"G\""

# --- The game screen after the performance.
# Pad frames: one white pixel row along the bottom edge of a pad, black just inside.
for pad in "100 500" "100 410" "500 250" "100 50" "700 310" "700 35" "600 400"; do
  read -r px py <<<"$pad"
  e2e_assert_pixel "$shot" "$px" "$py" 255 255 255 40
done
# A label: "Kick" above its pad, white text on the dark backdrop beside it.
label=$(e2e_region_mean "$shot" 685 372 30 10)
beside=$(e2e_region_mean "$shot" 640 372 30 10)
e2e_check "$(awk '{ print $1 }' <<<"$label") > $(awk '{ print $1 }' <<<"$beside") + 12" \
  "no label above the Kick pad (mean $label, beside it $beside)"
# Notes in the Kick strip (625, 295, 150 x 15): yellow dashes (green under the play-head)
# on the strip's centre line, one per step that holds a hit.
dashes=0
for step in $(seq 0 15); do
  x=$(awk -v s="$step" 'BEGIN { printf "%d\n", 625 + s * 150 / 16 + 150 / 32 }')
  read -r r g b <<<"$(e2e_pixel "$shot" "$x" 302)"
  if [ "$g" -gt 120 ] && [ "$b" -lt 80 ]; then dashes=$((dashes + 1)); fi
done
[ "$dashes" -ge 1 ] || e2e_fail "no note dashes in the Kick strip of $shot"
e2e_log "screenshot: $dashes kick steps drawn"

e2e_pass
