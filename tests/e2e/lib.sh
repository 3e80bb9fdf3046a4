# shellcheck shell=bash disable=SC2034
# lib.sh - helpers for end-to-end test scripts. Source it, do not run it:
#
#   #!/usr/bin/env bash
#   source "$MARLUNE_E2E_LIB"          # or: source "$(dirname "$0")/lib.sh"
#   e2e_init
#   e2e_start_marlune                  # program running, window found and focused
#   e2e_key Return
#   e2e_click 400 300                  # program coordinates: origin bottom-left, y up
#   e2e_screenshot "$E2E_OUT/game.png"
#   e2e_assert_pixel "$E2E_OUT/game.png" 10 10 0 0 0 8
#   e2e_key Escape
#   e2e_wait_exit 10 && [ "$E2E_STATUS" = 0 ] || e2e_fail "marlune exited with $E2E_STATUS"
#   e2e_pass
#
# Scripts run inside scripts/rig.sh, which provides DISPLAY, PULSE_SERVER,
# RIG_SINK and RIG_DIR (see its header). Registered with marlune_e2e_test() in
# tests/e2e/CMakeLists.txt they also get:
#   MARLUNE_BUNDLE_DIR   .../Marlune.app/Contents (program: MacOS/marlune)
#   MARLUNE_BUILD_DIR    the build folder (recordings land here, beside the bundle)
#   MARLUNE_SOURCE_DIR   the source tree
#   MARLUNE_WAVTOOL, MARLUNE_SHOT   the analysis tools
#   MARLUNE_E2E_LIB      this file
#   MARLUNE_E2E_OUT      a folder for this test's artefacts (emptied by e2e_init)
#
# Guarantees: every helper either succeeds or ends the script through e2e_fail
# with "FAIL: <what>" on stderr, the tail of the program's output, and status 1
# (the e2e_wav_*/e2e_pixel query helpers print their value on stdout). Programs
# started with e2e_start and captures started with e2e_capture_start are
# stopped when the script exits, however it exits.
#
# Functions:
#   e2e_init                        strict mode, artefact folder, exit trap, tool check
#   e2e_log MSG...                  progress line on stderr ("e2e: MSG")
#   e2e_fail MSG...                 "FAIL: MSG" + program output tail, exit 1
#   e2e_pass                        "PASS: <script>", exit 0 (fails instead if the program's
#                                   stderr holds a sanitizer report or, in a frame-check
#                                   build, a frame check with differing frames)
#   e2e_check COND MSG...           awk condition (e.g. "3.2 < 4"); e2e_fail MSG if false
#   e2e_marlune_path                path of the built program; fails clearly if not built
#   e2e_start CMD ARGS...           start in background (stdout/stderr to E2E_OUT); sets E2E_PID
#   e2e_start_marlune               start the program from its bundle and wait for its window
#   e2e_wait_window TITLE [SECS]    wait for a visible window titled exactly TITLE (fails at
#                                   once if the started program exits first); focus it;
#                                   sets E2E_WID, E2E_WIN_X, E2E_WIN_Y, E2E_WIN_W, E2E_WIN_H
#   e2e_focus                       give E2E_WID the keyboard focus (works without a WM)
#   e2e_screen_xy X Y               prints the screen position of program point X Y:
#                                   (win_x + X, win_y + 600 - Y); inside the window for
#                                   X 0..799, Y 1..600 (SDL row r is program y 600 - r)
#   e2e_move X Y                    move the pointer to program point X Y
#   e2e_click X Y [BUTTON]          move there and click (1 left, 3 right)
#   e2e_mouse_down X Y [BUTTON]     move there and press
#   e2e_mouse_up [BUTTON]           release
#   e2e_shift_click X Y             hold Shift, left click, release Shift
#   e2e_key KEY...                  press and release keys (xdotool names: Return, Escape, Up)
#   e2e_keydown KEY / e2e_keyup KEY hold / release a key
#   e2e_wait_output REGEX [SECS]    wait (default 10 s) until the program's stdout has a line
#                                   matching REGEX after the mark; sets E2E_LINE to it
#   e2e_wait_stderr REGEX [SECS]    same for its stderr
#   e2e_mark_output                 set the mark: later waits ignore the lines so far
#   e2e_wait_exit [SECS]            wait for the program to end (default 20 s); sets E2E_STATUS;
#                                   fails (and kills it) on timeout
#   e2e_stop                        end the program (TERM, then KILL after 5 s)
#   e2e_screenshot OUT.png          picture of the window's 800x600 client area
#   e2e_pixel FILE X Y              prints "R G B" of program point X Y (y from bottom)
#   e2e_region_mean FILE X Y W H    prints mean "R G B" of a program rectangle
#   e2e_assert_pixel FILE X Y R G B [TOL]   each channel within TOL (default 10)
#   e2e_capture_start OUT.wav       record the rig's sink from now on
#   e2e_capture_stop                stop it; the WAV is complete and validated afterwards
#   e2e_wav_check FILE              fail unless FILE is a well-formed WAV (header sizes agree)
#   e2e_wav_seconds FILE            prints the duration in seconds
#   e2e_wav_rms / e2e_wav_peak FILE [FROM TO] [CH]   level of a range (full scale 1)
#   e2e_wav_pitch FILE FROM TO      prints the fundamental in Hz
#   e2e_wav_onsets FILE [THR] [GAP_MS]   onset lines "FRAME SECONDS"
#   e2e_wav_first_sound FILE [THR]  prints the time in seconds of the first onset (fails if none)
#   e2e_cents F1 F2                 prints 1200*log2(F1/F2)
#   e2e_assert_pitch FILE FROM TO HZ [CENTS]    pitch within CENTS (default 5)
#   e2e_assert_sound FILE [FROM TO] [MIN_RMS]   RMS at least MIN_RMS (default 0.01)
#   e2e_assert_silence FILE [FROM TO] [MAX_PEAK] peak at most MAX_PEAK (default 0.001)
#
# Timing: judge audio timing from sample positions in a capture or recording,
# never from the wall clock (PulseAudio starts a stream a fraction of a second
# late). A capture only advances while some stream plays into the sink. Sound
# reaches the sink some 0.4 s after the program renders it, and about the last
# second before the program quits may never reach it: keep the program running
# at least 1.5 s past the sound a test checks.

