#!/usr/bin/env bash
# robustness_test.sh - every asset the program reads, in turn missing, empty (0 bytes) and
# garbage (16 KiB of seeded random bytes), on a copy of the bundle:
#   - the window icon: a normal start (the menu appears) and a normal quit. These cases run
#     first and also measure how long a healthy start takes to reach the menu here;
#   - start-up assets (images, font, menu theme and sound effects): a clear error and exit
#     status 1 within the time limit of launch;
#   - the metronome click and the instrument samples, read when a game starts: the same
#     within the time limit of pressing Return on "Start".
# The time limit is ROBUST_LIMIT_S seconds (default 2), or, on a machine (or sanitizer build)
# so slow that a healthy start needs longer, 1.5 times the healthy start's time to the menu
# plus 0.5 s (a failing start may not take much longer than a good one); in a sanitizer
# build 8 s.
# Never a hang, abort, core dump or sanitizer report. All cases run; the script prints a
# table (asset, mode, status, seconds, message) and fails at the end if any case failed.
# Artefacts per case in $MARLUNE_E2E_OUT/cases/ (program output, the garbage file).
set -uo pipefail
# shellcheck source=lib.sh
source "$MARLUNE_E2E_LIB"
# shellcheck source=robust_lib.sh
source "$(dirname -- "$0")/robust_lib.sh"
e2e_init

limit=${ROBUST_LIMIT_S:-2}
# A sanitizer runtime slows start-up two- to fifteen-fold; the check is then for hangs only.
[ -n "${MARLUNE_SANITIZER:-}" ] && [ -z "${ROBUST_LIMIT_S:-}" ] && limit=8
healthy_start=0  # longest time to the menu of the icon cases (they run first), seconds
hang_s=15
robust_copy_bundle "$RIG_DIR/robustness"
content="$ROBUST_APP/Contents/Resources/MarluneContent"
pristine="$RIG_DIR/robustness-pristine"
cp -r -- "$content" "$pristine" || e2e_fail "cannot keep a pristine copy of the content"
mkdir -p "$E2E_OUT/cases"

# asset (below MarluneContent/)   when it is read   expected message on stderr (ERE)
start_image() { echo "^Error:Couldn't load image file: MarluneContent/img/$1\$"; }
sound_file() { echo "MarluneContent/sfx/$1"; }  # the synthesis library names the file
game_sample() { echo "^Error:Couldn't load sound file: MarluneContent/sfx/$1\$"; }
cases=(
  "img/icon32.bmp|icon|"
  "img/loading.png|start|$(start_image loading.png)"
  "img/backdrop_main_menu.png|start|$(start_image backdrop_main_menu.png)"
  "img/backdrop_game.png|start|$(start_image backdrop_game.png)"
  "font/segoeuimono.ttf|start|^Error:Couldn't load MarluneContent/font/segoeuimono.ttf\$"
  "sfx/menu_theme.wav|start|$(sound_file menu_theme.wav)"
  "sfx/loaded.wav|start|$(sound_file loaded.wav)"
  "sfx/start.wav|start|$(sound_file start.wav)"
  "sfx/stop.wav|start|$(sound_file stop.wav)"
  "sfx/quit.wav|start|$(sound_file quit.wav)"
  "sfx/select.wav|start|$(sound_file select.wav)"
  "sfx/metronome.wav|game|$(game_sample metronome.wav)"
  "sfx/lsdj_pulse_50.wav|game|$(game_sample lsdj_pulse_50.wav)"
  "sfx/lsdj_pulse_12_5.wav|game|$(game_sample lsdj_pulse_12_5.wav)"
  "sfx/lsdj_pulse_25.wav|game|$(game_sample lsdj_pulse_25.wav)"
  "sfx/famitracker_triangle.wav|game|$(game_sample famitracker_triangle.wav)"
  "sfx/tr909_01.wav|game|$(game_sample tr909_01.wav)"
  "sfx/tr909_05.wav|game|$(game_sample tr909_05.wav)"
  "sfx/tr909_07.wav|game|$(game_sample tr909_07.wav)"
  "sfx/tr909_08.wav|game|$(game_sample tr909_08.wav)"
)
modes=(missing empty garbage)

for c in "${cases[@]}"; do
  asset=${c%%|*}
  [ -f "$pristine/$asset" ] || e2e_fail "the bundle has no $asset: update this test's asset list"
done

