# shellcheck shell=bash disable=SC2034,SC2086
# lib.sh - the rig's library: starts the program under scripts/rig.sh, drives it as a player
# would (keys, clicks, held presses, the scripted performance), screenshots it, captures what
# the sink plays and stops everything however the script ends. The headless demo
# (scripts/demo.sh), the benchmarks (bench/), the soak (scripts/soak.sh) and, through
# tests/e2e/lib.sh, the end-to-end tests share it. Source it inside scripts/rig.sh, then call
# e2e_init. Program coordinates throughout: origin at the window's lower-left corner, y up, as
# the program draws.
#
# Environment (set by marlune_e2e_test in tests/e2e/CMakeLists.txt, or by the caller):
# MARLUNE_BUNDLE_DIR (.../Contents), MARLUNE_BUILD_DIR, MARLUNE_APP_ID (the desktop's name for
# the program), MARLUNE_WAVTOOL, MARLUNE_PADS, MARLUNE_TAPPER, MARLUNE_JACKPROBE,
# MARLUNE_E2E_OUT (artefacts), MARLUNE_FRAME_CHECK (1: the program checks its frames and reports
# at exit), MARLUNE_SANITIZER; and the rig's DISPLAY, PULSE_SERVER, RIG_SINK, RIG_DIR.
#
# Every helper succeeds or ends the script through e2e_fail ("FAIL: ..." on stderr, the tail of
# the program's output, status 1). The program and the capture are stopped however the script
# ends. The program's stderr is checked for sanitizer reports before each new start and at
# e2e_pass, and for its frame check report after each normal exit.
#
# Sound reaches the sink some 0.4 s after the program renders it: judge audio timing from sample
# positions in a capture or recording, never from the wall clock.

E2E_OWN=() E2E_SERVER="" E2E_SERVER_CMD=() E2E_SERVER_ENV=()
E2E_EXPOSED="" E2E_JACKD="" E2E_LOAD_PID="" E2E_PID="" E2E_STATUS="" E2E_WID="" E2E_WAV="" E2E_CAPTURE_PID="" E2E_CAPTURE="" E2E_LINE="" E2E_MARK=0
E2E_YELLOW='r > 200 && g > 200 && b < 90'
E2E_GREY='r > 150 && r < 225 && g > 150 && g < 225 && b > 150 && b < 225 && r - b < 25 && b - r < 25'
E2E_WHITE='r > 200 && g > 200 && b > 200'
E2E_RED='r >= 90 && 3 * g <= r && 3 * b <= r'
declare -A E2E_PAD=()

e2e_log() { echo "e2e: $*" >&2; }

e2e_fail() { echo "FAIL: $*" >&2; tail -n 15 "$E2E_OUT/stdout.txt" "$E2E_OUT/stderr.txt" >&2 2>/dev/null; exit 1; }

# e2e_check AWK_CONDITION MESSAGE...
e2e_check() { local c=$1; shift; awk "BEGIN { exit !($c) }" || e2e_fail "$* (failed: $c)"; }
e2e_calc() { awk "BEGIN { print $1 }"; }

# Any sanitizer's report in the program's stderr fails the test, however the program ended.
_e2e_check_sanitizers() {
  ! grep -Eq '(ERROR|WARNING): (Address|Leak|Thread|Realtime|UndefinedBehavior)Sanitizer|: runtime error: ' \
    "$E2E_OUT/stderr.txt" 2>/dev/null || e2e_fail "sanitizer report in the program's stderr"
}

