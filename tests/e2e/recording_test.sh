#!/usr/bin/env bash
# recording_test.sh - nothing recorded is lost to a signal or a full disk. Each run records
# into a copy of the bundle of its own; how long a recording ran is read from the recording.
#   1. SIGTERM while the loading image shows (start-up held in gdb), or while Return waits to
#      start a game (the program stopped, then both sent): the request is not lost with the
#      input that start-up and a game's set-up drop; the program ends normally, status 0. A
#      click on the record pad while a game is set up (held in gdb) starts no recording. The
#      window closed as a game starts (its close read with the Return, the program stopped
#      meanwhile) ends the program, status 0, once the game is set up, though the set-up
#      drops the other input read with it.
#   2. SIGHUP (terminal closed) while recording: the normal shutdown, status 0, after the
#      one-second quit pause; a complete WAV with everything recorded up to the signal.
#   3. SIGTERM, then a second one during the shutdown pause: the program ends at once (status
#      130); the recording, closed before the pause, is complete.
#   4. Two SIGTERMs 1 ms apart: status 130 (or 0 when the kernel merged them into one), only
#      after the recording is complete with everything up to the signals.
#   5. SIGKILL after 3 s of recording: nothing can run, yet the header, kept up to date while
#      recording, declares at least 2 s.
#   6. A recording folder on a nearly full disk (a small tmpfs): the recording runs until the
#      disk is full, then the record pad shows a red "ERR", one message names the failure, the
#      game plays on (a kick is heard), the program quits with status 0, and the file is a
#      complete WAV holding what fitted.
source "$MARLUNE_E2E_LIB"
e2e_init
built=$MARLUNE_BUNDLE_DIR
full="$RIG_DIR/full"
trap '_e2e_cleanup; mountpoint -q "$full" && umount "$full"' EXIT

e2e_log "--- SIGTERM while loading"
e2e_start_loading
kill -TERM "$(pgrep -P "$E2E_PID" -x marlune)" || e2e_fail "cannot signal the program under gdb"
e2e_continue
e2e_wait_exit 15
[ "$E2E_STATUS" = 0 ] || e2e_fail "SIGTERM while loading: status $E2E_STATUS, want 0"

e2e_log "--- SIGTERM with Return waiting to start a game"
e2e_start
e2e_wait_screen menu
kill -STOP "$E2E_PID"
e2e_key Return
kill -TERM "$E2E_PID"
kill -CONT "$E2E_PID"
e2e_wait_exit 15
[ "$E2E_STATUS" = 0 ] || e2e_fail "SIGTERM with Return queued: status $E2E_STATUS, want 0"

e2e_log "--- a click on the record pad while a new game is set up"
setup="$RIG_DIR/setup"
MARLUNE_BUNDLE_DIR=$built e2e_bundle "$setup"
e2e_start gdb -q -batch -ex 'set breakpoint pending on' -ex 'set print thread-events off' \
  -ex 'handle SIGTERM SIGHUP SIGINT SIGPIPE nostop noprint pass' -ex 'break PresetInit' -ex run \
  -ex "shell touch '$E2E_OUT/setup'; while [ ! -e '$E2E_OUT/setup-go' ]; do sleep 0.05; done" \
  -ex 'delete' -ex continue -ex 'quit $_exitcode' --args "$E2E_PROGRAM"
e2e_wait_screen menu
e2e_key Return
for _ in $(seq 100); do [ -e "$E2E_OUT/setup" ] || sleep 0.1; done
[ -e "$E2E_OUT/setup" ] || e2e_fail "the game's set-up did not stop at PresetInit"
e2e_press $(e2e_pad Record)
touch "$E2E_OUT/setup-go"
e2e_wait_screen game
sleep 1
[ -z "$(e2e_recordings "$setup")" ] || e2e_fail "a click made while the game was set up started a recording"
e2e_quit 3

e2e_log "--- the window closed with Return waiting to start a game"
# Both reach the program together: the close comes in with the Return, which starts the set-up.
e2e_start
e2e_wait_screen menu
kill -STOP "$E2E_PID"
e2e_key Return
"$MARLUNE_TAPPER" close "$E2E_WID" || e2e_fail "cannot send WM_DELETE_WINDOW"
kill -CONT "$E2E_PID"
e2e_wait_exit 15
[ "$E2E_STATUS" = 0 ] || e2e_fail "the window closed as a game was set up: status $E2E_STATUS, want 0 (the close must end the program)"

