#!/usr/bin/env bash
# sound_server_loss_test.sh - the sound server goes away while the player records, and comes
# back; nothing is lost and the program comes back with it.
#   1. In the game, a held note on "Lead 1" fills the whole loop (a tone in every step), and a
#      recording runs. 3 s into the recording the rig's sound server is killed (SIGKILL).
#   2. While no server runs (5 s): the program lives and does not spin: its threads other than
#      drawing use < 10 % of a core (drawing in software under the rig costs far more than 10 %
#      on its own, with sound or without; the figures are logged). Its recording is already
#      complete: a well-formed WAV as long as the time it really played (± 0.5 s).
#   3. A new server on the same socket: within 3 s the program says "Audio: sound resumed"
#      and the loop is heard on the new server, with the tone in every step (patterns intact).
#   4. The server is killed again: during this outage Escape leaves the game and Escape, Escape
#      in the menu quits; status 0.
#   Over the whole run the program writes at most 10 lines to standard error, one per loss
#   and one per resumption among them.
# The servers are started from the rig's own server's command line and environment; this
# script ends every server it started, however it exits.
source "$MARLUNE_E2E_LIB"
e2e_init

SOCKET=${PULSE_SERVER#unix:}
SERVER_PID=""      # the server that runs now (the rig's at first)
OWN_SERVERS=()     # servers this script started, and the silent stream played into one
cleanup_servers() {
  local pid
  for pid in "${OWN_SERVERS[@]}"; do _e2e_kill "$pid" TERM; done
}
# The program first, so that it does not see its server go once more.
trap '_e2e_cleanup; cleanup_servers' EXIT

# CPU time (user + system) from a /proc stat file, in clock ticks (fields after the name).
_ticks() { sed 's/.*) //' "$1" 2>/dev/null | awk '{ print $12 + $13 }'; }
# "TOTAL DRAWING" CPU ticks of process PID: all its threads (ended ones included), and those
# that draw: the main thread (frame loop and OpenGL) and the rig's software renderer's threads.
# Drawing is shown apart because a sanitizer build slows it several-fold.
cpu_ticks() {
  local task drawing=0
  for task in /proc/"$1"/task/*; do
    if [ "${task##*/}" = "$1" ] || grep -q '^llvmpipe-' "$task/comm" 2>/dev/null; then
      drawing=$((drawing + $(_ticks "$task/stat")))
    fi
  done
  echo "$(_ticks "/proc/$1/stat") $drawing"
}
# cpu_report WHAT "T0 D0" "T1 D1" SECONDS - prints "TOTAL OTHER" percentages of a core and logs
# them.
cpu_report() {
  local hz r
  hz=$(getconf CLK_TCK)
  r=$(awk -v hz="$hz" -v s="$4" -v a="$2" -v b="$3" 'BEGIN {
    split(a, x, " "); split(b, y, " "); t = y[1] - x[1]; d = y[2] - x[2]
    printf "%.1f %.1f %.1f", 100 * t / hz / s, 100 * d / hz / s, 100 * (t - d) / hz / s }')
  set -- "$1" $r
  e2e_log "CPU $1: $2 % of a core in all, $3 % drawing, $4 % the rest"
  echo "$2 $4"
}

# Kills the running server; its command line and environment are kept for start_server.
kill_server() {
  mapfile -d '' SERVER_CMD <"/proc/$SERVER_PID/cmdline" || e2e_fail "cannot read the server's command line"
  mapfile -d '' SERVER_ENV <"/proc/$SERVER_PID/environ" || e2e_fail "cannot read the server's environment"
  kill -KILL "$SERVER_PID"
  for _ in $(seq 50); do _e2e_alive "$SERVER_PID" || break; sleep 0.1; done
  _e2e_alive "$SERVER_PID" && e2e_fail "the sound server $SERVER_PID did not die"
  e2e_log "killed the sound server $SERVER_PID"
}

start_server() {
  env -i "${SERVER_ENV[@]}" "${SERVER_CMD[@]}" >>"$E2E_OUT/server.log" 2>&1 &
  SERVER_PID=$!
  OWN_SERVERS+=("$SERVER_PID")
  for _ in $(seq 100); do
    pactl info >/dev/null 2>&1 && { e2e_log "new sound server $SERVER_PID"; return 0; }
    _e2e_alive "$SERVER_PID" || break
    sleep 0.05
  done
  e2e_fail "the new sound server did not come up (see $E2E_OUT/server.log)"
}

SERVER_PID=$(e2e_server_pid)
[ -n "$SERVER_PID" ] || e2e_fail "cannot find the rig's sound server (socket $SOCKET)"

e2e_log "--- game, a tone in every step, recording"
e2e_bundle "$RIG_DIR/loss"
e2e_start
e2e_wait_screen menu
e2e_key Return
e2e_wait_screen game
# Held across every step boundary of one loop (2 s), the button writes a note in each step.
e2e_press $(e2e_pad Kick 10 30) 1 2.4
e2e_record "$RIG_DIR/loss"; recorded=$E2E_WAV
t_recording=$(date +%s.%N)
ticks_playing=$(cpu_ticks "$E2E_PID")

