#!/usr/bin/env bash
# shell_menu_test.sh - keys pressed while the loading image shows do nothing; Down, Return on
# the buffer-size entry reopens the stream and the entry changes to the next size; the
# program keeps running and quits with 0.
set -uo pipefail
# shellcheck source=lib.sh
source "$MARLUNE_E2E_LIB"
e2e_init

wait_menu() {  # wait_menu FILE - screenshot until the menu text is drawn
  local i
  for i in $(seq 40); do
    e2e_screenshot "$1"
    [ "$(e2e_count_pixels "$1" 100 90 200 80 "$E2E_YELLOW")" -ge 20 ] && return 0
    _e2e_alive "$E2E_PID" || e2e_fail "the program ended before showing the menu"
    sleep 0.2
  done
  e2e_fail "no menu within 40 screenshots"
}

# Keys sent the moment the window exists reach the program while it still loads.
e2e_start "$(e2e_marlune_path)"
for i in $(seq 1500); do
  E2E_WID=$(xdotool search --onlyvisible --name '^Marlune v1\.03$' 2>/dev/null | head -n 1)
  [ -n "$E2E_WID" ] && break
  _e2e_alive "$E2E_PID" || e2e_fail "the program ended before its window appeared"
  sleep 0.02
done
[ -n "$E2E_WID" ] || e2e_fail "no window within 30 s"
xdotool windowfocus "$E2E_WID" 2>/dev/null
xdotool key --delay 5 Down Return Escape Escape || e2e_fail "keys during loading failed"
e2e_log "keys sent as the window appeared"
e2e_wait_window "Marlune v1.03" 10
before="$E2E_OUT/menu_before.png"
wait_menu "$before"
sleep 0.5
e2e_screenshot "$before"
_e2e_alive "$E2E_PID" || e2e_fail "keys pressed during loading ended the program"
n=$(e2e_count_pixels "$before" 100 150 60 20 "$E2E_YELLOW")
[ "$n" -ge 20 ] || e2e_fail "\"Start\" is not selected after keys during loading ($n yellow pixels)"
n=$(e2e_count_pixels "$before" 100 90 210 50 "$E2E_YELLOW")
[ "$n" -le 2 ] || e2e_fail "another entry is selected after keys during loading ($n yellow pixels)"

# Down, Return: the buffer size entry becomes 1024 (the digits change, the label stays).
e2e_key Down
sleep 0.5
e2e_key Return
sleep 1.5
_e2e_alive "$E2E_PID" || e2e_fail "the program ended after reopening the stream"
after="$E2E_OUT/menu_after.png"
e2e_screenshot "$after"
n=$(e2e_count_pixels "$after" 100 120 220 20 "$E2E_YELLOW")
[ "$n" -ge 60 ] || e2e_fail "\"Buffer Size\" is not highlighted after Down ($n yellow pixels)"
# Compare the text shapes of the digits: they must differ.
shape() {  # shape FILE X W - text pixel mask signature of the entry at (X, 120) of width W
  convert "$1" -crop "${3}x20+${2}+460" +repage -colorspace gray -threshold 55% -depth 8 txt:- |
    awk -F'[(),]+' 'NR > 1 { printf "%s", ($3 > 128 ? 1 : 0) } END { print "" }' | md5sum | cut -c1-32
}
[ "$(shape "$before" 250 60)" != "$(shape "$after" 250 60)" ] || e2e_fail "the buffer size shown did not change after Return"
e2e_log "the digits changed"
n=$(e2e_count_pixels "$after" 250 120 60 20 "$E2E_YELLOW")
e2e_log "digits: $n yellow pixels (\"1024\" is four digits, \"512\" three)"
[ "$n" -gt "$(e2e_count_pixels "$before" 250 120 60 20 "$E2E_GREY")" ] || e2e_fail "the new size has no more digit pixels than 512"

sleep 1.5
e2e_key Escape Escape
e2e_wait_exit 10
[ "$E2E_STATUS" = 0 ] || e2e_fail "exit status $E2E_STATUS after Escape, Escape"
e2e_pass
