#!/usr/bin/env bash
# cpu_share.sh - the real program's CPU share on its main thread (events, drawing, frame
# pacing) and over all its threads, in the main menu and on the game screen, each measured
# over 10 s under the headless rig (virtual display, private sound server).
#
# Usage: bench/cpu_share.sh [BUILD_DIR] [SECONDS]   (defaults: build-bench, 10)
# Build the default target in BUILD_DIR first. Prints one line per scene:
#   menu: main thread 3.1 % of one core, whole process 4.0 %
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build-bench}" && pwd) || { echo "cpu_share: no build folder" >&2; exit 1; }
seconds=${2:-10}

if [ -z "${RIG_DIR:-}" ]; then
  exec bash "$root/scripts/rig.sh" -- bash "$0" "$build" "$seconds"
fi

export MARLUNE_BUNDLE_DIR=$build/Marlune.app/Contents
export MARLUNE_WAVTOOL=$build/tests/e2e/marlune_wavtool MARLUNE_SHOT=$build/tests/e2e/marlune_shot
# shellcheck source=../tests/e2e/lib.sh
source "$root/tests/e2e/lib.sh"
e2e_init
ticks=$(getconf CLK_TCK)

# Prints utime + stime, in clock ticks, of a /proc stat file (fields after the command name).
cpu_ticks() { sed 's/^.*) //' "$1" | awk '{ print $12 + $13 }'; }

# measure NAME - samples the main thread and the process over `seconds`.
measure() {
  local main0 all0 main1 all1
  main0=$(cpu_ticks "/proc/$E2E_PID/task/$E2E_PID/stat") all0=$(cpu_ticks "/proc/$E2E_PID/stat")
  sleep "$seconds"
  main1=$(cpu_ticks "/proc/$E2E_PID/task/$E2E_PID/stat") all1=$(cpu_ticks "/proc/$E2E_PID/stat")
  awk -v n="$1" -v m=$((main1 - main0)) -v a=$((all1 - all0)) -v t="$ticks" -v s="$seconds" \
    'BEGIN { printf "%s: main thread %.1f %% of one core, whole process %.1f %%\n", n, 100 * m / t / s, 100 * a / t / s }'
}

e2e_start_marlune
sleep 2  # past the start-up and the first fade
measure menu
e2e_key Return  # "Start"
sleep 2
measure game
e2e_stop
