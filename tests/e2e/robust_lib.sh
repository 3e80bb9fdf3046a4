# shellcheck shell=bash
# robust_lib.sh - helpers shared by the robustness tests (asset failures, read-only
# recording folder, signals, latency, soak). Source it after lib.sh and e2e_init:
#
#   source "$MARLUNE_E2E_LIB"; source "$(dirname "$0")/robust_lib.sh"; e2e_init
#
#   robust_copy_bundle DIR      copy the built Marlune.app into DIR (created); sets
#                               ROBUST_APP (DIR/Marlune.app) and ROBUST_PROGRAM. The program
#                               writes its recordings into DIR, never into the build folder.
#   robust_now                  wall-clock seconds with nanoseconds (for "within N s" checks)
#   robust_count_pixels FILE X Y W H COND
#                               prints how many pixels of the program rectangle (origin
#                               bottom-left) are of colour COND: "red" or "yellow"
#   robust_pixel_extent FILE X Y W H COND
#                               prints the leftmost and rightmost program x of a matching
#                               pixel in the rectangle, or "none none"
#   robust_wait_menu [SECS]     wait (default 30 s) until the menu is drawn: "Start" in yellow
#                               at (100, 150); fails if the program exits or never gets there
#   robust_click X Y [BUTTON] [HOLD_S]
#                               press, hold (default 0.1 s) and release: the pads read the
#                               button state once per audio buffer, through the event pump of
#                               the frame loop, so a click shorter than a frame can go unseen
#   robust_shift_click X Y [HOLD_S]  the same with Shift held (a right click on the pads)
#   robust_wait_game [SECS]     wait (default 15 s) until the game screen is drawn (the record
#                               pad's white frame at (50, 410))
#   robust_sanitizer_report FILE  true when FILE holds a sanitizer report (ASan, UBSan, LSan,
#                               TSan, RTSan)
#   robust_assert_clean_exit WHAT  fail unless E2E_STATUS is a plain exit (not a signal, no core
#                               dump) and stderr holds no sanitizer report
#
# All of them end the script through e2e_fail on error, like lib.sh's helpers.

ROBUST_APP=""
ROBUST_PROGRAM=""

robust_copy_bundle() {
  local dir=$1 source
  source=$(dirname -- "$(e2e_marlune_path)")/../..
  mkdir -p -- "$dir" || e2e_fail "cannot create $dir"
  cp -r -- "$(cd "$source" && pwd)" "$dir/" || e2e_fail "cannot copy the bundle into $dir"
  ROBUST_APP="$dir/Marlune.app"
  ROBUST_PROGRAM="$ROBUST_APP/Contents/MacOS/marlune"
  [ -x "$ROBUST_PROGRAM" ] || e2e_fail "the copied bundle has no program: $ROBUST_PROGRAM"
}

robust_now() { date +%s.%N; }

# _robust_pixels FILE X Y W H COND - "col match" lines (col from the rectangle's left edge).
_robust_pixels() {
  local file=$1 x=$2 y=$3 w=$4 h=$5 cond=$6 size top
  size=$("$E2E_SHOT" size "$file") || e2e_fail "cannot read $file"
  top=$(( ${size#* } - y - h ))
  # ImageMagick's text dump has one "col,row: (r,g,b)  #RRGGBB  srgb(...)" line per pixel.
  convert "$file" -crop "${w}x${h}+${x}+${top}" +repage -depth 8 txt:- 2>/dev/null |
    awk -v cond="$cond" '
      function hex(s,   i, v) { v = 0; for (i = 1; i <= 2; i++) v = v * 16 + index("0123456789ABCDEF", substr(s, i, 1)) - 1; return v }
      $1 ~ /^[0-9]+,[0-9]+:$/ && $3 ~ /^#/ {
        c = toupper(substr($3, 2, 6))
        r = hex(substr(c, 1, 2)); g = hex(substr(c, 3, 2)); b = hex(substr(c, 5, 2))
        m = (cond == "red") ? (r >= 90 && 3 * g <= r && 3 * b <= r) : \
            (cond == "yellow") ? (r >= 200 && g >= 200 && b <= 80) : 0
        split($1, p, ","); print p[1], m
      }'
}

robust_count_pixels() {
  _robust_pixels "$@" | awk '{ n += $2 } END { print n + 0 }'
}

robust_pixel_extent() {
  _robust_pixels "$@" | awk -v x0="$2" '
    $2 { c = $1 + x0; if (first == "" || c < first) first = c; if (last == "" || c > last) last = c }
    END { print (first == "" ? "none none" : first " " last) }'
}

robust_wait_menu() {
  local seconds=${1:-30} i shot n
  shot="$E2E_OUT/menu-wait.png"
  for i in $(seq $((seconds * 4))); do
    if [ -n "$E2E_PID" ] && ! _e2e_alive "$E2E_PID"; then
      wait "$E2E_PID"; E2E_STATUS=$?; E2E_PID=""
      e2e_fail "the program exited with status $E2E_STATUS before the menu appeared"
    fi
    if e2e_screenshot "$shot" 2>/dev/null; then
      n=$(robust_count_pixels "$shot" 100 150 70 25 yellow)
      [ "${n:-0}" -ge 20 ] && return 0
    fi
    sleep 0.25
  done
  e2e_fail "the menu did not appear within $seconds s"
}

robust_wait_game() {
  local seconds=${1:-15} i shot="$E2E_OUT/game-wait.png" left right
  for i in $(seq $((seconds * 4))); do
    _e2e_alive "$E2E_PID" || e2e_fail "the program ended before the game screen appeared"
    if e2e_screenshot "$shot" 2>/dev/null; then
      left=$("$E2E_SHOT" pixel "$shot" 50 447 2>/dev/null)
      right=$("$E2E_SHOT" pixel "$shot" 149 447 2>/dev/null)
      [ "$left" = "255 255 255" ] && [ "$right" = "255 255 255" ] && return 0
    fi
    sleep 0.25
  done
  e2e_fail "the game screen did not appear within $seconds s"
}

robust_click() {
  e2e_mouse_down "$1" "$2" "${3:-1}"
  sleep "${4:-0.1}"
  e2e_mouse_up "${3:-1}"
}

robust_shift_click() {
  e2e_move "$1" "$2"
  e2e_keydown shift
  sleep 0.05
  xdotool mousedown 1 && sleep "${3:-0.1}" && xdotool mouseup 1
  local ok=$?
  sleep 0.05
  e2e_keyup shift
  [ "$ok" = 0 ] || e2e_fail "shift click at $1 $2 failed"
}

robust_sanitizer_report() {
  grep -Eq '^==[0-9]+==(ERROR|WARNING): [A-Za-z]*Sanitizer|WARNING: ThreadSanitizer|runtime error: |^SUMMARY: [A-Za-z]*Sanitizer' "$1" 2>/dev/null
}

robust_assert_clean_exit() {
  local what=$1
  case "$E2E_STATUS" in
    134|136|139) e2e_fail "$what: the program crashed (status $E2E_STATUS)" ;;
  esac
  [ "$E2E_STATUS" -lt 128 ] || [ "$E2E_STATUS" = 130 ] || e2e_fail "$what: killed by a signal (status $E2E_STATUS)"
  if grep -qi 'core dumped\|Aborted\|Segmentation fault' "$E2E_OUT/stderr.txt" 2>/dev/null; then
    e2e_fail "$what: the program aborted"
  fi
  if robust_sanitizer_report "$E2E_OUT/stderr.txt"; then
    e2e_fail "$what: sanitizer report on stderr"
  fi
}
