#!/usr/bin/env bash
# soak.sh - a long end-to-end session of the real program at 64-frame buffers under the
# headless rig: random left clicks, right clicks and Shift-clicks on every pad, random chord
# edits on the chord pad, recording switched on and off, and now and then back to the menu
# and into a new game. At the end the program is quit from the menu, and the session passes
# when the program never died, ended with status 0, printed no sanitizer report, and every
# recording it wrote is a complete WAV (header sizes matching the data).
#
# Built with MARLUNE_AUDIO_PROBES=ON the program reports at shutdown how long its audio
# callbacks took; the session prints, per buffer size, the worst callback against the buffer
# period and how many callbacks overran it (reported, not judged: the figures depend on the
# machine). Other builds have no such figures, which the summary says.
#
# Usage: scripts/soak.sh [SECONDS] [BUILD_DIR]
#   SECONDS    length of the random session (default 300)
#   BUILD_DIR  the build folder holding Marlune.app and the e2e tools (default: the one named
#              by MARLUNE_BUILD_DIR, else ./build)
# Environment: SOAK_SEED  seed of the random actions (default: from the clock; printed, so a
#              session's sequence of actions can be repeated).
# Run outside the rig, the script starts scripts/rig.sh around itself. Artefacts (program
# output, recordings' checks, summary.txt) go to MARLUNE_E2E_OUT, else BUILD_DIR/soak-out.
# Exit status: 0 pass, 1 failure (the reason on stderr).
set -uo pipefail
here=$(cd "$(dirname -- "$0")" && pwd)
source_dir=$(cd "$here/.." && pwd)
seconds=${1:-300}
build=$(cd "${2:-${MARLUNE_BUILD_DIR:-build}}" 2>/dev/null && pwd) || { echo "soak: no build folder ${2:-${MARLUNE_BUILD_DIR:-build}}" >&2; exit 1; }
case "$seconds" in ''|*[!0-9]*) echo "soak: SECONDS must be a whole number, not '$seconds'" >&2; exit 1 ;; esac

export MARLUNE_BUILD_DIR=$build
export MARLUNE_BUNDLE_DIR=${MARLUNE_BUNDLE_DIR:-$build/Marlune.app/Contents}
export MARLUNE_SOURCE_DIR=${MARLUNE_SOURCE_DIR:-$source_dir}
export MARLUNE_WAVTOOL=${MARLUNE_WAVTOOL:-$build/tests/e2e/marlune_wavtool}
export MARLUNE_SHOT=${MARLUNE_SHOT:-$build/tests/e2e/marlune_shot}
export MARLUNE_E2E_LIB=${MARLUNE_E2E_LIB:-$source_dir/tests/e2e/lib.sh}
export MARLUNE_E2E_OUT=${MARLUNE_E2E_OUT:-$build/soak-out}
if [ -z "${RIG_DIR:-}" ]; then
  exec bash "$here/rig.sh" -- bash "$0" "$seconds" "$build"
fi

# shellcheck source=../tests/e2e/lib.sh
source "$MARLUNE_E2E_LIB"
# shellcheck source=../tests/e2e/robust_lib.sh
source "$source_dir/tests/e2e/robust_lib.sh"
e2e_init
seed=${SOAK_SEED:-$(date +%s)}
RANDOM=$seed
e2e_log "soak: $seconds s at 64-frame buffers, seed $seed"

folder="$RIG_DIR/soak"
robust_copy_bundle "$folder"

# Pads of the game screen: name x y w h (program coordinates, lower-left corner).
pads=(
  "chord 400 400 400 200" "metronome 50 500 100 75" "record 50 410 100 75"
  "blip1 25 250 150 120" "blip2 225 250 150 120" "lead1 425 250 150 120"
  "bass1 25 50 150 120" "bass2 225 50 150 120" "lead2 425 50 150 120"
  "kick 625 310 150 60" "snare 625 219 150 60" "closedhat 625 127 150 60" "openhat 625 35 150 60"
)
declare -A actions=()

# point PAD - prints a random point inside the pad, 2 pixels in from its frame.
point() {
  local _ x y w h
  read -r _ x y w h <<<"$1"
  echo "$((x + 2 + RANDOM % (w - 4))) $((y + 2 + RANDOM % (h - 4)))"
}

