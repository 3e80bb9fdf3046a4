#!/usr/bin/env bash
# shell_game_test.sh - Return on "Start" shows the game backdrop with the pads; Escape returns
# to the menu with "Start" highlighted and the stop sound; closing the window (the
# WM_DELETE_WINDOW request a window manager sends) in the game ends the program with status 0
# and the quit sound is heard.
set -uo pipefail
# shellcheck source=lib.sh
source "$MARLUNE_E2E_LIB"
e2e_init

# shot_until FILE WHAT AWK_TEST_CMD... - screenshots until the command succeeds
shot_until() {
  local file=$1 what=$2 i; shift 2
  for i in $(seq 40); do
    e2e_screenshot "$file"
    "$@" && return 0
    _e2e_alive "$E2E_PID" || e2e_fail "the program ended while waiting for $what"
    sleep 0.2
  done
  e2e_fail "no $what within 40 screenshots"
}
start_selected() { [ "$(e2e_count_pixels "$1" 100 150 60 20 "$E2E_YELLOW")" -ge 20 ]; }
# The game backdrop has no yellow menu text and shows the chord pad's frame.
in_game() { [ "$(e2e_count_pixels "$1" 100 150 60 20 "$E2E_YELLOW")" -lt 5 ] && [ "$(e2e_count_pixels "$1" 396 450 8 100 "$E2E_WHITE")" -ge 50 ]; }

# close_window WID - sends WM_DELETE_WINDOW as a window manager does (the rig has none).
close_window() {
  python3 - "$1" <<'PY' || e2e_fail "cannot send WM_DELETE_WINDOW"
import ctypes, sys
x = ctypes.cdll.LoadLibrary("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x.XFlush.argtypes = [ctypes.c_void_p]
x.XCloseDisplay.argtypes = [ctypes.c_void_p]
class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]
class XEvent(ctypes.Union):
    _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]
d = x.XOpenDisplay(None)
if not d:
    sys.exit("cannot open the display")
ev = XEvent()
ev.xclient.type = 33  # ClientMessage
ev.xclient.window = int(sys.argv[1])
ev.xclient.message_type = x.XInternAtom(d, b"WM_PROTOCOLS", 0)
ev.xclient.format = 32
ev.xclient.data[0] = x.XInternAtom(d, b"WM_DELETE_WINDOW", 0)
if not x.XSendEvent(d, int(sys.argv[1]), 0, 0, ctypes.byref(ev)):
    sys.exit("XSendEvent failed")
x.XFlush(d)
x.XCloseDisplay(d)
PY
}

e2e_capture_start "$E2E_OUT/capture.wav"
e2e_start_marlune
shot_until "$E2E_OUT/menu.png" "menu" start_selected "$E2E_OUT/menu.png"

e2e_key Return
game="$E2E_OUT/game.png"
shot_until "$game" "game screen" in_game "$game"
sleep 0.5
e2e_screenshot "$game"
# White pad frames at preset positions: the chord pad (400, 400, 400 x 200), "Kick"
# (625, 310, 150 x 60), "Blip 1" (25, 250, 150 x 120), the metronome (50, 500, 100 x 75).
frame() {  # frame NAME X Y W H - white pixels along the left and bottom edges
  local n m
  n=$(e2e_count_pixels "$game" $(($2 - 2)) $(($3 + 5)) 5 $(($5 - 10)) "$E2E_WHITE")
  m=$(e2e_count_pixels "$game" $(($2 + 5)) $(($3 - 2)) $(($4 - 10)) 5 "$E2E_WHITE")
  e2e_log "$1 frame: $n white pixels on the left edge, $m on the bottom edge"
  [ "$n" -ge $(($5 / 2)) ] && [ "$m" -ge $(($4 / 2)) ] || e2e_fail "no white frame of $1 at ($2, $3, $4 x $5)"
}
frame "the chord pad" 400 400 400 200
frame "Kick" 625 310 150 60
frame "Blip 1" 25 250 150 120
frame "the metronome" 50 500 100 75
n=$(e2e_count_pixels "$game" 0 0 100 12 "$E2E_WHITE")
[ "$n" -ge 15 ] || e2e_fail "no version label in the game ($n white pixels)"

# Escape: back to the menu with "Start" highlighted.
sleep 1
e2e_key Escape
shot_until "$E2E_OUT/menu_again.png" "menu after Escape" start_selected "$E2E_OUT/menu_again.png"
n=$(e2e_count_pixels "$E2E_OUT/menu_again.png" 100 90 210 50 "$E2E_YELLOW")
[ "$n" -le 2 ] || e2e_fail "another entry is highlighted after returning ($n yellow pixels)"
sleep 1.5

# Into a second game, then close the window. The theme is faded out by then, so what the
# capture holds after the close is the quit sound. A silent second stream keeps the sink
# running while the program's own stream ends.
e2e_key Return
shot_until "$game.2.png" "second game screen" in_game "$game.2.png"
sleep 2
pacat --playback --raw --rate=44100 --channels=2 --format=s16le -d "$RIG_SINK" </dev/zero &
keeper=$!
sleep 0.5
close_window "$E2E_WID"
e2e_wait_exit 10
[ "$E2E_STATUS" = 0 ] || e2e_fail "exit status $E2E_STATUS after closing the window"
sleep 1.5
kill "$keeper" 2>/dev/null; wait "$keeper" 2>/dev/null
e2e_capture_stop

# The last sound in the capture is the quit sound: it comes after a silent stretch and
# lasts most of a second.
cap="$E2E_OUT/capture.wav"
last=""
for t in $(e2e_wav_onsets "$cap" 0.05 300 | awk '{ print $2 }' | sort -rn); do
  from=$(awk -v t="$t" 'BEGIN { print t - 1.0 }')
  e2e_check "$from > 0" "no sound after a silent second in $cap"
  peak=$(e2e_wav_peak "$cap" "$from" "$(awk -v t="$t" 'BEGIN { print t - 0.05 }')")
  if awk -v p="$peak" 'BEGIN { exit !(p <= 0.01) }'; then last=$t; break; fi
done
[ -n "$last" ] || e2e_fail "no sound after a silent second in $cap"
e2e_log "quit sound at $last s of $(e2e_wav_seconds "$cap") s"
e2e_assert_sound "$cap" "$last" "$(awk -v t="$last" 'BEGIN { print t + 0.5 }')" 0.02
e2e_pass
