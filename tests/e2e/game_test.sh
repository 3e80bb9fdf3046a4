#!/usr/bin/env bash
# game_test.sh - the game screen, a performance and its recording, and the ways out of a game,
# in one run of the program from a private copy of the bundle (its recording lands there).
#   1. The performance of lib.sh's e2e_perform, recorded by the record pad. The recording: one
#      file (its name is the unit tests' to check), a complete 2-channel 44100 Hz WAV as long as
#      the performance; in it, judged by sample positions: the metronome alone, clicks 22050
#      frames apart within a 512-frame buffer; the kick, coming back 88200 frames (one loop)
#      later, within a buffer; after it is cleared, silence; "Lead 1" row 0 at the chord root
#      x 0.5 within 5 cents: C (130.81 Hz) on its first two passes, G (196.00 Hz) once "G" was
#      clicked in every chord segment.
#   2. The picture, with a kick added, after the window lost it (unmapped and mapped again):
#      every pad of the preset with its white frame, notes in the Kick strip, the "Kick" label
#      above its pad; the frame check counts a frame redrawn whole for the exposure.
#   3. Escape: the menu with "Start" selected; Return: a new game; closing the window (the
#      WM_DELETE_WINDOW a window manager sends) ends the program with status 0, and the quit
#      sound plays, after a silent second, for at least half a second.
source "$MARLUNE_E2E_LIB"
e2e_init
readonly RATE=44100 BUFFER=512 BEAT=22050 LOOP=88200
run="$E2E_OUT/run"
e2e_bundle "$run"
e2e_start
e2e_wait_screen menu
e2e_perform "$run" "$E2E_OUT/timeline.txt"
e2e_press $(e2e_pad Kick 140 30)
e2e_move 200 400
sleep 0.5
e2e_expose
e2e_wait_screen game 5
shot="$E2E_OUT/game.png"
for name in "${!E2E_PAD[@]}"; do
  read -r x y w h <<<"${E2E_PAD[$name]}"
  n=$(e2e_count "$shot" "$x" "$y" "$w" 1 "$E2E_WHITE")
  [ "$n" -ge $((w / 2)) ] || e2e_fail "no white bottom edge of the pad \"$name\" at ($x, $y): $n of $w pixels"
done
read -r x y w h <<<"${E2E_PAD[Kick]}"
[ "$(e2e_count "$shot" "$x" $((y - 10)) "$w" 5 'g > 120 && b < 80')" -ge 3 ] || e2e_fail "no notes drawn in the Kick strip"
[ "$(e2e_count "$shot" $((x + 60)) $((y + h + 2)) 40 12 "$E2E_WHITE")" -ge 10 ] || e2e_fail "no label above the Kick pad"

# Out of the game and into a new one, then the window closed; a silent stream keeps the sink
# running once the program's stream ends, so the capture holds the whole quit sound.
e2e_key Escape
e2e_wait_screen menu
e2e_key Return
e2e_wait_screen game
e2e_capture_start "$E2E_OUT/quit.wav"
e2e_capture_for 2.5 -1  # the start sound ends
pacat --playback --raw --rate=44100 --channels=2 --format=s16le -d "$RIG_SINK" </dev/zero &
keeper=$!
sleep 0.5
"$MARLUNE_TAPPER" close "$E2E_WID" || e2e_fail "cannot send WM_DELETE_WINDOW"
e2e_wait_exit 10
[ "$E2E_STATUS" = 0 ] || e2e_fail "status $E2E_STATUS after closing the window"
e2e_capture_for 1.5 -1
kill "$keeper"; wait "$keeper" 2>/dev/null
e2e_capture_stop
cap="$E2E_OUT/quit.wav"
# The quit sound: the first sound after a silent second (the start sound may come before).
quit=""
for t in $(e2e_wav "$cap" onsets 0.05 300 | awk '$2 > 1 { print $2 }'); do
  [ "$(e2e_wav "$cap" peak "$(e2e_calc "$t - 1")" "$(e2e_calc "$t - 0.05")")" = 0.000000 ] && { quit=$t; break; }
