# shellcheck shell=bash
# hydrogen_lib.sh - what the benchmarks that run Debian's hydrogen beside Marlune share; sourced.

# hydrogen_dismiss_note - a development-version note may pop up in the middle of the screen
# while hydrogen loads (within 10 s): its "Ok" closes it.
hydrogen_dismiss_note() {
  local note=""
  for _ in $(seq 10); do
    sleep 1
    note=$(xwininfo -root -children | awk '/"Hydrogen": \("hydrogen" "Hydrogen"\)  500x126\+240\+267/ { print $1 }')
    if [ -n "$note" ] && xwininfo -id "$note" | grep -q 'IsViewable'; then
      sleep 1
      xdotool mousemove 448 368 click 1
      return 0
    fi
  done
}