# With MARLUNE_FRAME_CHECK=1 the program prints at exit "frame check: N skipped frames compared, M differing; K
# shown frames replayed, L differing; picture kept: KEEPER; E redrawn after exposure": both
# differing counts must be 0, the picture kept where MARLUNE_PICTURE_KEEPER forces it, and after
# a normal exit the report must be there. E2E_EXPOSED set (by e2e_expose): E at least 1.
_e2e_check_frames() {
  [ "${MARLUNE_FRAME_CHECK:-0}" = 1 ] || return 0
  local line
  line=$(grep -E '^frame check: ' "$E2E_OUT/stderr.txt" 2>/dev/null | tail -n 1)
  [ -n "$line" ] || { [ "${1:-}" = required ] && e2e_fail "no frame check report in the program's stderr"; return 0; }
  e2e_log "$line"
  awk '{ for (i = 2; i <= NF; i++) if ($i ~ /^differing/ && $(i - 1) + 0 != 0) bad = 1 } END { exit bad }' <<<"$line" ||
    e2e_fail "frames differ from the picture they stand for: $line"
  [ -z "${MARLUNE_PICTURE_KEEPER:-}" ] || [[ $line == *"picture kept: $MARLUNE_PICTURE_KEEPER;"* ]] ||
    e2e_fail "the picture was not kept where MARLUNE_PICTURE_KEEPER=$MARLUNE_PICTURE_KEEPER says: $line"
  [ -z "${E2E_EXPOSED:-}" ] || [[ $line =~ \ ([1-9][0-9]*)\ redrawn\ after\ exposure ]] ||
    e2e_fail "the window was exposed, and no frame was redrawn for it: $line"
}

e2e_pass() { _e2e_check_sanitizers; echo "PASS: $(basename -- "$0")" >&2; exit 0; }

_e2e_cleanup() {
  [ -z "$E2E_PID" ] || _e2e_kill "$E2E_PID" TERM
  [ -z "$E2E_CAPTURE_PID" ] || _e2e_kill "$E2E_CAPTURE_PID" INT
  [ -z "$E2E_LOAD_PID" ] || _e2e_kill "$E2E_LOAD_PID" TERM
  [ -z "$E2E_JACKD" ] || _e2e_kill "$E2E_JACKD" TERM
  local p
  for p in "${E2E_OWN[@]}"; do _e2e_kill "$p" TERM; done
}

e2e_init() {
  set -uo pipefail
  E2E_OUT=${MARLUNE_E2E_OUT:-${RIG_DIR:-/tmp}/e2e-$(basename -- "$0" .sh)}
  rm -rf -- "$E2E_OUT" && mkdir -p -- "$E2E_OUT" || { echo "FAIL: cannot create $E2E_OUT" >&2; exit 1; }
  trap _e2e_cleanup EXIT; trap 'exit 130' INT; trap 'exit 143' TERM
  E2E_PROGRAM="${MARLUNE_BUNDLE_DIR:?register the test with marlune_e2e_test}/MacOS/marlune"
  [ -x "$E2E_PROGRAM" ] || e2e_fail "program not built: $E2E_PROGRAM"
  # The pads as the preset lays them out: E2E_PAD[NAME]="X Y W H".
  local x y w h name
  while read -r x y w h name; do E2E_PAD[$name]="$x $y $w $h"; done \
    < <("${MARLUNE_PADS:?}" "$MARLUNE_BUNDLE_DIR/Resources")
  [ "${#E2E_PAD[@]}" = 13 ] || e2e_fail "marlune_pads did not list the thirteen pads"
}

# e2e_bundle DIR - copies the built bundle into DIR and runs the program from there: its
# recordings then land in DIR, never in the build folder.
e2e_bundle() {
  mkdir -p -- "$1" && cp -r -- "$(dirname -- "$MARLUNE_BUNDLE_DIR")" "$1/" || e2e_fail "cannot copy the bundle to $1"
  MARLUNE_BUNDLE_DIR="$(cd "$1" && pwd)/Marlune.app/Contents"
  E2E_PROGRAM="$MARLUNE_BUNDLE_DIR/MacOS/marlune"
}

# The recordings in DIR, named YYYY-MM-DD_HH-MM[_N].wav, oldest name first.
e2e_recordings() {
  find "$1" -maxdepth 1 -type f -printf '%f\n' | grep -E '^[0-9]{4}(-[0-9]{2}){2}_[0-9]{2}-[0-9]{2}(_[0-9]+)?\.wav$' | sort
}

# True while PID is a live process (a zombie counts as ended).
_e2e_alive() { local s; s=$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null) && [ -n "$s" ] && [ "$s" != Z ]; }