# break ASSET MODE CASEDIR - damage the copied asset in the given way.
break_asset() {
  local file="$content/$1"
  case "$2" in
    missing) rm -f -- "$file" ;;
    empty) : >"$file" ;;
    garbage)
      LC_ALL=C awk -v seed="$(printf '%s' "$1" | cksum | cut -d' ' -f1)" -v n=16384 \
        'BEGIN { srand(seed); for (i = 0; i < n; i++) printf "%c", int(rand() * 256) }' >"$file"
      cp -- "$file" "$3/garbage.bin" ;;
  esac
}

restore_asset() { cp -- "$pristine/$1" "$content/$1" || e2e_fail "cannot restore $1"; }

# wait_end SECS - waits for the program; sets E2E_STATUS, or returns 1 (program killed) on a hang.
wait_end() {
  local i
  for i in $(seq $(($1 * 20))); do
    _e2e_alive "$E2E_PID" || break
    sleep 0.05
  done
  if _e2e_alive "$E2E_PID"; then
    _e2e_kill "$E2E_PID" KILL
    E2E_PID=""
    return 1
  fi
  wait "$E2E_PID"
  E2E_STATUS=$?
  E2E_PID=""
}

failures=0
table="$E2E_OUT/matrix.txt"
printf '%-28s %-8s %-6s %-7s %s\n' asset mode status seconds message >"$table"

for c in "${cases[@]}"; do
  IFS='|' read -r asset kind expect <<<"$c"
  for mode in "${modes[@]}"; do
    name="$(echo "$asset" | tr '/' '_')-$mode"
    dir="$E2E_OUT/cases/$name"
    mkdir -p "$dir"
    break_asset "$asset" "$mode" "$dir"
    problem=""
    t0=$(robust_now)
    e2e_start "$ROBUST_PROGRAM"
    if [ "$kind" != start ]; then
      e2e_wait_window "Marlune v1.03" 30
      robust_wait_menu 30
      if [ "$kind" = icon ]; then
        to_menu=$(awk -v a="$t0" -v b="$(robust_now)" 'BEGIN { printf "%.2f", b - a }')
        healthy_start=$(awk -v a="$healthy_start" -v b="$to_menu" 'BEGIN { print (b > a ? b : a) }')
      fi
      if [ "$kind" = game ]; then
        e2e_key Return
        t0=$(robust_now)
      else
        e2e_key Escape Escape  # Escape selects "Quit", the second one quits
      fi
    fi
    if wait_end "$hang_s"; then
      status=$E2E_STATUS
    else
      status=hang
      problem="still running after $hang_s s (killed)"
    fi
    seconds=$(awk -v a="$t0" -v b="$(robust_now)" 'BEGIN { printf "%.2f", b - a }')
    cp -- "$E2E_OUT/stdout.txt" "$dir/stdout.txt"
    cp -- "$E2E_OUT/stderr.txt" "$dir/stderr.txt"
    message=$(grep -E -m 1 -- "${expect:-^\$^}" "$dir/stderr.txt")
    if [ -z "$problem" ]; then
      if [ "$status" -ge 128 ] || grep -qi 'core dumped\|Aborted' "$dir/stderr.txt"; then
        problem="crashed (status $status)"
      elif robust_sanitizer_report "$dir/stderr.txt"; then
        problem="sanitizer report"
      elif [ "$kind" = icon ]; then
        [ "$status" = 0 ] || problem="status $status after a normal quit, want 0"
        message="(normal start and quit)"
      elif [ "$status" != 1 ]; then
        problem="status $status, want 1"
      elif [ -z "$message" ]; then
        problem="no line matching '$expect' on stderr"
      elif awk -v s="$seconds" -v l="$limit" -v h="$healthy_start" 'BEGIN { exit !(s > l && s > 1.5 * h + 0.5) }'; then
        problem="took $seconds s, more than $limit s (a healthy start reached the menu in $healthy_start s)"
      fi
    fi
    restore_asset "$asset"
    line=$(printf '%-28s %-8s %-6s %-7s %s' "$asset" "$mode" "$status" "$seconds" "${message:-(none)}")
    echo "$line" >>"$table"
    if [ -n "$problem" ]; then
      failures=$((failures + 1))
      echo "  FAILED: $problem" >>"$table"
      e2e_log "FAILED $asset $mode: $problem"
    else
      e2e_log "ok $asset $mode: status $status in $seconds s"
    fi
  done
done

echo "a healthy start reached the menu within $healthy_start s (time limit: $limit s, or 1.5 times that plus 0.5 s)" >>"$table"
cat "$table" >&2
[ "$failures" = 0 ] || e2e_fail "$failures of $(( ${#cases[@]} * ${#modes[@]} )) cases failed (table above, output in $E2E_OUT/cases)"
e2e_pass