done
[ -n "$quit" ] || e2e_fail "no quit sound after a silent second in $cap"
e2e_assert_sound "$cap" "$quit" "$(e2e_calc "$quit + 0.5")" 0.02

# The recording.
mapfile -t recordings < <(e2e_recordings "$run")
[ "${#recordings[@]}" = 1 ] || e2e_fail "want one recording in $run, found: ${recordings[*]:-none}"
wav="$run/${recordings[0]}"
e2e_assert_recording "$wav" "$(e2e_at record_off)"
e2e_check "$(e2e_wav_field "$wav" seconds) <= $(e2e_at record_off) + 1.5" "the recording runs on after the record pad's second press"

mapfile -t onsets < <(e2e_wav "$wav" onsets 0.05 40 | awk '{ print $1 }')
# chain I STEP - onset I and the onsets STEP, 2 STEP... frames after it, each within a buffer.
chain() {
  local i=$1 j
  echo "$i"
  for ((j = i + 1; j < ${#onsets[@]}; j++)); do
    d=$((onsets[j] - onsets[i] - $2))
    [ "$d" -gt "$BUFFER" ] && break
    [ "$d" -ge -"$BUFFER" ] && { echo "$j"; i=$j; }
  done
}
first_after() { local i; for ((i = 0; i < ${#onsets[@]}; i++)); do [ "${onsets[i]}" -gt "$1" ] && break; done; echo "$i"; }
mapfile -t clicks < <(chain 0 $BEAT)
# A recording that begins inside a click starts with that click's cut end, off the beat grid.
[ "${#clicks[@]}" -ge 4 ] || mapfile -t clicks < <(chain 1 $BEAT)
[ "${#clicks[@]}" -ge 4 ] || e2e_fail "want 4 metronome clicks $BEAT frames apart, found ${#clicks[@]}: ${onsets[*]:0:6}"
# The kick was a click, sounding at once: as the loop replays it, its step comes up to the late
# window (1378 frames), the latency from a buffer to the ear (three buffers queued, and under
# PipeWire its graph's own period: under 2048 frames at 512-frame buffers under both servers)
# and two buffers sooner than a loop after that first sound.
queued=2048
k0=$(first_after $((onsets[clicks[-1]] + RATE / 10)))
for ((k1 = k0 + 1; k1 < ${#onsets[@]}; k1++)); do
  d=$((onsets[k1] - onsets[k0]))
  [ "$d" -ge $((LOOP - 1378 - queued - 2 * BUFFER)) ] && [ "$d" -le $((LOOP + BUFFER)) ] && break
done
mapfile -t kicks < <(chain "$k1" $LOOP)
[ "$k1" -lt "${#onsets[@]}" ] && [ "${#kicks[@]}" -ge 2 ] || e2e_fail "the kick at ${onsets[k0]:-none} does not come back every loop: ${onsets[*]}"
e2e_log "${#clicks[@]} metronome clicks; the kick at frame ${onsets[k0]}, repeated ${#kicks[@]} times"
p0=${onsets[$(first_after "$(e2e_calc "int(($(e2e_at lead) - 0.05) * $RATE)")")]:?no lead after its press}
e2e_assert_silence "$wav" "$(e2e_calc "${onsets[kicks[-1]]} / $RATE + 0.8")" "$(e2e_calc "$p0 / $RATE - 0.02")" 0.01
for pass in "0 130.8128" "1 130.8128" "$(e2e_at lead_g_pass) 195.9977"; do
  read -r k hz <<<"$pass"
  from=$(e2e_calc "($p0 + $k * $LOOP) / $RATE + 0.3")
  got=$(e2e_wav "$wav" pitch "$from" "$(e2e_calc "$from + 0.45")") || exit 1
  cents=$(e2e_calc "1200 * log($got / $hz) / log(2)")
  e2e_log "lead pass $k: $got Hz, $cents cents from $hz Hz"
  e2e_check "$cents <= 5 && $cents >= -5" "\"Lead 1\" pass $k plays $got Hz, want $hz Hz"
done
e2e_pass