# _e2e_kill PID SIGNAL - signal, wait up to 5 s, then SIGKILL; reaps a child.
_e2e_kill() {
  kill -"$2" "$1" 2>/dev/null
  for _ in $(seq 50); do _e2e_alive "$1" || break; sleep 0.1; done
  kill -KILL "$1" 2>/dev/null; wait "$1" 2>/dev/null; return 0
}

# e2e_start [CMD ARGS...] - starts CMD (default: the program) in the background, output to
# E2E_OUT, waits for the window "Marlune v1.03" and focuses it. If the program ends first, that
# fails, unless E2E_MAY_EXIT is set: then E2E_PID is empty and E2E_STATUS its status.
e2e_start() {
  [ -z "$E2E_PID" ] || ! _e2e_alive "$E2E_PID" || e2e_fail "a program is already running ($E2E_PID)"
  _e2e_check_sanitizers
  [ $# -gt 0 ] || set -- "$E2E_PROGRAM"
  "$@" >"$E2E_OUT/stdout.txt" 2>"$E2E_OUT/stderr.txt" </dev/null &
  E2E_PID=$! E2E_STATUS="" E2E_MARK=0 E2E_WAV="" E2E_EXPOSED=""
  e2e_log "started $* (pid $E2E_PID)"
  E2E_WID=""
  for _ in $(seq 300); do
    E2E_WID=$(xdotool search --onlyvisible --name '^Marlune v1\.03$' 2>/dev/null | head -n 1)
    # A program may end just after its window appears (a start-up failure): then no focus.
    local WINDOW X Y WIDTH HEIGHT SCREEN
    [ -n "$E2E_WID" ] && eval "$(xdotool getwindowgeometry --shell "$E2E_WID" 2>/dev/null)" && [ -n "${X:-}" ] &&
      xdotool windowfocus --sync "$E2E_WID" 2>/dev/null && { E2E_WIN="$X $Y $WIDTH $HEIGHT"; return 0; }
    if ! _e2e_alive "$E2E_PID"; then
      e2e_wait_exit 1
      [ -n "${E2E_MAY_EXIT:-}" ] && return 0
      e2e_fail "the program exited with status $E2E_STATUS before its window appeared"
    fi
    sleep 0.1
  done
  e2e_fail "no window \"Marlune v1.03\" to focus within 30 s"
}

# e2e_record DIR - in the game, presses the record pad and waits for the new recording in DIR;
# sets E2E_WAV to its path. e2e_recorded SECONDS - waits until E2E_WAV holds SECONDS of audio
# (the program's own clock; fails if it stops growing for 5 s).
e2e_record() {
  e2e_press $(e2e_pad Record)
  for _ in $(seq 50); do E2E_WAV=$(e2e_recordings "$1" | head -n 1); [ -n "$E2E_WAV" ] && break; sleep 0.1; done
  [ -n "$E2E_WAV" ] || e2e_fail "the record pad started no recording in $1"
  E2E_WAV="$1/$E2E_WAV"
}

# e2e_move X Y / e2e_press X Y [BUTTON] [HOLD_S] [shift] - the pointer to a program point, and
# a press held HOLD_S (default 0.15 s) there, with Shift if asked: the pads read the buttons
# once per audio buffer, so a press shorter than a buffer could go unseen. BUTTON 1 left, 3
# right; a HOLD_S of 0 leaves the button down (release with e2e_release).
e2e_move() {
  local wx wy ww wh X Y SCREEN WINDOW; read -r wx wy ww wh <<<"$E2E_WIN"
  # A pointer already there (left by an earlier run of the program) makes no motion, and
  # xdotool's --sync would wait for one until its own 15 s timeout.
  eval "$(xdotool getmouselocation --shell)"
  [ "$X $Y" = "$((wx + $1)) $((wy + wh - $2))" ] && return 0
  xdotool mousemove --sync $((wx + $1)) $((wy + wh - $2)) || e2e_fail "cannot move the pointer to $1 $2"
}
e2e_press() {
  e2e_move "$1" "$2"
  [ "${5:-}" = shift ] && xdotool keydown shift
  xdotool mousedown "${3:-1}" || e2e_fail "press at $1 $2 failed"
  [ "${4:-0.15}" = 0 ] && return 0
  sleep "${4:-0.15}"
  e2e_release "${3:-1}"
  [ "${5:-}" = shift ] && xdotool keyup shift
  sleep 0.05
}
e2e_release() { xdotool mouseup "${1:-1}" || e2e_fail "release failed"; }

# e2e_pad NAME [DX DY] - the point DX DY (default: the centre) from the pad's lower-left corner.
# e2e_pad_row NAME DX ROW ROWS - DX from the left edge, in the middle of row ROW of ROWS.
e2e_pad() { local x y w h; read -r x y w h <<<"${E2E_PAD[$1]:?no pad $1}"; echo "$((x + ${2:-w / 2})) $((y + ${3:-h / 2}))"; }
e2e_pad_row() { local x y w h; read -r x y w h <<<"${E2E_PAD[$1]:?no pad $1}"; echo "$((x + $2)) $((y + h * (2 * $3 + 1) / (2 * $4)))"; }

# Keys go through XTEST to the focused window, as a keyboard's would.
e2e_key() { xdotool key --delay 60 "$@" || e2e_fail "key $* failed"; }

# e2e_wait_exit [SECS] - waits (default 20 s) for the program to end; sets E2E_STATUS; fails on
# a hang (killing it), on a crash (a signal other than SIGINT, SIGTERM, SIGKILL) and, after
# status 0, on a missing or failed frame check.
e2e_wait_exit() {
  [ -n "$E2E_PID" ] || return 0
  for _ in $(seq $((${1:-20} * 10))); do _e2e_alive "$E2E_PID" || break; sleep 0.1; done
  if _e2e_alive "$E2E_PID"; then _e2e_kill "$E2E_PID" TERM; E2E_PID=""; e2e_fail "the program still ran after ${1:-20} s"; fi
  wait "$E2E_PID"
  E2E_STATUS=$? E2E_PID=""
  e2e_log "the program exited with status $E2E_STATUS"
  _e2e_check_sanitizers
  case $E2E_STATUS in 0) _e2e_check_frames required ;; 130|137|143|1) _e2e_check_frames ;;
    *) e2e_fail "the program crashed (status $E2E_STATUS)" ;; esac
}