E2E_PID=""
E2E_COMMAND=""
E2E_STATUS=""
E2E_WID=""
E2E_CAPTURE_PID=""
E2E_CAPTURE_FILE=""
E2E_LINE=""
E2E_MARK_OUT=0
E2E_MARK_ERR=0

e2e_log() { echo "e2e: $*" >&2; }

e2e_fail() {
  echo "FAIL: $*" >&2
  local f
  for f in "${E2E_OUT:-}/stdout.txt" "${E2E_OUT:-}/stderr.txt"; do
    if [ -s "$f" ]; then
      echo "--- last lines of $f:" >&2
      tail -n 15 "$f" >&2
    fi
  done
  exit 1
}

# A sanitizer build's report in the program's stderr fails the test, even when the program was
# stopped by the test rather than left to exit with the sanitizer's status.
_e2e_check_sanitizers() {
  local f="${E2E_OUT:-}/stderr.txt"
  [ -s "$f" ] || return 0
  if grep -Eq '(ERROR|WARNING): (Address|Leak|Thread|Realtime|UndefinedBehavior)Sanitizer|: runtime error: ' "$f"; then
    cp -- "$f" "$E2E_OUT/sanitizer-report.txt"
    e2e_fail "sanitizer report in the program's stderr (kept in $E2E_OUT/sanitizer-report.txt)"
  fi
}

