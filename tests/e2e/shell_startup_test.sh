#!/usr/bin/env bash
# shell_startup_test.sh - start-up reaches the menu, the loaded chime and the theme fade-in,
# and Escape, Escape quits with status 0 after the one-second quit pause.
#
# Checks: window title; a menu screenshot with "Start" yellow, "Buffer Size: 512" and "Quit"
# grey and the version label white in the bottom-left corner (kept as menu.png); in the
# captured audio the chime starts the sound, the theme's low band (below 200 Hz, where the
# chime has nothing) is faint while the chime rings and at full level two seconds later;
# the process stays alive about a second after the second Escape and exits with 0.
set -uo pipefail
# shellcheck source=lib.sh
source "$MARLUNE_E2E_LIB"
e2e_init

e2e_capture_start "$E2E_OUT/capture.wav"
started=$(date +%s.%N)
e2e_start_marlune
title=$(xdotool getwindowname "$E2E_WID")
[ "$title" = "Marlune v1.03" ] || e2e_fail "window title is \"$title\""

# The menu is up once "Start" shows yellow pixels.
menu="$E2E_OUT/menu.png"
for i in $(seq 40); do
  e2e_screenshot "$menu"
  [ "$(e2e_count_pixels "$menu" 100 150 60 20 "$E2E_YELLOW")" -ge 20 ] && break
  _e2e_alive "$E2E_PID" || e2e_fail "the program ended before showing the menu"
  [ "$i" = 40 ] && e2e_fail "no yellow \"Start\" at (100, 150) within 40 screenshots"
  sleep 0.2
done
e2e_log "menu seen $(awk -v a="$started" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }') s after launch (screenshot resolution)"

n=$(e2e_count_pixels "$menu" 100 150 60 20 "$E2E_YELLOW"); e2e_log "Start: $n yellow pixels"
n=$(e2e_count_pixels "$menu" 100 120 200 20 "$E2E_GREY")
[ "$n" -ge 40 ] || e2e_fail "\"Buffer Size: 512\" at (100, 120) is not grey ($n grey pixels)"
n=$(e2e_count_pixels "$menu" 100 120 200 20 "$E2E_YELLOW")
[ "$n" -le 2 ] || e2e_fail "\"Buffer Size\" has $n yellow pixels: selected?"
n=$(e2e_count_pixels "$menu" 100 90 60 20 "$E2E_GREY")
[ "$n" -ge 15 ] || e2e_fail "\"Quit\" at (100, 90) is not grey ($n grey pixels)"
n=$(e2e_count_pixels "$menu" 0 0 100 12 "$E2E_WHITE")
[ "$n" -ge 15 ] || e2e_fail "no white version label in the bottom-left corner ($n white pixels)"

# Let the fade and a stretch at full level reach the sink, then quit.
sleep 3.5
e2e_key Escape
sleep 0.3
_e2e_alive "$E2E_PID" || e2e_fail "the first Escape (on \"Start\") ended the program"
e2e_key Escape
pressed=$(date +%s.%N)
e2e_wait_exit 10
pause=$(awk -v a="$pressed" -v b="$(date +%s.%N)" 'BEGIN { printf "%.3f", b - a }')
e2e_log "ended $pause s after the second Escape"
[ "$E2E_STATUS" = 0 ] || e2e_fail "exit status $E2E_STATUS after Escape, Escape"
e2e_check "$pause >= 0.9" "the program ended $pause s after Escape, Escape: no one-second quit pause"
e2e_capture_stop

# Audio. The chime is the first sound; the capture starts with the stream.
cap="$E2E_OUT/capture.wav"
t0=$(e2e_wav_first_sound "$cap" 0.05)
e2e_log "first sound (loaded chime) at $t0 s"
e2e_check "$t0 < 1.0" "the first sound comes $t0 s into the stream"
e2e_assert_silence "$cap" 0 "$(awk -v t="$t0" 'BEGIN { print (t > 0.012 ? t - 0.01 : 0.001) }')" 0.01
sox -V1 "$cap" "$E2E_OUT/high.wav" highpass 1000 highpass 1000 || e2e_fail "sox highpass failed"
sox -V1 "$cap" "$E2E_OUT/low.wav" sinc -200 || e2e_fail "sox lowpass failed"
at() { awk -v t="$t0" -v d="$1" 'BEGIN { print t + d }'; }
chime=$(e2e_wav_rms "$E2E_OUT/high.wav" "$t0" "$(at 0.3)")
e2e_log "chime band (>1 kHz) RMS over its first 0.3 s: $chime"
e2e_check "$chime >= 0.03" "no chime at $t0 s (RMS above 1 kHz $chime)"
early=$(e2e_wav_rms "$E2E_OUT/low.wav" "$t0" "$(at 0.2)")
late=$(e2e_wav_rms "$E2E_OUT/low.wav" "$(at 1.5)" "$(at 3.5)")
e2e_log "theme low band RMS: first 0.2 s $early, 1.5-3.5 s $late"
"$E2E_WAVTOOL" envelope "$E2E_OUT/low.wav" 100 | awk 'NR <= 30 { printf "%s:%s ", $1, $2 } END { print "" }' >&2
e2e_check "$late >= 0.01" "the theme is not playing 1.5 s after start-up (low band RMS $late)"
e2e_check "$early <= 0.5 * $late" "the theme starts loud: low band $early in the first 0.2 s vs $late later"
e2e_pass