# e2e_quit [ESCAPES] - Escape, Escape (or more, from the game) and a normal exit, status 0.
e2e_quit() {
  local n=${1:-2}
  [ "$n" -gt 2 ] && { e2e_key Escape; e2e_wait_screen menu; n=2; }
  e2e_key $(printf 'Escape %.0s' $(seq $n))
  e2e_wait_exit 10
  [ "$E2E_STATUS" = 0 ] || e2e_fail "the program ended with status $E2E_STATUS after Escape, Escape"
}

e2e_screenshot() {
  local wx wy ww wh; read -r wx wy ww wh <<<"$E2E_WIN"
  import -silent -window root -crop "${ww}x${wh}+${wx}+${wy}" +repage "png:$1" || e2e_fail "screenshot to $1 failed"
}

# e2e_count FILE X Y W H COND - how many pixels of the program rectangle satisfy the awk
# condition COND on r, g, b (0 to 255), e.g. "$E2E_YELLOW". e2e_extent: the leftmost and
# rightmost program x of such a pixel, or "none none".
_e2e_pixels() {
  convert "$1" -crop "${4}x${5}+${2}+$((600 - $3 - $5))" +repage -depth 8 txt:- 2>/dev/null |
    awk -F'[(),:]+' -v x0="$2" 'NR > 1 { r = $4 + 0; g = $5 + 0; b = $6 + 0; if ('"$6"') print x0 + $1 }'
}
e2e_count() { _e2e_pixels "$@" | wc -l; }
e2e_extent() { _e2e_pixels "$@" | sort -n | awk 'NR == 1 { a = $1 } { b = $1 } END { print (NR ? a " " b : "none none") }'; }