# A frame-check build (MARLUNE_FRAME_CHECK=1, set by CMake for builds with the option) prints
# at exit "frame check: N skipped frames compared, M differing; K shown frames replayed, L
# differing": a skipped frame that differs from the frame on screen, or a replayed frame that
# differs from the frame drawn directly, fails the test. REQUIRED set: the report must be there
# (the program ended normally).
_e2e_check_frames() {
  [ "${MARLUNE_FRAME_CHECK:-0}" = 1 ] || return 0
  local f="${E2E_OUT:-}/stderr.txt" line
  line=$(grep -E '^frame check: ' "$f" 2>/dev/null | tail -n 1)
  if [ -z "$line" ]; then
    [ -z "${1:-}" ] || e2e_fail "no frame check report in the program's stderr"
    return 0
  fi
  e2e_log "$line"
  awk '{ for (i = 2; i <= NF; i++) if ($i ~ /^differing/ && $(i - 1) + 0 != 0) bad = 1 } END { exit bad }' <<<"$line" ||
    e2e_fail "frames differ from the picture they stand for: $line"
}

e2e_pass() { _e2e_check_sanitizers; _e2e_check_frames; echo "PASS: $(basename -- "$0")" >&2; exit 0; }

# e2e_check CONDITION MESSAGE... - CONDITION is an awk expression.
e2e_check() {
  local cond=$1; shift
  awk "BEGIN { exit !($cond) }" || e2e_fail "$* (failed: $cond)"
}

_e2e_cleanup() {
  if [ -n "$E2E_PID" ] && kill -0 "$E2E_PID" 2>/dev/null; then
    e2e_log "stopping program $E2E_PID left running"
    _e2e_kill "$E2E_PID" TERM
  fi
  if [ -n "$E2E_CAPTURE_PID" ]; then
    _e2e_kill "$E2E_CAPTURE_PID" INT
  fi
}

e2e_init() {
  set -uo pipefail
  local name
  name=$(basename -- "$0" .sh)
  E2E_OUT=${MARLUNE_E2E_OUT:-${RIG_DIR:-/tmp}/e2e-$name}
  rm -rf -- "$E2E_OUT" && mkdir -p -- "$E2E_OUT" || { echo "FAIL: cannot create $E2E_OUT" >&2; exit 1; }
  E2E_WAVTOOL=${MARLUNE_WAVTOOL:-marlune_wavtool}
  E2E_SHOT=${MARLUNE_SHOT:-marlune_shot}
  trap _e2e_cleanup EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  command -v xdotool >/dev/null || e2e_fail "xdotool is not installed (scripts/install-deps.sh)"
  e2e_log "artefacts in $E2E_OUT"
}

# True while PID is a live process (a zombie child counts as ended).
_e2e_alive() {
  local state
  state=$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null) || return 1
  [ -n "$state" ] && [ "$state" != Z ]
}

# _e2e_kill PID SIGNAL - signal, wait up to 5 s, then SIGKILL; reaps the child.
_e2e_kill() {
  local pid=$1 i
  kill -"$2" "$pid" 2>/dev/null
  for i in $(seq 50); do _e2e_alive "$pid" || break; sleep 0.1; done
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  return 0
}

e2e_marlune_path() {
  [ -n "${MARLUNE_BUNDLE_DIR:-}" ] || e2e_fail "MARLUNE_BUNDLE_DIR is not set (register the test with marlune_e2e_test)"
  local program="$MARLUNE_BUNDLE_DIR/MacOS/marlune"
  [ -x "$program" ] || e2e_fail "program not built: $program (build the target 'marlune' first)"
  echo "$program"
}

e2e_start() {
  [ -z "$E2E_PID" ] || ! _e2e_alive "$E2E_PID" || e2e_fail "a program is already running ($E2E_PID)"
  _e2e_check_sanitizers  # before the previous program's output is replaced
  _e2e_check_frames
  "$@" >"$E2E_OUT/stdout.txt" 2>"$E2E_OUT/stderr.txt" </dev/null &
  E2E_PID=$!
  E2E_COMMAND="$*"
  E2E_STATUS=""
  E2E_MARK_OUT=0 E2E_MARK_ERR=0
  e2e_log "started $* (pid $E2E_PID)"
}

e2e_start_marlune() {
  local program
  program=$(e2e_marlune_path) || exit 1
  e2e_start "$program"
  e2e_wait_window "Marlune v1.03" 30
}

