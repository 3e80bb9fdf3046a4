#!/usr/bin/env bash
# assets_test.sh - every asset the program reads, damaged in a copy of the bundle: missing,
# empty (0 bytes) or garbage (16 KiB of seeded random bytes), the three ways taken in turn
# down the table so that each kind of file meets each of them:
#   - the window icon: the program starts and quits normally all the same;
#   - start-up assets (images, font, menu theme, sound effects): a clear message and exit
#     status 1 before the menu;
#   - the metronome click and two instrument samples, read when a game starts: the same on
#     Return on "Start".
# Never a hang (15 s), a crash or a sanitizer report. Every case runs; the table (asset, way,
# status, message) goes to stderr and $MARLUNE_E2E_OUT/table.txt.
source "$MARLUNE_E2E_LIB"
e2e_init
e2e_bundle "$RIG_DIR/bundle"
content="$MARLUNE_BUNDLE_DIR/Resources/MarluneContent"
cp -r -- "$content" "$RIG_DIR/pristine" || e2e_fail "cannot keep a pristine copy of the content"

image="^Error:Couldn't load image file: MarluneContent/img/"
sample="^Error:Couldn't load sound file: MarluneContent/sfx/"
cases=("img/icon32.bmp icon" "img/loading.png start $image" "img/backdrop_main_menu.png start $image"
  "img/backdrop_game.png start $image" "font/segoeuimono.ttf start ^Error:Couldn't load MarluneContent/font/")
for f in menu_theme loaded start stop quit select; do cases+=("sfx/$f.wav start MarluneContent/sfx/$f.wav"); done
# The samples all load the same way (the preset's unit tests name each one): three of them.
for f in metronome lsdj_pulse_50 tr909_08; do
  cases+=("sfx/$f.wav game $sample")
done
modes=(missing empty garbage)
table="$E2E_OUT/table.txt" failures=0 n=0
for c in "${cases[@]}"; do
  read -r asset kind expect <<<"$c"
  file="$content/$asset" mode=${modes[$((n % 3))]}
  n=$((n + 1))
  [ -f "$file" ] || e2e_fail "the bundle has no $asset: update this table"
  case $mode in
    missing) rm -f -- "$file" ;;
    empty) : >"$file" ;;
    garbage) head -c 16384 </dev/urandom >"$file" ;;
  esac
  E2E_MAY_EXIT=1 e2e_start
  if [ "$kind" != start ] && [ -n "$E2E_PID" ]; then
    e2e_wait_screen menu
    [ "$kind" = game ] && e2e_key Return || e2e_key Escape Escape
  fi
  e2e_wait_exit 15
  cp -- "$E2E_OUT/stderr.txt" "$E2E_OUT/$mode-${asset//\//_}.txt"
  message=$(grep -E -m 1 -- "${expect:-^\$^}" "$E2E_OUT/stderr.txt")
  problem=""
  if [ "$kind" = icon ]; then
    [ "$E2E_STATUS" = 0 ] || problem="status $E2E_STATUS after a normal quit"
  elif [ "$E2E_STATUS" != 1 ] || [ -z "$message" ]; then
    problem="status $E2E_STATUS, want 1 with a line matching '$expect'"
  fi
  cp -- "$RIG_DIR/pristine/$asset" "$file" || e2e_fail "cannot restore $asset"
  echo "$asset $mode $E2E_STATUS ${message:-(none)}${problem:+  FAILED: $problem}" | tee -a "$table" >&2
  [ -z "$problem" ] || failures=$((failures + 1))
done
[ "$failures" = 0 ] || e2e_fail "$failures of $n cases failed (table above, output in $E2E_OUT)"
e2e_pass