e2e_log "--- the sound server dies 3 s into the recording"
sleep 3
e2e_mark
ticks0=$(cpu_ticks "$E2E_PID")
kill_server
t_lost=$(date +%s.%N)
cpu_report "while playing" "$ticks_playing" "$ticks0" \
  "$(awk -v a="$t_recording" -v b="$t_lost" 'BEGIN { print b - a }')" >/dev/null
e2e_wait_stderr '^Audio: lost the sound device \(.*\), retrying$' 3
e2e_log "program: $E2E_LINE"
recording_s=$(e2e_wav_field "$recorded" seconds) || e2e_fail "the recording is not a complete WAV after the loss"
played_s=$(awk -v a="$t_recording" -v b="$t_lost" 'BEGIN { printf "%.2f", b - a }')
e2e_log "recording ${recorded##*/}: $recording_s s, played for $played_s s"
# A sanitizer slows the program several-fold: on a busy machine its stream then falls behind
# and really plays less than the wall time. Never may the recording hold more than played.
short=0.5
[ -n "${MARLUNE_SANITIZER:-}" ] && short=1.5
e2e_check "$recording_s - $played_s <= 0.5 && $played_s - $recording_s <= $short" \
  "the recording lasts $recording_s s but sound played for $played_s s"
cp -- "$recorded" "$E2E_OUT/"
sleep "$(awk -v a="$t_lost" -v b="$(date +%s.%N)" 'BEGIN { d = 5 - (b - a); print (d > 0 ? d : 0) }')"
_e2e_alive "$E2E_PID" || e2e_fail "the program ended while no sound server ran"
ticks1=$(cpu_ticks "$E2E_PID")
read -r lost_all lost_rest <<<"$(cpu_report "while no server ran" "$ticks0" "$ticks1" \
  "$(awk -v a="$t_lost" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')")"
# With no sound the play-head stands still, so the frame loop draws nothing new: the whole
# program stays light. A sanitizer multiplies every thread's work, and the frame-check build
# draws every frame to compare it, so there only the threads other than drawing are held to
# the limit; the retry pacing is the unit tests' to check.
if [ -z "${MARLUNE_SANITIZER:-}" ] && [ "${MARLUNE_FRAME_CHECK:-0}" != 1 ]; then
  e2e_check "$lost_all < 10" "the program used $lost_all % of a core while no sound server ran"
else
  e2e_check "$lost_rest < 10" "the program's threads other than drawing used $lost_rest % of a core while no sound server ran"
fi

e2e_log "--- a new server on the same socket"
start_server
t_server=$(date +%s.%N)
# A silent stream keeps the sink running, so the capture advances whether the program plays
# or not. A fresh server moves no sound for its first second or two: the capture is that much
# shorter than the wall time it ran, and its first sample is the sink's first moment.
pacat --playback --raw --rate=44100 --channels=2 --format=s16le -d "$RIG_SINK" </dev/zero &
OWN_SERVERS+=("$!")
e2e_capture_start "$E2E_OUT/resumed.wav"
t_capture=$(date +%s.%N)
e2e_wait_stderr '^Audio: sound resumed$' 3
resumed_s=$(awk -v a="$t_server" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }')
e2e_log "\"sound resumed\" $resumed_s s after the new server came up"
# Long enough that, after the server's silent start, the capture holds a whole loop.
sleep 5
t_stop=$(date +%s.%N)
e2e_capture_stop
first=$(e2e_wav "$E2E_OUT/resumed.wav" onsets 0.02 | awk 'NR == 1 { print $2 }')
[ -n "$first" ] || e2e_fail "nothing heard on the new server"
captured=$(e2e_wav_field "$E2E_OUT/resumed.wav" seconds)
# Wall time the capture ran (to the stop's own 0.2 s pause) less the audio it holds: the
# server's silent start. The first sound comes that much later than its sample position.
heard_s=$(awk -v a="$t_server" -v c="$t_capture" -v d="$t_stop" -v l="$captured" -v f="$first" \
  'BEGIN { stall = d + 0.2 - c - l; if (stall < 0) stall = 0; printf "%.2f", c - a + stall + f }')
e2e_log "heard on the new server $heard_s s after it came up (first sound at $first s of a $captured s capture)"
e2e_check "$heard_s <= 3" "nothing heard on the new server within 3 s of its start (at $heard_s s)"
# The tone of every step: sound in each quarter of the last loop captured.
end=$captured
e2e_check "$end >= 2.3" "the capture on the new server holds only $end s, less than a loop"
for q in 0 1 2 3; do
  from=$(awk -v e="$end" -v q="$q" 'BEGIN { printf "%.2f", e - 2.2 + q * 0.5 }')
  e2e_assert_sound "$E2E_OUT/resumed.wav" "$from" "$(awk -v f="$from" 'BEGIN { print f + 0.4 }')" 0.02
done

e2e_log "--- lost again: Escape and quitting work without a server"
e2e_mark
kill_server
e2e_wait_stderr '^Audio: lost the sound device' 3
e2e_key Escape
e2e_wait_screen menu 10
e2e_quit

lines=$(wc -l <"$E2E_OUT/stderr.txt")
e2e_log "standard error: $lines lines"
e2e_check "$lines <= 10" "the program wrote $lines lines to standard error"
[ "$(grep -c '^Audio: lost the sound device' "$E2E_OUT/stderr.txt")" = 2 ] || e2e_fail "want one loss line per incident"
e2e_pass
