#!/usr/bin/env bash
# stuck_server_test.sh - the sound server dies and a stuck one takes its socket: it accepts the
# program's connection and never answers (stuck_server.py). The window stays alive meanwhile.
#   1. In the game with a recording running, the rig's server is killed (SIGKILL) and the stuck
#      one listens on its socket; the program's next attempt to reopen the sound connects to it.
#   2. While it hangs there: Escape returns to the menu within 3 s; the menu's "Buffer Size"
#      entry shows the next size within 3 s of Return. The recording is complete (ended with
#      the loss: its header states what it holds).
#   3. The stuck server ends and a real one starts: "Audio: sound resumed".
#   4. Lost again, the stuck server again, the program connected to it: SIGTERM ends the
#      program within 3 s, status 0.
#   5. Started while the stuck server holds the socket: SIGTERM during start-up likewise.
source "$MARLUNE_E2E_LIB"
e2e_init
SOCKET=${PULSE_SERVER#unix:}
STUCK=""

# stuck_start - the stuck server on the rig's socket; returns once the program has connected.
stuck_start() {
  local log="$E2E_OUT/stuck.log" before=0
  [ -e "$log" ] && before=$(grep -c accepted "$log")
  touch "$log"
  python3 "$(dirname -- "${BASH_SOURCE[0]}")/stuck_server.py" "$SOCKET" "$log" &
  STUCK=$!
  e2e_own "$STUCK"
  for _ in $(seq 100); do
    [ "$(grep -c accepted "$log" 2>/dev/null)" -gt "$before" ] && { e2e_log "the program connected to the stuck server"; return 0; }
    sleep 0.1
  done
  e2e_fail "the program did not connect to the stuck server within 10 s"
}
stuck_stop() { _e2e_kill "$STUCK" TERM; STUCK=""; }

e2e_bundle "$RIG_DIR/stuck"
e2e_start
e2e_wait_screen menu
e2e_key Return
e2e_wait_screen game
e2e_record "$RIG_DIR/stuck"
sleep 1
e2e_mark
e2e_server_kill
e2e_wait_stderr '^Audio: lost the sound device \(.*\), retrying$' 3
stuck_start

e2e_key Escape
e2e_wait_screen menu 3
e2e_screenshot "$E2E_OUT/size_before.png"
e2e_key Down Return
shown=""
for _ in $(seq 15); do
  e2e_screenshot "$E2E_OUT/size_after.png"
  [ "$(e2e_entry_digits "$E2E_OUT/size_after.png")" != "$(e2e_entry_digits "$E2E_OUT/size_before.png")" ] && { shown=1; break; }
  sleep 0.2
done
[ -n "$shown" ] || e2e_fail "the menu did not show the next buffer size within 3 s while the server hung"
info=$(e2e_wav "$E2E_WAV" info) || exit 1  # fails unless the header states what the file holds
e2e_log "the recording: $info"

e2e_mark
stuck_stop
e2e_server_start
e2e_wait_stderr '^Audio: sound resumed$' 5

e2e_mark
e2e_server_kill
e2e_wait_stderr '^Audio: lost the sound device' 3
stuck_start
kill -TERM "$E2E_PID"
e2e_wait_exit 3
[ "$E2E_STATUS" = 0 ] || e2e_fail "the program ended with status $E2E_STATUS after SIGTERM"

# Started while the stuck server holds the socket, it waits for the sound behind its loading
# picture; SIGTERM ends that wait and the program, within 3 s, status 0.
accepted=$(grep -c accepted "$E2E_OUT/stuck.log")
e2e_start
for _ in $(seq 100); do [ "$(grep -c accepted "$E2E_OUT/stuck.log")" -gt "$accepted" ] && break; sleep 0.1; done
[ "$(grep -c accepted "$E2E_OUT/stuck.log")" -gt "$accepted" ] || e2e_fail "the program did not connect to the stuck server as it started"
kill -TERM "$E2E_PID"
e2e_wait_exit 3
[ "$E2E_STATUS" = 0 ] || e2e_fail "the program ended with status $E2E_STATUS after SIGTERM during start-up"
e2e_pass
