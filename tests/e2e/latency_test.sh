#!/usr/bin/env bash
# latency_test.sh - the output stream's latency under the rig's sound server stays close to
# the buffer size, as a live instrument needs: for 512 (the first opening), 2048 and 64
# frames (chosen in the menu: Down, then Return cycles 512 → 1024 → 2048 → 64), the
# server's "Buffer Latency" of the program's stream must stay within what the program lets
# it queue (four buffers, and never less than 1024 frames) plus 10 ms.
# The "Sink Latency" (the null sink's own, which jumps about on a busy machine) is reported
# beside it. Each size is sampled ten times after the stream has settled; the largest buffer
# latency counts. The figures go to
# stderr and to $MARLUNE_E2E_OUT/latency.txt.
set -uo pipefail
# shellcheck source=lib.sh
source "$MARLUNE_E2E_LIB"
# shellcheck source=robust_lib.sh
source "$(dirname -- "$0")/robust_lib.sh"
e2e_init
[ -n "${RIG_SINK:-}" ] || e2e_fail "no sound server: this test needs the rig's audio"

rate=44100
report="$E2E_OUT/latency.txt"
printf '%-7s %-10s %-22s %-22s %s\n' frames buffer_ms "buffer_lat_ms med/max" "sink_lat_ms med/max" limit_ms >"$report"

# stats FILE COLUMN - "median max" of a column of microseconds, in milliseconds.
stats() {
  sort -n -k"$2" "$1" | awk -v c="$2" '{ v[NR] = $c } END {
    m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    printf "%.1f %.1f\n", m / 1000, v[NR] / 1000 }'
}

# measure FRAMES - samples the program's stream 10 times over 2.5 s, once it has settled.
measure() {
  local frames=$1 i out n b s samples="$E2E_OUT/samples-$1.txt" limit period bm bx sm sx
  sleep 1.5
  : >"$samples"
  for i in $(seq 10); do
    out=$(pactl list sink-inputs) || e2e_fail "pactl list sink-inputs failed"
    n=$(grep -c '^Sink Input #' <<<"$out")
    [ "$n" = 1 ] || e2e_fail "want exactly one stream playing into the rig's sink, found $n"
    b=$(awk '/Buffer Latency:/ { print $3 }' <<<"$out")
    s=$(awk '/Sink Latency:/ { print $3 }' <<<"$out")
    [ -n "$b" ] && [ -n "$s" ] || e2e_fail "no latency figures in: $out"
    echo "$b $s" >>"$samples"
    sleep 0.25
  done
  read -r bm bx <<<"$(stats "$samples" 1)"
  read -r sm sx <<<"$(stats "$samples" 2)"
  period=$(awk -v f="$frames" -v r="$rate" 'BEGIN { printf "%.2f", 1000 * f / r }')
  # What the program lets the server queue: four buffers, or 1024 frames for smaller ones.
  limit=$(awk -v f="$frames" -v r="$rate" 'BEGIN { q = 4 * f; if (q < 1024) q = 1024; printf "%.1f", 1000 * q / r + 10 }')
  printf '%-7s %-10s %-22s %-22s %s\n' "$frames" "$period" "$bm / $bx" "$sm / $sx" "$limit" >>"$report"
  e2e_log "$frames frames: buffer latency median $bm ms, max $bx ms (limit $limit ms); sink latency median $sm ms, max $sx ms"
  e2e_check "$bx <= $limit" "buffer latency at $frames frames reaches $bx ms, more than the queue plus 10 ms ($limit ms)"
}

e2e_start_marlune
robust_wait_menu 30
measure 512
e2e_key Down
e2e_key Return  # 1024
sleep 0.5
e2e_key Return  # 2048
measure 2048
e2e_key Return  # 64
measure 64
e2e_move 10 10
e2e_screenshot "$E2E_OUT/menu-64.png"
e2e_key Escape Escape
e2e_wait_exit 10
robust_assert_clean_exit "quit after the latency checks"
[ "$E2E_STATUS" = 0 ] || e2e_fail "the program exited with status $E2E_STATUS"
cat "$report" >&2
e2e_pass