e2e_wait_window() {
  local title=$1 seconds=${2:-20} pattern
  [ -n "${DISPLAY:-}" ] || e2e_fail "no DISPLAY: run inside scripts/rig.sh"
  # xdotool matches a regular expression: anchor it and escape the dots.
  pattern="^$(printf '%s' "$title" | sed 's/[.[\*^$()+?{|]/\\&/g')\$"
  local i
  E2E_WID=""
  for i in $(seq $((seconds * 10))); do
    E2E_WID=$(xdotool search --onlyvisible --name "$pattern" 2>/dev/null | head -n 1)
    [ -n "$E2E_WID" ] && break
    if [ -n "$E2E_PID" ] && ! _e2e_alive "$E2E_PID"; then
      wait "$E2E_PID"
      E2E_STATUS=$?
      E2E_PID=""
      e2e_fail "the program exited with status $E2E_STATUS before its window \"$title\" appeared"
    fi
    sleep 0.1
  done
  [ -n "$E2E_WID" ] || e2e_fail "no window \"$title\" within $seconds s"
  local WINDOW X Y WIDTH HEIGHT SCREEN
  eval "$(xdotool getwindowgeometry --shell "$E2E_WID")" || e2e_fail "cannot read the geometry of window $E2E_WID"
  E2E_WIN_X=$X E2E_WIN_Y=$Y E2E_WIN_W=$WIDTH E2E_WIN_H=$HEIGHT
  e2e_log "window \"$title\" $E2E_WID at $X,$Y size ${WIDTH}x$HEIGHT"
  e2e_focus
}

# Without a window manager "windowactivate" fails (_NET_ACTIVE_WINDOW is not
# supported); "windowfocus" (XSetInputFocus) works and SDL reports focus.
e2e_focus() {
  [ -n "$E2E_WID" ] || e2e_fail "no window to focus"
  xdotool windowfocus --sync "$E2E_WID" 2>/dev/null || e2e_fail "cannot focus window $E2E_WID"
}

e2e_screen_xy() {
  [ -n "$E2E_WID" ] || e2e_fail "no window yet (e2e_wait_window)"
  echo "$((E2E_WIN_X + $1)) $((E2E_WIN_Y + E2E_WIN_H - $2))"
}

e2e_move() {
  local xy
  xy=$(e2e_screen_xy "$1" "$2") || exit 1
  # shellcheck disable=SC2086
  xdotool mousemove --sync $xy || e2e_fail "cannot move the pointer to $1 $2"
}

e2e_click() {
  e2e_move "$1" "$2"
  xdotool click "${3:-1}" || e2e_fail "click at $1 $2 failed"
}

e2e_mouse_down() {
  e2e_move "$1" "$2"
  xdotool mousedown "${3:-1}" || e2e_fail "mouse down at $1 $2 failed"
}

e2e_mouse_up() { xdotool mouseup "${1:-1}" || e2e_fail "mouse up failed"; }

e2e_shift_click() {
  e2e_move "$1" "$2"
  xdotool keydown shift || e2e_fail "shift down failed"
  sleep 0.05
  xdotool click 1 || { xdotool keyup shift; e2e_fail "shift click at $1 $2 failed"; }
  sleep 0.05
  xdotool keyup shift || e2e_fail "shift up failed"
}

# Keys go through XTEST to the focused window, as a real keyboard's would.
e2e_key() { xdotool key --delay 60 "$@" || e2e_fail "key $* failed"; }
e2e_keydown() { xdotool keydown "$1" || e2e_fail "keydown $1 failed"; }
e2e_keyup() { xdotool keyup "$1" || e2e_fail "keyup $1 failed"; }

