#!/usr/bin/env bash
# rig_test.sh - proves the headless rig end to end with rig_probe.
#
# Usage: rig_test.sh RIG_PROBE
#   Environment: MARLUNE_SOURCE_DIR (for scripts/rig.sh), MARLUNE_WAVTOOL,
#   MARLUNE_SHOT, optional MARLUNE_E2E_OUT (artefact folder; default a temp dir).
#
# Runs the probe under scripts/rig.sh with --capture, then inside the rig:
# finds its window, clicks, right-clicks and Shift-clicks at known program
# coordinates and checks that the probe saw them at exactly those positions
# (±1 px), drags from one corner to the other, presses a letter and Escape,
# checks pixels of a screenshot, records a capture of its own and waits for a
# clean exit. After the rig has torn down it checks the captured
# WAV: well-formed header, not silent, and a 440 Hz tone within 5 cents.
# Exit status 0 on success; "FAIL: ..." and 1 otherwise.
set -uo pipefail
here=$(cd "$(dirname -- "$0")" && pwd)
source "$here/lib.sh"

if [ "${1:-}" = --inside ]; then
  probe=$2
  e2e_init
  e2e_start "$probe"
  e2e_wait_window "Rig Probe" 20
  e2e_wait_output '^audio started$' 10

  # Program coordinates: origin at the bottom-left corner, y up.
  # expect_click WHAT X Y [shift] - the probe's next WHAT line is X Y ±1.
  expect_click() {
    local gx gy
    e2e_wait_output "^$1 [0-9]+ [0-9]+${4:+ $4}\$" 5
    read -r _ gx gy _ <<<"$E2E_LINE"
    e2e_check "($gx - $2) <= 1 && ($2 - $gx) <= 1 && ($gy - $3) <= 1 && ($3 - $gy) <= 1" \
      "$1 seen at $gx $gy, want $2 $3 (±1)"
    e2e_mark_output
  }
  e2e_click 150 150
  expect_click click 150 150
  e2e_click 620 470 3
  expect_click rclick 620 470
  e2e_shift_click 700 500
  expect_click click 700 500 shift
  e2e_mouse_down 1 1
  expect_click click 1 1
  e2e_move 799 599
  e2e_mouse_up
  expect_click release 799 599
  e2e_key a
  e2e_wait_output '^key A$' 5

  # A capture from inside the rig, stopped and validated before the end.
  e2e_capture_start "$E2E_OUT/inside.wav"
  sleep 1.5
  e2e_capture_stop
  e2e_assert_pitch "$E2E_OUT/inside.wav" 0.2 1.0 440 5

  e2e_screenshot "$E2E_OUT/probe.png"
  e2e_assert_pixel "$E2E_OUT/probe.png" 150 150 255 0 0 8     # inside the red square
  e2e_assert_pixel "$E2E_OUT/probe.png" 100 100 255 0 0 8     # its lower-left pixel
  e2e_assert_pixel "$E2E_OUT/probe.png" 99 100 25 51 76 8     # just left of it
  e2e_assert_pixel "$E2E_OUT/probe.png" 400 300 25 51 76 8    # background

  # The tail of the audio (about the last second) may never reach the sink when
  # the program quits: play long enough for a 1 s pitch window.
  sleep 1.5
  e2e_key Escape
  e2e_wait_exit 10
  [ "$E2E_STATUS" = 0 ] || e2e_fail "rig_probe exited with status $E2E_STATUS"
  grep -q '^key Escape$' "$E2E_OUT/stdout.txt" || e2e_fail "Escape not seen"
  e2e_pass
fi

[ $# = 1 ] || { echo "usage: rig_test.sh RIG_PROBE" >&2; exit 2; }
probe=$1
rig="${MARLUNE_SOURCE_DIR:-$here/../..}/scripts/rig.sh"
out=${MARLUNE_E2E_OUT:-}
if [ -z "$out" ]; then out=$(mktemp -d "${TMPDIR:-/tmp}/rig_test.XXXXXX"); fi
rm -rf -- "$out" && mkdir -p -- "$out" || { echo "FAIL: cannot create $out" >&2; exit 1; }
E2E_OUT=$out
# shellcheck disable=SC2034 # read by the lib.sh helpers
E2E_WAVTOOL=${MARLUNE_WAVTOOL:-marlune_wavtool}
capture="$out/capture.wav"

MARLUNE_E2E_OUT="$out/inside" bash "$rig" --capture "$capture" -- bash "$0" --inside "$probe"
status=$?
[ "$status" = 0 ] || e2e_fail "the run inside the rig failed with status $status"

e2e_wav_check "$capture"
seconds=$(e2e_wav_seconds "$capture")
e2e_log "capture: $seconds s"
start=$(e2e_wav_first_sound "$capture" 0.05)
e2e_check "$seconds >= $start + 1.5" "capture too short: $seconds s, tone starts at $start s"
e2e_assert_sound "$capture" "$(awk -v s="$start" 'BEGIN { print s + 0.2 }')" \
  "$(awk -v s="$start" 'BEGIN { print s + 1.2 }')" 0.1
e2e_assert_pitch "$capture" "$(awk -v s="$start" 'BEGIN { print s + 0.2 }')" \
  "$(awk -v s="$start" 'BEGIN { print s + 1.2 }')" 440 5
e2e_pass