# e2e_entry_digits FILE - a signature of the number the menu's "Buffer Size" entry shows in the
# screenshot FILE (its pixels at (250, 120), black and white): equal for equal numbers.
e2e_entry_digits() {
  convert "$1" -crop "70x20+250+460" +repage -colorspace gray -threshold 55% -depth 8 txt:- |
    awk -F'[(),]+' 'NR > 1 { printf "%s", ($3 > 128 ? 1 : 0) }' | md5sum | cut -c1-32
}

# e2e_wait_screen menu|game [SECS] - screenshots (to E2E_OUT/NAME.png) until the menu ("Start"
# selected, in yellow) or the game (the record pad's white frame) is drawn; default 20 s.
e2e_wait_screen() {
  local shot="$E2E_OUT/$1.png" i x y w h
  read -r x y w h <<<"${E2E_PAD[Record]}"
  for i in $(seq $((${2:-20} * 5))); do
    _e2e_alive "$E2E_PID" || e2e_fail "the program ended before the $1 appeared"
    e2e_screenshot "$shot"
    if [ "$1" = menu ]; then [ "$(e2e_count "$shot" 100 150 60 20 "$E2E_YELLOW")" -ge 20 ] && return 0
    elif [ "$(e2e_count "$shot" "$x" $((y + 10)) 1 $((h - 20)) "$E2E_WHITE")" -ge $((h - 20)) ] &&
         [ "$(e2e_count "$shot" $((x + w - 1)) $((y + 10)) 1 $((h - 20)) "$E2E_WHITE")" -ge $((h - 20)) ]; then
      return 0
    fi
    sleep 0.2
  done
  e2e_fail "no $1 on screen within ${2:-20} s (last picture: $shot)"
}

# e2e_capture_start FILE - records the rig's sink from now on (it advances only while some
# stream plays), or, while a JACK server of the test's own runs (e2e_jack_start), what reaches
# its playback ports (marlune_jackprobe record). e2e_capture_stop - ends it; the WAV is then
# complete and checked.
e2e_capture_start() {
  [ -z "$E2E_CAPTURE_PID" ] || e2e_fail "a capture is already running"
  E2E_CAPTURE=$1
  if [ -n "$E2E_JACKD" ]; then
    rm -f -- "$1"
    "${MARLUNE_JACKPROBE:?}" record "$1" 2>"$E2E_OUT/parec.txt" &
    E2E_CAPTURE_PID=$!
    for _ in $(seq 100); do [ -s "$1" ] && return 0; sleep 0.1; done
    e2e_fail "the JACK capture did not start: $(cat "$E2E_OUT/parec.txt")"
  fi
  parec -d "$RIG_SINK.monitor" --file-format=wav --rate=44100 --channels=2 --format=s16le \
    --latency-msec=20 "$1" 2>"$E2E_OUT/parec.txt" &
  E2E_CAPTURE_PID=$!
  for _ in $(seq 100); do pactl list short source-outputs 2>/dev/null | grep -q . && return 0; sleep 0.1; done
  e2e_fail "the capture did not start: $(cat "$E2E_OUT/parec.txt")"
}
e2e_capture_stop() { sleep 0.2; _e2e_kill "$E2E_CAPTURE_PID" INT; E2E_CAPTURE_PID=""; e2e_wav "$E2E_CAPTURE" info >/dev/null; }