# Waits for a line matching REGEX among the lines after the mark; sets E2E_LINE.
_e2e_wait_file() {
  local file=$1 regex=$2 seconds=$3 what=$4 mark=$5 i
  for i in $(seq $((seconds * 10))); do
    E2E_LINE=$(tail -n +"$((mark + 1))" "$file" 2>/dev/null | grep -E -m 1 -- "$regex")
    [ -n "$E2E_LINE" ] && return 0
    sleep 0.1
  done
  e2e_fail "no $what line matching '$regex' within $seconds s"
}
e2e_wait_output() { _e2e_wait_file "$E2E_OUT/stdout.txt" "$1" "${2:-10}" stdout "$E2E_MARK_OUT"; }
e2e_wait_stderr() { _e2e_wait_file "$E2E_OUT/stderr.txt" "$1" "${2:-10}" stderr "$E2E_MARK_ERR"; }

# Later e2e_wait_output/e2e_wait_stderr calls look only at lines written after this.
e2e_mark_output() {
  E2E_MARK_OUT=$(wc -l <"$E2E_OUT/stdout.txt" 2>/dev/null || echo 0)
  E2E_MARK_ERR=$(wc -l <"$E2E_OUT/stderr.txt" 2>/dev/null || echo 0)
}

e2e_wait_exit() {
  local seconds=${1:-20} i
  [ -n "$E2E_PID" ] || e2e_fail "no program started"
  for i in $(seq $((seconds * 10))); do
    _e2e_alive "$E2E_PID" || break
    sleep 0.1
  done
  if _e2e_alive "$E2E_PID"; then
    _e2e_kill "$E2E_PID" TERM
    E2E_PID=""
    e2e_fail "program still running after $seconds s (killed)"
  fi
  wait "$E2E_PID"
  E2E_STATUS=$?
  E2E_PID=""
  e2e_log "program exited with status $E2E_STATUS"
  # Only the program itself (not a tool or probe) makes the report.
  if [ "$E2E_STATUS" = 0 ] && [[ "$E2E_COMMAND" == */MacOS/marlune* ]]; then
    _e2e_check_frames required
  else
    _e2e_check_frames
  fi
}

e2e_stop() {
  [ -n "$E2E_PID" ] || return 0
  _e2e_kill "$E2E_PID" TERM
  E2E_PID=""
}

e2e_screenshot() {
  local out=$1
  [ -n "$E2E_WID" ] || e2e_fail "no window to photograph"
  import -silent -window root -crop "${E2E_WIN_W}x${E2E_WIN_H}+${E2E_WIN_X}+${E2E_WIN_Y}" +repage "png:$out" \
    || e2e_fail "screenshot to $out failed"
}

e2e_pixel() { "$E2E_SHOT" pixel "$1" "$2" "$3" || e2e_fail "cannot read pixel $2 $3 of $1"; }
e2e_region_mean() { "$E2E_SHOT" region-mean "$@" || e2e_fail "cannot read region $2 $3 $4 $5 of $1"; }

# e2e_count_pixels FILE X Y W H AWK_COND - pixels of the program rectangle (y from the bottom)
# whose r, g, b (0-255) satisfy AWK_COND, e.g. "$E2E_YELLOW".
e2e_count_pixels() {
  convert "$1" -crop "${4}x${5}+${2}+$((600 - $3 - $5))" +repage -depth 8 txt:- 2>/dev/null |
    awk -F'[(),]+' 'NR > 1 { r = $3 + 0; g = $4 + 0; b = $5 + 0; if ('"$6"') n++ } END { print n + 0 }'
}
# Colour conditions for e2e_count_pixels: the menu's selected (yellow) and other (light grey)
# entries, and white text and frames.
E2E_YELLOW='r > 200 && g > 200 && b < 90'
E2E_GREY='r > 150 && r < 225 && g > 150 && g < 225 && b > 150 && b < 225 && r - b < 25 && b - r < 25'
E2E_WHITE='r > 200 && g > 200 && b > 200'

e2e_assert_pixel() {
  local file=$1 x=$2 y=$3 tol=${7:-10} got
  got=$(e2e_pixel "$file" "$x" "$y") || exit 1
  set -- $got "$4" "$5" "$6"
  awk -v t="$tol" "BEGIN { d1=$1-$4; d2=$2-$5; d3=$3-$6; exit !(d1*d1<=t*t && d2*d2<=t*t && d3*d3<=t*t) }" \
    || e2e_fail "pixel $x $y of $file is $1 $2 $3, want $4 $5 $6 (±$tol)"
}