hold() { printf '0.%02d' $((5 + RANDOM % 25)); }

alive() { _e2e_alive "$E2E_PID" || e2e_fail "the program died during the session (after ${1:-?})"; }

start_game() {
  e2e_key Return
  robust_wait_game
}

e2e_start "$ROBUST_PROGRAM"
e2e_wait_window "Marlune v1.03" 30
robust_wait_menu 30
e2e_key Down
e2e_key Return Return Return  # 512 → 1024 → 2048 → 64 frames
sleep 0.5
e2e_key Up
start_game

deadline=$(( $(date +%s) + seconds ))
recording_clicks=0
while [ "$(date +%s)" -lt "$deadline" ]; do
  r=$((RANDOM % 100))
  pad=${pads[$((3 + RANDOM % 10))]}  # an instrument pad
  if [ "$r" -lt 40 ]; then
    what=left; read -r x y <<<"$(point "$pad")"; robust_click "$x" "$y" 1 "$(hold)"
  elif [ "$r" -lt 52 ]; then
    what=right; read -r x y <<<"$(point "$pad")"; robust_click "$x" "$y" 3 "$(hold)"
  elif [ "$r" -lt 62 ]; then
    what=shift; read -r x y <<<"$(point "$pad")"; robust_shift_click "$x" "$y" "$(hold)"
  elif [ "$r" -lt 80 ]; then
    what=chord; read -r x y <<<"$(point "${pads[0]}")"
    if [ $((RANDOM % 3)) = 0 ]; then robust_click "$x" "$y" 3 "$(hold)"; else robust_click "$x" "$y" 1 "$(hold)"; fi
  elif [ "$r" -lt 86 ]; then
    what=metronome; read -r x y <<<"$(point "${pads[1]}")"
    if [ $((RANDOM % 2)) = 0 ]; then robust_click "$x" "$y" 1 "$(hold)"; else robust_shift_click "$x" "$y" "$(hold)"; fi
  elif [ "$r" -lt 95 ]; then
    what=record; read -r x y <<<"$(point "${pads[2]}")"; robust_click "$x" "$y" 1 "$(hold)"
    recording_clicks=$((recording_clicks + 1))
  elif [ "$r" -lt 98 ]; then
    what=other; robust_click $((RANDOM % 800)) $((1 + RANDOM % 600)) $((RANDOM % 2 * 2 + 1)) "$(hold)"
  else
    what=new-game; e2e_key Escape; sleep 0.3; alive menu; start_game
  fi
  actions[$what]=$(( ${actions[$what]:-0} + 1 ))
  alive "$what"
  sleep "0.$((RANDOM % 30))"
done

e2e_move 10 590
e2e_screenshot "$E2E_OUT/last-game.png"
e2e_key Escape  # back to the menu: an open recording is closed
sleep 0.5
e2e_key Escape Escape
e2e_wait_exit 20
robust_assert_clean_exit "the soak session"
[ "$E2E_STATUS" = 0 ] || e2e_fail "the program ended with status $E2E_STATUS, want 0"

summary="$E2E_OUT/summary.txt"
{
  echo "soak: $seconds s, seed $seed"
  printf 'actions:'; for k in "${!actions[@]}"; do printf ' %s %s' "$k" "${actions[$k]}"; done; echo
  echo "record pad clicks: $recording_clicks"
} >"$summary"
wavs=0
for wav in "$folder"/*.wav; do
  [ -e "$wav" ] || continue
  info=$("$E2E_WAVTOOL" info "$wav" 2>&1) || e2e_fail "recording ${wav##*/} is not a complete WAV: $info"
  wavs=$((wavs + 1))
  echo "recording ${wav##*/}: $(awk '$1 == "seconds" { print $2 }' <<<"$info") s, header ok" >>"$summary"
done
echo "recordings: $wavs, all complete" >>"$summary"
if grep -q '^callback timing:' "$E2E_OUT/stderr.txt"; then
  grep '^callback timing:' "$E2E_OUT/stderr.txt" >>"$summary"
else
  echo "callback timing: not available (build with -DMARLUNE_AUDIO_PROBES=ON)" >>"$summary"
fi
cat "$summary"
[ "$recording_clicks" = 0 ] || [ "$wavs" -gt 0 ] || e2e_fail "the record pad was clicked $recording_clicks times but no recording was written"
e2e_pass
