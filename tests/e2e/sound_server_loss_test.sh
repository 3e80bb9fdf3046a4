#!/usr/bin/env bash
# sound_server_loss_test.sh - the sound server goes away while the player records, and comes
# back; nothing is lost and the program comes back with it.
#   1. In the game, a held note on "Kick" fills the whole loop (a tone in every step), and a
#      recording runs. 3 s into the recording the rig's sound server is killed (SIGKILL).
#   2. While no server runs (5 s): the program lives and does not spin: its threads other than
#      drawing use < 10 % of a core (drawing in software under the rig costs far more than 10 %
#      on its own, with sound or without; the figures are logged). Its recording is already
#      complete: a well-formed WAV as long as the sound the server played from the record
#      press to its end (± 0.5 s), as a capture of the sink's monitor holds it: a machine too
#      busy to keep the stream fed plays, and records, less than the wall time.
#   3. A new server on the same socket: within 3 s the program says "Audio: sound resumed"
#      and the loop is heard on the new server, with the tone in every step (patterns intact).
#   4. The server is killed again: during this outage Escape leaves the game and Escape, Escape
#      in the menu quits; status 0.
#   Over the whole run the program writes at most 10 lines to standard error, one per loss
#   and one per resumption among them.
# The servers are started from the rig's own server's command line and environment
# (e2e_server_start); every server the script started is ended however it exits.
source "$MARLUNE_E2E_LIB"
e2e_init
now() { date +%s.%N; }
since() { e2e_calc "$(now) - $1"; }

# cpu_ticks - "ALL DRAWING" CPU ticks of the program: all its threads, and those that draw (the
# main thread and the software renderer's llvmpipe threads), which a frame-check or sanitizer
# build slows several-fold.
ticks() { sed 's/.*) //' "$1" | awk '{ print $12 + $13 }'; }
cpu_ticks() {
  local t d=0
  for t in /proc/"$E2E_PID"/task/*; do
    [ "${t##*/}" = "$E2E_PID" ] || grep -q '^llvmpipe-' "$t/comm" && d=$((d + $(ticks "$t/stat")))
  done
  echo "$(ticks "/proc/$E2E_PID/stat") $d"
}
e2e_bundle "$RIG_DIR/loss"
e2e_start
e2e_wait_screen menu
e2e_key Return
e2e_wait_screen game
e2e_press $(e2e_pad Kick 10 30) 1 2.4  # held across a loop: a note in every step
# What the server plays from the take's start on is what the recording must hold. The capture
# runs until the server dies. Where it stood when the take started lies between where it stood
# just before the press and where it stands once the take's file exists (the writer creates it
# after the take started): however long the press takes to reach the program on a busy
# machine, the take started in between.
e2e_capture_start "$E2E_OUT/played.wav"
e2e_capture_for 0.5
read -r _ _ _ from _ <<<"$("$MARLUNE_WAVTOOL" raw "$E2E_OUT/played.wav")"
e2e_record "$RIG_DIR/loss"
read -r _ _ _ started _ <<<"$("$MARLUNE_WAVTOOL" raw "$E2E_OUT/played.wav")"
sleep 3
e2e_mark
ticks0=$(cpu_ticks)
e2e_server_kill
t_lost=$(now)
e2e_wait_stderr '^Audio: lost the sound device \(.*\), retrying$' 3
e2e_capture_stop
read -r _ _ _ to _ <<<"$("$MARLUNE_WAVTOOL" raw "$E2E_OUT/played.wav")"
recording_s=$(e2e_wav_field "$E2E_WAV" seconds) || exit 1
most_s=$(e2e_calc "$to - $from") least_s=$(e2e_calc "$to - $started")
e2e_log "the recording holds $recording_s s, the server played $least_s to $most_s s from the take's start"
e2e_check "$recording_s - $most_s <= 0.5 && $least_s - $recording_s <= 0.5" \
  "the recording lasts $recording_s s but the server played $least_s to $most_s s from the take's start"
sleep "$(e2e_calc "5 - $(since "$t_lost")")"
_e2e_alive "$E2E_PID" || e2e_fail "the program ended while no sound server ran"
read -r all drawing <<<"$(paste -d' ' <(echo "$ticks0") <(cpu_ticks) | awk -v s="$(since "$t_lost")" -v hz="$(getconf CLK_TCK)" \
  '{ printf "%.1f %.1f", 100 * ($3 - $1) / hz / s, 100 * ($4 - $2) / hz / s }')"
rest=$(e2e_calc "$all - $drawing")
e2e_log "CPU while no server ran: $all % of a core, $drawing % of it drawing"
# The threads other than drawing (which a frame-check or sanitizer build multiplies) stay light.
e2e_check "$rest < 10" "the program's threads other than drawing used $rest % of a core while no sound server ran"

e2e_server_start
t_server=$(now)
# A silent stream keeps the sink running, so the capture advances whether the program plays or
# not; a fresh server moves no sound for its first second or two, so the wall time the capture
# ran less the audio it holds is added to the first sound's position.
pacat --playback --raw --rate=44100 --channels=2 --format=s16le -d "$RIG_SINK" </dev/zero &
e2e_own "$!"
e2e_capture_start "$E2E_OUT/resumed.wav"
t_capture=$(now)
e2e_wait_stderr '^Audio: sound resumed$' 3
sleep 5
t_stop=$(now)
e2e_capture_stop
cap="$E2E_OUT/resumed.wav"
first=$(e2e_wav "$cap" onsets 0.02 | awk 'NR == 1 { print $2 }')
end=$(e2e_wav_field "$cap" seconds)
[ -n "$first" ] || e2e_fail "nothing heard on the new server"
heard=$(e2e_calc "$t_capture - $t_server + $first + ($t_stop + 0.2 - $t_capture - $end > 0 ? $t_stop + 0.2 - $t_capture - $end : 0)")
e2e_log "heard on the new server $heard s after it came up"
e2e_check "$heard <= 3 && $end >= 2.3" "nothing heard on the new server within 3 s (at $heard s), or less than a loop captured"
for q in 0 1 2 3; do  # the note of every step: sound in each quarter of the last loop
  e2e_assert_sound "$cap" "$(e2e_calc "$end - 2.2 + $q * 0.5")" "$(e2e_calc "$end - 1.8 + $q * 0.5")" 0.02
done

e2e_mark  # lost again: Escape and quitting work without a server
e2e_server_kill
e2e_wait_stderr '^Audio: lost the sound device' 3
e2e_key Escape
e2e_wait_screen menu 10
e2e_quit

lines=$(wc -l <"$E2E_OUT/stderr.txt")
e2e_log "standard error: $lines lines"
e2e_check "$lines <= 10" "the program wrote $lines lines to standard error"
[ "$(grep -c '^Audio: lost the sound device' "$E2E_OUT/stderr.txt")" = 2 ] || e2e_fail "want one loss line per incident"
e2e_pass
