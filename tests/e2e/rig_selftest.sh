#!/usr/bin/env bash
# rig_selftest.sh - checks scripts/rig.sh's promises one by one.
#
# Usage: rig_selftest.sh RIG_PROBE
#   Environment: MARLUNE_SOURCE_DIR, MARLUNE_WAVTOOL, optional MARLUNE_E2E_OUT.
#
# Checks: the command's exit status comes back; the command sees the rig's own
# display and sound server even when the caller's DISPLAY/PULSE_SERVER point
# elsewhere; --no-display leaves DISPLAY unset; --no-audio leaves RtAudio with
# no device (rig_probe --devices prints "devices 0"; its stderr is kept in
# no-audio-devices.txt); --keep keeps the logs; --server pipewire brings up PipeWire's
# PulseAudio server with the sink and leaves none of its processes; SIGTERM to the rig ends the
# command, finalises the capture and leaves no Xvfb, pulseaudio or parec
# process, socket or temporary folder behind.
set -uo pipefail
here=$(cd "$(dirname -- "$0")" && pwd)
source "$here/lib.sh"
e2e_init
probe=${1:?usage: rig_selftest.sh RIG_PROBE}
rig="${MARLUNE_SOURCE_DIR:-$here/../..}/scripts/rig.sh"

# Exit status.
bash "$rig" -- sh -c 'exit 7'
[ $? = 7 ] || e2e_fail "rig.sh did not return the command's status 7"

# Own display and sound server, whatever the caller had.
DISPLAY=:4242 PULSE_SERVER=unix:/nonexistent bash "$rig" -- bash -c '
  [ "$DISPLAY" != :4242 ] && xdpyinfo >/dev/null &&
  case "$PULSE_SERVER" in "unix:$RIG_DIR/"*) true ;; *) false ;; esac &&
  pactl info >/dev/null && [ "$RIG_SINK" = rig_sink ] &&
  pactl list short sinks | grep -q "rig_sink" && [ -d "$RIG_DIR" ]' \
  || e2e_fail "the command did not get the rig's own display and sound server"

# --no-display.
DISPLAY=:4242 bash "$rig" --no-display -- bash -c '[ -z "${DISPLAY+set}" ] && pactl info >/dev/null' \
  || e2e_fail "--no-display: DISPLAY still set or no sound server"

# --no-audio: RtAudio finds no device at all.
bash "$rig" --no-audio --no-display -- "$probe" --devices \
  >"$E2E_OUT/no-audio-devices.txt" 2>"$E2E_OUT/no-audio-stderr.txt" \
  || e2e_fail "rig_probe --devices failed under --no-audio"
grep -qx 'devices 0' "$E2E_OUT/no-audio-devices.txt" \
  || e2e_fail "--no-audio: RtAudio still finds devices: $(tr '\n' ' ' <"$E2E_OUT/no-audio-devices.txt")"

# --keep.
bash "$rig" --keep "$E2E_OUT/kept" -- true || e2e_fail "rig.sh --keep failed"
[ -s "$E2E_OUT/kept/pulse.log" ] || e2e_fail "--keep did not keep pulse.log"

# --server pipewire: PipeWire's PulseAudio server with the null sink; afterwards no
# process of the stack (found by the rig's folder in its arguments or environment) is left.
bash "$rig" --server pipewire --no-display -- bash -c '
  echo "$RIG_DIR" >"'"$E2E_OUT"'/pipewire-env.txt"
  [ "$RIG_SERVER" = pipewire ] && pactl info | grep -q "^Server Name: .*PipeWire" &&
  pactl list short sinks | grep -q rig_sink' \
  || e2e_fail "--server pipewire: no PipeWire server with the rig's sink"
pw_dir=$(cat "$E2E_OUT/pipewire-env.txt")
[ ! -e "$pw_dir" ] || e2e_fail "--server pipewire left $pw_dir behind"
for p in /proc/[0-9]*; do
  if grep -qsF -- "$pw_dir" "$p/cmdline" "$p/environ"; then
    e2e_fail "--server pipewire left $(tr '\0' ' ' <"$p/cmdline") running"
  fi
done

# SIGTERM: everything stops, the capture is complete, nothing is left.
bash "$rig" --capture "$E2E_OUT/term.wav" -- bash -c '
  paplay /dev/zero --raw --rate=44100 --channels=2 &
  echo "$DISPLAY $RIG_DIR" >"'"$E2E_OUT"'/term-env.txt"
  sleep 61.5' &
rig_pid=$!
for _ in $(seq 100); do [ -s "$E2E_OUT/term-env.txt" ] && break; sleep 0.1; done
[ -s "$E2E_OUT/term-env.txt" ] || e2e_fail "the rig's command did not start"
read -r display rig_dir <"$E2E_OUT/term-env.txt"
sleep 1
kill -TERM "$rig_pid"
wait "$rig_pid"
status=$?
[ "$status" = 143 ] || e2e_fail "rig.sh ended with $status after SIGTERM, want 143"
[ ! -e "$rig_dir" ] || e2e_fail "temporary folder $rig_dir left behind"
[ ! -e "/tmp/.X11-unix/X${display#:}" ] || e2e_fail "Xvfb socket for $display left behind"
[ ! -e "/tmp/.X${display#:}-lock" ] || e2e_fail "Xvfb lock for $display left behind"
sleep 0.5
if pgrep -f -- "$rig_dir" >/dev/null || pgrep -f 'sleep 61\.5' >/dev/null || pgrep -f "parec .*$E2E_OUT/term.wav" >/dev/null; then
  e2e_fail "processes left behind: $(pgrep -af -- "$rig_dir|sleep 61\.5|$E2E_OUT/term.wav")"
fi
e2e_wav_check "$E2E_OUT/term.wav"
e2e_pass