# e2e_jack_start [PERIOD] - a JACK server of the test's own (Debian's jackd1, the dummy driver,
# 44.1 kHz, PERIOD frames a period, default 512) named JACK_DEFAULT_SERVER, which the caller
# exports: the program and the tools then use it. Not real-time: a real-time jackd1 stops
# itself ("too many consecutive interrupt delays") or drops clients when a shared machine
# delays its short periods. Always the same name per test: the JACK registry holds eight
# servers at the most, and reclaims the entry of a dead server only for a server of the same
# name. E2E_JACKD is its pid. e2e_jack_stop [SIGNAL] - ends it (default TERM).
e2e_jack_start() {
  command -v jackd >/dev/null || e2e_fail "jackd is not installed (scripts/install-deps.sh)"
  [ -n "${JACK_DEFAULT_SERVER:-}" ] || e2e_fail "export JACK_DEFAULT_SERVER before e2e_jack_start"
  jackd -n "$JACK_DEFAULT_SERVER" -r -d dummy -r 44100 -p "${1:-512}" >>"$E2E_OUT/jackd.log" 2>&1 &
  E2E_JACKD=$!
  for _ in $(seq 50); do "$MARLUNE_JACKPROBE" 0 >/dev/null 2>&1 && return 0; sleep 0.1; done
  e2e_fail "the JACK server did not come up (see $E2E_OUT/jackd.log)"
}
e2e_jack_stop() { [ -z "$E2E_JACKD" ] || _e2e_kill "$E2E_JACKD" "${1:-TERM}"; E2E_JACKD=""; }

# e2e_load_start - a busy desktop beside the program from now on (1200 rounds at the most), at
# normal priority: memory churn as a web browser makes it (dd allocates 600 MB, fills every
# page of it and exits, handing it back; 0.2 s later the same again) and one core kept busy.
# e2e_load_stop - ends it and logs how many rounds of churn it made.
e2e_load_start() {
  [ -z "$E2E_LOAD_PID" ] || e2e_fail "the desktop load already runs"
  (
    while :; do :; done &
    trap "kill $!; exit" TERM
    for _ in $(seq 1200); do
      dd if=/dev/zero of=/dev/null bs=600M count=1 status=none && echo -n . >>"$E2E_OUT/load.txt"
      sleep 0.2
    done
  ) &
  E2E_LOAD_PID=$!
}
e2e_load_stop() {
  _e2e_kill "$E2E_LOAD_PID" TERM; E2E_LOAD_PID=""
  local rounds; rounds=$(wc -c <"$E2E_OUT/load.txt" 2>/dev/null || echo 0)
  [ "$rounds" -gt 0 ] || e2e_fail "the desktop load did not run"
  e2e_log "desktop load: $rounds rounds of memory churn"
}

# e2e_wav FILE COMMAND ARGS... - marlune_wavtool COMMAND FILE ARGS (see wavtool.cpp).
e2e_wav() { local f=$1 c=$2; shift 2; "$MARLUNE_WAVTOOL" "$c" "$f" "$@" || e2e_fail "wavtool $c $f $* failed"; }
e2e_wav_field() { e2e_wav "$1" info | awk -v k="$2" '{ for (i = 1; i < NF; i++) if ($i == k) print $(i + 1) }'; }

# e2e_assert_sound FILE FROM TO MIN_RMS / e2e_assert_silence FILE FROM TO MAX_PEAK
e2e_assert_sound() { local v; v=$(e2e_wav "$1" rms "$2" "$3") && e2e_check "$v >= $4" "$1 from $2 to $3 s: RMS $v < $4" || exit 1; }
e2e_assert_silence() { local v; v=$(e2e_wav "$1" peak "$2" "$3") && e2e_check "$v <= $4" "$1 from $2 to $3 s: peak $v > $4" || exit 1; }

# e2e_assert_recording FILE MIN_S - a complete WAV (header sizes agree with the data) in the
# stream's format, at least MIN_S long, not silent.
e2e_assert_recording() {
  local info; info=$(e2e_wav "$1" info) || exit 1
  e2e_log "recording ${1##*/}: $info"
  [[ "$info" == "channels 2 rate 44100 seconds "* ]] || e2e_fail "$1 is not 2-channel 44100 Hz"
  e2e_check "${info##* } >= $2" "the recording $1 lasts under $2 s"
  e2e_assert_sound "$1" 0 "${info##* }" 0.002
}

