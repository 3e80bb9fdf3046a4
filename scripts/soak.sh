#!/usr/bin/env bash
# soak.sh [SECONDS] [BUILD_DIR] - a long session of the real program at 64-frame buffers under
# the headless rig: random left, right and Shift-clicks on every pad, chord edits, recording on
# and off, now and then back to the menu and into a new game; then quit from the menu. Passes
# when the program never died, ended with status 0, printed no sanitizer report, and every
# recording it wrote is a complete WAV.
#   SECONDS    length of the random session (default: SOAK_SECONDS, else 300; the tests: 30)
#   BUILD_DIR  the build holding Marlune.app and the e2e tools (default: MARLUNE_BUILD_DIR or build)
#   SOAK_SEED  seed of the random actions (default: the clock; printed, to repeat a session)
# Built with -DMARLUNE_AUDIO_PROBES=ON the program reports its callback timing at exit, which
# goes into the summary (MARLUNE_E2E_OUT/summary.txt, else BUILD_DIR/soak-out/summary.txt).
set -uo pipefail
here=$(cd "$(dirname -- "$0")" && pwd)
seconds=${1:-${SOAK_SECONDS:-300}}
build=$(cd "${2:-${MARLUNE_BUILD_DIR:-build}}" && pwd) || exit 1
export MARLUNE_BUILD_DIR=$build MARLUNE_BUNDLE_DIR=${MARLUNE_BUNDLE_DIR:-$build/Marlune.app/Contents}
export MARLUNE_WAVTOOL=${MARLUNE_WAVTOOL:-$build/tools/rig/marlune_wavtool} MARLUNE_PADS=${MARLUNE_PADS:-$build/tools/rig/marlune_pads}
export MARLUNE_E2E_OUT=${MARLUNE_E2E_OUT:-$build/soak-out}
[ -n "${RIG_DIR:-}" ] || exec bash "$here/rig.sh" -- bash "$0" "$seconds" "$build"
source "$here/../tools/rig/lib.sh"
e2e_init
seed=${SOAK_SEED:-$(date +%s)}
RANDOM=$seed
e2e_log "soak: $seconds s at 64-frame buffers, seed $seed"
folder="$RIG_DIR/soak"
e2e_bundle "$folder"
mapfile -t pads < <(printf '%s\n' "${!E2E_PAD[@]}" | grep -vx 'Chord\|Metronome\|Record')
# point PAD - a random point inside the pad, 2 pixels in from its frame.
point() { local x y w h; read -r x y w h <<<"${E2E_PAD[$1]}"; echo "$((x + 2 + RANDOM % (w - 4))) $((y + 2 + RANDOM % (h - 4)))"; }
hold() { printf '0.%02d' $((5 + RANDOM % 25)); }
alive() { _e2e_alive "$E2E_PID" || e2e_fail "the program died during the session (after $1)"; }
start_game() { e2e_key Return; e2e_wait_screen game; }

e2e_start
e2e_wait_screen menu
e2e_key Down Return Return Return  # 512 → 1024 → 2048 → 64 frames
sleep 0.5
e2e_key Up
start_game
declare -A actions=()
deadline=$(($(date +%s) + seconds))
while [ "$(date +%s)" -lt "$deadline" ]; do
  r=$((RANDOM % 100)) pad=${pads[$((RANDOM % ${#pads[@]}))]}
  if [ "$r" -lt 40 ]; then what=left; e2e_press $(point "$pad") 1 "$(hold)"
  elif [ "$r" -lt 52 ]; then what=right; e2e_press $(point "$pad") 3 "$(hold)"
  elif [ "$r" -lt 62 ]; then what=shift; e2e_press $(point "$pad") 1 "$(hold)" shift
  elif [ "$r" -lt 80 ]; then what=chord; e2e_press $(point Chord) $((RANDOM % 3 ? 1 : 3)) "$(hold)"
  elif [ "$r" -lt 86 ]; then what=metronome; [ $((RANDOM % 2)) = 0 ] && what=metronome-shift
    e2e_press $(point Metronome) 1 "$(hold)" "${what#metronome-}"
  elif [ "$r" -lt 95 ]; then what=record; e2e_press $(point Record) 1 "$(hold)"
  elif [ "$r" -lt 98 ]; then what=other; e2e_press $((RANDOM % 800)) $((1 + RANDOM % 600)) $((RANDOM % 2 * 2 + 1)) "$(hold)"
  else what=new-game; e2e_key Escape; e2e_wait_screen menu; start_game
  fi
  actions[$what]=$((${actions[$what]:-0} + 1))
  alive "$what"
  sleep "0.$((RANDOM % 30))"
done
e2e_move 10 590
e2e_quit 3  # leaving the game closes an open recording

{
  echo "soak: $seconds s, seed $seed, actions:$(for k in "${!actions[@]}"; do printf ' %s %s' "$k" "${actions[$k]}"; done)"
  for wav in "$folder"/*.wav; do [ -e "$wav" ] && echo "recording ${wav##*/}: $(e2e_wav "$wav" info)"; done
  grep '^callback timing:' "$E2E_OUT/stderr.txt" || echo "callback timing: build with -DMARLUNE_AUDIO_PROBES=ON"
} | tee "$E2E_OUT/summary.txt"
[ "${PIPESTATUS[0]}" = 0 ] || e2e_fail "a recording is not a complete WAV"
[ "${actions[record]:-0}" = 0 ] || [ -n "$(e2e_recordings "$folder")" ] || e2e_fail "the record pad was pressed but no recording was written"
e2e_pass