# record_in DIR - starts the program and a game, starts a recording in DIR (its path in
# E2E_WAV) and plays a kick into it.
record_in() {
  e2e_start
  e2e_wait_screen menu
  e2e_key Return
  e2e_wait_screen game
  e2e_record "$1"
  e2e_press $(e2e_pad Kick 75 30) 1 0.6
}

# signalled NAME SIGNALS... - a recording of at least 2.5 s, then the signals (a number is a
# pause in seconds between them); checks the recording afterwards unless it is SIGKILL.
signalled() {
  local dir="$RIG_DIR/$1" wav
  shift
  MARLUNE_BUNDLE_DIR=$built e2e_bundle "$dir"
  record_in "$dir"; wav=$E2E_WAV
  e2e_recorded 2.5
  for s in "$@"; do case $s in [0-9]*) sleep "$s" ;; *) kill -"$s" "$E2E_PID" ;; esac; done
  pressed=$(date +%s.%N)
  e2e_wait_exit 10
  [[ " $* " == *" KILL "* ]] || e2e_assert_recording "$wav" 2.5
  WAV=$wav
}
signalled hup HUP
[ "$E2E_STATUS" = 0 ] || e2e_fail "SIGHUP while recording: status $E2E_STATUS, want 0"
e2e_check "$(date +%s.%N) - $pressed >= 0.9" "SIGHUP ended the program without the one-second quit pause"
signalled twice TERM 0.4 TERM
[ "$E2E_STATUS" = 130 ] || e2e_fail "a second SIGTERM during the quit pause: status $E2E_STATUS, want 130"
signalled burst TERM 0.001 TERM
[ "$E2E_STATUS" = 130 ] || [ "$E2E_STATUS" = 0 ] || e2e_fail "two SIGTERMs 1 ms apart: status $E2E_STATUS, want 130 (or 0 if merged)"
signalled kill 0.5 KILL
declared=$(e2e_wav "$WAV" raw | awk '{ print $2 }')
e2e_check "$declared >= 2" "after 3 s of recording and SIGKILL the header declares only $declared s"

e2e_log "--- a recording folder on a nearly full disk"
bundle_bytes=$(du -sb -- "$(dirname -- "$built")" | cut -f1)  # larger in a sanitizer build
mkdir -p -- "$full" && mount -t tmpfs -o size=$((bundle_bytes + 4 * 1024 * 1024)) tmpfs "$full" || e2e_fail "cannot mount a tmpfs"
MARLUNE_BUNDLE_DIR=$built e2e_bundle "$full"
avail=$(df -B1 --output=avail "$full" | tail -n 1)  # leave about 700 KB: some four seconds
dd if=/dev/zero of="$full/filler" bs=4096 count=$(((avail - 700 * 1024) / 4096)) status=none || e2e_fail "cannot fill $full"
record_in "$full"; wav=$E2E_WAV
e2e_move 10 590
# "ERR" is three characters at the pad's centre, "ON" two starting 3 pixels further right.
read -r x y w h <<<"${E2E_PAD[Record]}"
for i in $(seq 60); do
  e2e_screenshot "$E2E_OUT/full.png"
  read -r first last <<<"$(e2e_extent "$E2E_OUT/full.png" $((x + 30)) $((y + 27)) 46 20 "$E2E_RED")"
  [ "$first" != none ] && [ $((last - first)) -ge 14 ] && [ "$first" -le $((x + 44)) ] && break
  [ "$i" = 60 ] && e2e_fail "no \"ERR\" on the record pad 15 s into a recording on a full disk"
  sleep 0.25
done
e2e_capture_start "$E2E_OUT/full.wav"
e2e_press $(e2e_pad Kick 10 30) 1 0.3
e2e_capture_for 1
e2e_capture_stop
e2e_assert_sound "$E2E_OUT/full.wav" 0 100 0.005
e2e_quit 3
n=$(grep -c "Couldn't write recording" "$E2E_OUT/stderr.txt")
[ "$n" = 1 ] || e2e_fail "want one message about the failed write, found $n"
e2e_assert_recording "$wav" 3
e2e_pass