# e2e_perform DIR TIMELINE [MORE] - the scripted performance of the game test and the demo, from the
# menu, recorded by the program into DIR (the folder beside the bundle, empty of recordings).
# Every sound to be checked gets a stretch of its own between silences, so it can be found in
# the recording itself. Time is kept by the recording (its size), which a busy machine slows
# like the audio clock; TIMELINE gets "NAME SECONDS" on that clock for the sections the test
# looks up. Seconds 0-3 the metronome alone; from 4 one kick, repeating every loop, cleared from
# 9 by the right button held on the pad for more than a loop; "lead": "Lead 1" row 0 (the
# chord's root, C) held for about eight steps; "chord_last": root "G" clicked in all four chord
# segments, so that from pass "lead_g_pass" (counted from the lead's first) the lead plays on G;
# then what the function MORE plays (the demo's groove), 4 s, and "record_off".
# The game stays on screen afterwards, the recording closed, the pointer off the pads.
_e2e_time() {
  local size=0
  [ -n "$E2E_WAV" ] && size=$(stat -c %s -- "$E2E_WAV" 2>/dev/null || echo 0)
  awk -v s="$size" 'BEGIN { d = (s - 44) / 176400; printf "%.3f\n", d < 0 ? 0 : int(d * 1000) / 1000 }'
}
_e2e_mark() { echo "$1 $(_e2e_time)" >>"$E2E_TIMELINE"; e2e_log "$(_e2e_time) s: $1"; }
e2e_at() { awk -v n="$1" '$1 == n { print $2; exit }' "$E2E_TIMELINE"; }
# Waits until the recording holds SECONDS of audio; fails if it stops growing for 5 s.
e2e_recorded() {
  local now last="" still=0
  while now=$(_e2e_time); ! awk -v n="$now" -v t="$1" 'BEGIN { exit !(n >= t) }'; do
    [ "$now" = "$last" ] && still=$((still + 1)) || still=0 last=$now
    [ "$still" -lt 250 ] || e2e_fail "the recording $E2E_WAV stopped growing at $now s"
    sleep 0.02
  done
}
# _e2e_hold X Y BUTTON SECONDS - a press held for SECONDS of recorded audio.
_e2e_hold() { e2e_press "$1" "$2" "$3" 0; e2e_recorded "$(e2e_calc "$(_e2e_time) + $4")"; e2e_release "$3"; sleep 0.1; }
e2e_perform() {
  E2E_TIMELINE=$2; : >"$E2E_TIMELINE"
  e2e_key Return
  e2e_wait_screen game
  sleep 1.5  # the menu theme fades out
  e2e_press $(e2e_pad Metronome)
  sleep 0.3
  [ -z "$(e2e_recordings "$1")" ] || e2e_fail "$1 already holds a recording"
  e2e_record "$1"
  local k lead pass
  e2e_recorded 3.0
  e2e_press $(e2e_pad Metronome)
  e2e_recorded 4.0
  e2e_press $(e2e_pad Kick 140 30) 1 0.18  # held across a step boundary
  e2e_recorded 9.0
  _e2e_hold $(e2e_pad Kick 75 30) 3 2.3
  e2e_recorded 12.1
  _e2e_mark lead
  _e2e_hold $(e2e_pad_row "Lead 1" 140 0 8) 1 1.0
  lead=$(e2e_at lead)
  e2e_recorded "$(e2e_calc "$lead + 3.4")"
  for k in 0 1 2 3; do e2e_press $(e2e_pad_row Chord $((100 * k + 12)) 7 12); done
  _e2e_mark chord_last
  # The first pass that starts half a second after the last click (the way from a click to
  # the audio thread on a busy machine) plays on G.
  pass=$(awk -v l="$lead" -v c="$(e2e_at chord_last)" 'BEGIN { k = 1; while (l + 2 * k - 0.5 <= c) k++; print k }')
  echo "lead_g_pass $pass" >>"$E2E_TIMELINE"
  e2e_recorded "$(e2e_calc "$lead + 2 * $pass + 1.3")"
  [ -z "${3:-}" ] || { _e2e_mark groove; "$3"; }
  e2e_recorded "$(e2e_calc "$(_e2e_time) + 4")"
  _e2e_mark record_off
  e2e_press $(e2e_pad Record)
  e2e_move 200 400
  sleep 0.5
}