e2e_capture_start() {
  [ -n "${RIG_SINK:-}" ] || e2e_fail "no sound server: run inside scripts/rig.sh without --no-audio"
  [ -z "$E2E_CAPTURE_PID" ] || e2e_fail "a capture is already running"
  E2E_CAPTURE_FILE=$1
  parec -d "$RIG_SINK.monitor" --file-format=wav --rate=44100 --channels=2 --format=s16le \
    --latency-msec=20 "$E2E_CAPTURE_FILE" 2>"$E2E_OUT/parec.txt" &
  E2E_CAPTURE_PID=$!
  local i
  for i in $(seq 100); do
    pactl list short source-outputs 2>/dev/null | grep -q . && return 0
    _e2e_alive "$E2E_CAPTURE_PID" || break
    sleep 0.1
  done
  e2e_fail "capture did not start: $(cat "$E2E_OUT/parec.txt")"
}

e2e_capture_stop() {
  [ -n "$E2E_CAPTURE_PID" ] || e2e_fail "no capture running"
  sleep 0.2  # let the last rendered audio reach the file
  _e2e_kill "$E2E_CAPTURE_PID" INT
  E2E_CAPTURE_PID=""
  e2e_wav_check "$E2E_CAPTURE_FILE"
}

e2e_wav_check() { "$E2E_WAVTOOL" info "$1" >/dev/null || e2e_fail "bad WAV file $1"; }
e2e_wav_seconds() { "$E2E_WAVTOOL" info "$1" | awk '$1 == "seconds" { print $2 }'; }
e2e_wav_rms() { "$E2E_WAVTOOL" rms "$@" || e2e_fail "wavtool rms $* failed"; }
e2e_wav_peak() { "$E2E_WAVTOOL" peak "$@" || e2e_fail "wavtool peak $* failed"; }
e2e_wav_pitch() { "$E2E_WAVTOOL" pitch "$@" || e2e_fail "no pitch found in $1 from $2 to $3 s"; }
e2e_wav_onsets() { "$E2E_WAVTOOL" onsets "$@" || e2e_fail "wavtool onsets $* failed"; }

e2e_wav_first_sound() {
  local t
  t=$("$E2E_WAVTOOL" onsets "$1" "${2:-0.05}" | awk 'NR == 1 { print $2 }')
  [ -n "$t" ] || e2e_fail "no sound in $1"
  echo "$t"
}

e2e_cents() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f\n", 1200 * log(a / b) / log(2) }'; }

e2e_assert_pitch() {
  local file=$1 from=$2 to=$3 want=$4 cents=${5:-5} got diff
  got=$(e2e_wav_pitch "$file" "$from" "$to") || exit 1
  diff=$(e2e_cents "$got" "$want")
  e2e_log "pitch $from-$to s: $got Hz ($diff cents from $want)"
  e2e_check "$diff <= $cents && $diff >= -$cents" "pitch of $file from $from to $to s is $got Hz, want $want Hz ±$cents cents"
}

e2e_assert_sound() {
  local file=$1 min=0.01 rms
  shift
  if [ $# = 1 ] || [ $# = 3 ]; then min=${!#}; set -- "${@:1:$#-1}"; fi
  rms=$(e2e_wav_rms "$file" "$@") || exit 1
  e2e_check "$rms >= $min" "$file ${1:+from $1 to $2 s }is too quiet: RMS $rms < $min"
}

e2e_assert_silence() {
  local file=$1 max=0.001 peak
  shift
  if [ $# = 1 ] || [ $# = 3 ]; then max=${!#}; set -- "${@:1:$#-1}"; fi
  peak=$(e2e_wav_peak "$file" "$@") || exit 1
  e2e_check "$peak <= $max" "$file ${1:+from $1 to $2 s }is not silent: peak $peak > $max"
}
