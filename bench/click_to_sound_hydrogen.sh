# shellcheck shell=bash
# click_to_sound_hydrogen.sh - Debian's hydrogen drum machine clicked as the game is, for
# bench/click_to_sound.sh (sourced there, inside the rig): its PulseAudio driver at the buffer
# size asked, its metronome on, the transport playing an empty pattern at 120 BPM, and the
# left button pressed on the name "Kick" in its pattern editor's instrument list, which plays
# that instrument at once. Its settings go to a private home inside the rig's folder.

# shellcheck source=hydrogen_lib.sh
source "$root/bench/hydrogen_lib.sh"

# hydrogen_clicks SIZE - one row for hydrogen at SIZE frames.
hydrogen_clicks() {
  local size=$1 home="$RIG_DIR/hydrogen-home" main=""
  mkdir -p "$home/.hydrogen"
  sed -e 's|<audio_driver>Auto</audio_driver>|<audio_driver>PulseAudio</audio_driver>|' \
      -e 's|<use_metronome>false</use_metronome>|<use_metronome>true</use_metronome>|' \
      -e "s|<buffer_size>1024</buffer_size>|<buffer_size>$size</buffer_size>|" \
      /usr/share/hydrogen/data/hydrogen.default.conf >"$home/.hydrogen/hydrogen.conf"
  grep -q "<buffer_size>$size</buffer_size>" "$home/.hydrogen/hydrogen.conf" || e2e_fail "cannot set hydrogen's buffer size"
  # Without its crash-reporting parent (--child), in a process group of its own: on its way out
  # it signals its whole group.
  HOME=$home setsid hydrogen --child -n -d pulseaudio >"$E2E_OUT/hydrogen.txt" 2>&1 </dev/null &
  E2E_PID=$!
  for _ in $(seq 300); do
    main=$(xdotool search --name '^Hydrogen [0-9]' 2>/dev/null | head -n 1)
    [ -n "$main" ] && break
    sleep 0.1
  done
  [ -n "$main" ] || e2e_fail "no main window of hydrogen"
  hydrogen_dismiss_note
  sleep 1
  xdotool mousemove 233 69 click 1   # the transport's play button: the metronome clicks
  xdotool mousemove --sync 60 366    # on "Kick" in the instrument list
  sleep "$SETTLE"
  clicks hydrogen "$size" noclear
  _e2e_kill "$E2E_PID" TERM
  E2E_PID=""
}
