#!/usr/bin/env bash
# rig.sh - runs one command inside a private, headless desktop: a virtual X
# display and a private sound server (PulseAudio, or PipeWire with its
# PulseAudio protocol server) with a silent "null" sink.
#
# Usage:
#   scripts/rig.sh [--server pulseaudio|pipewire] [--no-audio] [--no-display]
#                  [--capture OUT.wav] [--keep DIR] [--screen WxH] -- command args...
#
#   --server NAME   The sound server to start (default: $MARLUNE_RIG_SERVER, else
#                   pulseaudio):
#                   pulseaudio  one pulseaudio process with the null sink and a
#                               native-protocol socket in the rig's folder.
#                   pipewire    the stack a Debian 12 desktop runs: a session bus
#                               of its own (dbus-daemon, for wireplumber), pipewire,
#                               wireplumber and pipewire-pulse, with the machine's
#                               stock configuration; the null sink is made with
#                               "pactl load-module module-null-sink" as a user would.
#                   Clients speak the PulseAudio protocol to either (PULSE_SERVER).
#   --no-audio      Start no sound server and make sure the command finds no audio
#                   device: PULSE_SERVER points at a socket that does not exist,
#                   client autospawn is off and JACK may not start a server. This
#                   machine has no ALSA card (no /dev/snd), so RtAudio sees no
#                   device at all; on a machine with a sound card ALSA would still
#                   offer it (the rig cannot hide hardware).
#   --no-display    Start no X server; DISPLAY is unset for the command.
#   --capture FILE  Record everything played into the sink to FILE (WAV, 44100 Hz,
#                   2 channels, s16le) from before the command starts until it ends.
#                   The file is complete (valid header) when rig.sh returns.
#   --keep DIR      Keep the rig's temporary folder (logs, sockets) by moving it to
#                   DIR at the end instead of deleting it.
#   --screen WxH    Size of the virtual screen (default 1024x768; depth is 24 bit).
#
# The command runs with these variables set:
#   DISPLAY         ":N" of the rig's own Xvfb (unset with --no-display)
#   PULSE_SERVER    "unix:$RIG_DIR/pulse/native" (a missing socket with --no-audio)
#   PULSE_COOKIE, PULSE_CLIENTCONFIG  private files, so clients neither read nor
#                   create anything in the user's home and never autospawn a server
#   JACK_NO_START_SERVER=1
#   RIG_SINK        name of the null sink ("rig_sink"); its monitor source is
#                   "$RIG_SINK.monitor" (empty with --no-audio)
#   RIG_SERVER      "pulseaudio" or "pipewire" (empty with --no-audio)
#   RIG_DIR         the rig's temporary folder (scratch space for the command)
#   RIG_CAPTURE     the --capture file, if any
#   RIG_SCREEN_W, RIG_SCREEN_H  size of the virtual screen
#   RIG_SERVER_PIDS the sound server's processes, comma-separated (empty with
#                   --no-audio): pulseaudio, or pipewire,wireplumber,pipewire-pulse
#   RIG_SERVER_THREADS  a file listing every thread of those processes as the
#                   command starts: "PID TID CLASS RTPRIO NAME", CLASS TS for
#                   normal, FF for SCHED_FIFO, RR for SCHED_RR (ps -L)
# Inherited DISPLAY, PULSE_SERVER, PULSE_SINK, PULSE_SOURCE, XAUTHORITY are
# dropped: the rig never talks to a display or sound server that the user runs.
#
# Guarantees:
#   - The command starts only after the display answers (xdpyinfo), the sound
#     server answers (pactl info) and the capture, if any, is recording.
#   - rig.sh returns the command's exit status. If the rig itself cannot be set
#     up it prints "rig: ..." to stderr and returns 125 without running it.
#   - The command runs in its own session and process group (so it has no
#     controlling terminal). On every way out (normal end, error, Ctrl-C,
#     SIGTERM) the rig ends that whole group - the command and whatever it left
#     running, TERM then KILL after 5 s - then the capture (SIGINT, so the WAV
#     header is finalised), then the sound server's processes, each by its pid
#     (pipewire-pulse, wireplumber, pipewire, then the session bus), then Xvfb,
#     and removes its temporary folder (unless --keep). No Xvfb, pulseaudio,
#     pipewire, wireplumber, dbus-daemon or parec process of the rig is left behind.
#   - The sound server runs with its own HOME, XDG_RUNTIME_DIR, XDG_CONFIG_HOME
#     and XDG_STATE_HOME inside the temporary folder (PulseAudio also its own
#     PULSE_RUNTIME_PATH and PULSE_STATE_PATH, no pid file), with its socket in
#     that folder, and accepts anonymous clients. It never reaches a server or
#     session bus the user runs: the PipeWire stack talks only to its own bus
#     (DBUS_SESSION_BUS_ADDRESS) and its own pipewire socket (PIPEWIRE_RUNTIME_DIR).
#     As root PulseAudio prints a warning ("This program is not intended to be
#     run as root") into its log: harmless.
#   - The servers are scheduled as on a desktop: their audio threads real-time,
#     their main threads in the normal class at the nice level -11 that both
#     servers' stock settings ask for. PulseAudio runs with its own real-time
#     scheduling (--realtime=yes: its I/O threads SCHED_RR, as rtkit grants on
#     a desktop) and --high-priority=yes; the PipeWire stack runs with its
#     stock settings, which make its data loops SCHED_FIFO. Where the
#     system refuses real-time scheduling (an ordinary user without rtkit or
#     an rtprio limit) the servers run normal; RIG_SERVER_THREADS lists what
#     each thread got, so a test can insist on it.
#
# Killed outright (SIGKILL, as CTest does on a timeout) the rig cannot clean up;
# its processes die with it when the killer takes the whole process tree, as
# CTest does, and the next rig removes the stale temporary folder and reuses a
# display number whose lock names a dead server.
#
# Logs (in RIG_DIR, handy with --keep): xvfb.log, capture.log and pulse.log
# (PulseAudio) or dbus.log, pipewire.log, wireplumber.log, pipewire-pulse.log;
# server-threads.log (RIG_SERVER_THREADS), each server thread's scheduling.
set -uo pipefail

readonly SINK=rig_sink
audio=1
display=1
capture=""
keep=""
screen=1024x768
server=${MARLUNE_RIG_SERVER:-pulseaudio}

die() { echo "rig: $*" >&2; exit 125; }
usage() { sed -n '2,/^set -uo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2; exit 125; }

while [ $# -gt 0 ]; do
  case "$1" in
    --server) [ $# -ge 2 ] || usage; server=$2; shift ;;
    --no-audio) audio=0 ;;
    --no-display) display=0 ;;
    --capture) [ $# -ge 2 ] || usage; capture=$2; shift ;;
    --keep) [ $# -ge 2 ] || usage; keep=$2; shift ;;
    --screen) [ $# -ge 2 ] || usage; screen=$2; shift ;;
    -h|--help) usage ;;
    --) shift; break ;;
    *) usage ;;
  esac
  shift
done
[ $# -gt 0 ] || usage
[[ "$screen" =~ ^[0-9]+x[0-9]+$ ]] || die "bad --screen '$screen' (want WxH)"
case "$server" in pulseaudio|pipewire) ;; *) die "unknown --server '$server' (pulseaudio or pipewire)" ;; esac
if [ -n "$capture" ] && [ "$audio" = 0 ]; then die "--capture needs audio"; fi
if [ -n "$capture" ]; then
  capture=$(realpath -m -- "$capture")
  mkdir -p -- "$(dirname -- "$capture")" || die "cannot create folder for $capture"
fi

unset DISPLAY PULSE_SERVER PULSE_SINK PULSE_SOURCE XAUTHORITY PIPEWIRE_REMOTE PIPEWIRE_RUNTIME_DIR

# True while process PID exists, whoever runs it (kill -0 says no for another
# user's process: a rig run by an ordinary user beside one run by root).
process_exists() { [[ "$1" =~ ^[0-9]+$ ]] && [ -e "/proc/$1" ]; }

# Remove folders of earlier rigs that were killed outright (SIGKILL, e.g. by a
# test timeout) and so could not clean up: their rig.pid names a dead process.
for old in "${TMPDIR:-/tmp}"/marlune-rig.*; do
  [ -f "$old/rig.pid" ] || continue
  process_exists "$(tr -dc '0-9' <"$old/rig.pid" 2>/dev/null)" || rm -rf -- "$old"
done
RIG_DIR=$(mktemp -d "${TMPDIR:-/tmp}/marlune-rig.XXXXXX") || die "mktemp failed"
echo $$ >"$RIG_DIR/rig.pid"
xvfb_pid="" pulse_pid="" capture_pid="" cmd_group=""
bus_pid="" pipewire_pid="" wireplumber_pid="" pipewire_pulse_pid=""
status=125

# Sends SIGNAL to PID and waits up to ~5 s for it to end, then SIGKILLs it.
stop_pid() {
  local pid=$1 sig=$2
  [ -n "$pid" ] || return 0
  kill -"$sig" "$pid" 2>/dev/null || { wait "$pid" 2>/dev/null; return 0; }
  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  return 0
}

# Sends SIGNAL to process group PGID and waits up to ~5 s for all its members
# to end, then SIGKILLs what is left.
stop_group() {
  local pgid=$1 sig=$2
  [ -n "$pgid" ] || return 0
  kill -"$sig" -- -"$pgid" 2>/dev/null
  for _ in $(seq 50); do
    wait "$pgid" 2>/dev/null  # reap the leader so that it does not count
    kill -0 -- -"$pgid" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -KILL -- -"$pgid" 2>/dev/null
  wait "$pgid" 2>/dev/null
  return 0
}

cleanup() {
  trap '' INT TERM
  # The command and everything it started (even if it has already exited).
  stop_group "$cmd_group" TERM
  # Let the last rendered audio reach the file, then stop parec with SIGINT,
  # on which it finalises the WAV header.
  if [ -n "$capture_pid" ]; then sleep 0.2; fi
  stop_pid "$capture_pid" INT
  stop_pid "$pulse_pid" TERM
  stop_pid "$pipewire_pulse_pid" TERM
  stop_pid "$wireplumber_pid" TERM
  stop_pid "$pipewire_pid" TERM
  stop_pid "$bus_pid" TERM
  stop_pid "$xvfb_pid" TERM
  if [ -n "$keep" ]; then
    rm -rf -- "$keep" && mv -- "$RIG_DIR" "$keep"
  else
    rm -rf -- "$RIG_DIR"
  fi
}
trap 'cleanup; exit $status' EXIT
trap 'status=130; exit 130' INT
trap 'status=143; exit 143' TERM

# Waits up to SECONDS for "check" to succeed while PID stays alive.
wait_ready() {
  local seconds=$1 pid=$2; shift 2
  for _ in $(seq $((seconds * 10))); do
    "$@" >/dev/null 2>&1 && return 0
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

start_xvfb() {
  local n
  for n in $(seq 90 190); do
    # A lock whose server is gone (killed with SIGKILL) does not hold the
    # number: Xvfb replaces such a stale lock itself. Another user's server
    # holds it: a rig that took it for stale could reach that display (its
    # check that the display answers can succeed before its own Xvfb gives
    # up) and send its keys to another user's windows.
    if [ -e "/tmp/.X$n-lock" ]; then
      lock_pid=$(tr -dc '0-9' <"/tmp/.X$n-lock" 2>/dev/null)
      [ -n "$lock_pid" ] && ! process_exists "$lock_pid" || continue
    elif [ -e "/tmp/.X11-unix/X$n" ]; then
      continue
    fi
    Xvfb ":$n" -screen 0 "${screen}x24" -nolisten tcp -noreset \
      >"$RIG_DIR/xvfb.log" 2>&1 &
    xvfb_pid=$!
    if wait_ready 10 "$xvfb_pid" env DISPLAY=":$n" xdpyinfo; then
      DISPLAY=":$n"
      return 0
    fi
    # Lost a race for this number (or Xvfb failed): try the next one.
    stop_pid "$xvfb_pid" TERM
    xvfb_pid=""
    grep -q "already active\|Server is already" "$RIG_DIR/xvfb.log" || break
  done
  cat "$RIG_DIR/xvfb.log" >&2
  die "could not start Xvfb"
}

start_pulse() {
  mkdir -p "$RIG_DIR/home" "$RIG_DIR/runtime" "$RIG_DIR/state" "$RIG_DIR/pulse"
  chmod 700 "$RIG_DIR/runtime"
  HOME="$RIG_DIR/home" XDG_RUNTIME_DIR="$RIG_DIR/runtime" \
  XDG_CONFIG_HOME="$RIG_DIR/home/.config" \
  PULSE_RUNTIME_PATH="$RIG_DIR/runtime/pulse" PULSE_STATE_PATH="$RIG_DIR/state" \
  DBUS_SESSION_BUS_ADDRESS="disabled:" \
    pulseaudio -n --daemonize=no --use-pid-file=no --exit-idle-time=-1 \
      --system=no --realtime=yes --high-priority=yes --disallow-module-loading=no \
      --log-target=stderr \
      --load="module-null-sink sink_name=$SINK rate=44100 channels=2" \
      --load="module-native-protocol-unix socket=$RIG_DIR/pulse/native auth-anonymous=1" \
      >"$RIG_DIR/pulse.log" 2>&1 &
  pulse_pid=$!
  if ! wait_ready 15 "$pulse_pid" pactl info; then
    cat "$RIG_DIR/pulse.log" >&2
    die "PulseAudio did not come up"
  fi
  pactl set-default-sink "$SINK" >/dev/null 2>&1 || true
}

# The PipeWire stack of a Debian 12 desktop, private to the rig. Each daemon is
# a child of this shell (so its pid is known and it is stopped by it) and sees
# only the rig's folders and the rig's own session bus.
start_pipewire() {
  local rt="$RIG_DIR/runtime"
  mkdir -p "$RIG_DIR/home" "$rt" "$RIG_DIR/state"
  chmod 700 "$rt"
  local -a env_vars=(HOME="$RIG_DIR/home" XDG_RUNTIME_DIR="$rt" PIPEWIRE_RUNTIME_DIR="$rt"
    XDG_CONFIG_HOME="$RIG_DIR/home/.config" XDG_STATE_HOME="$RIG_DIR/state"
    DBUS_SESSION_BUS_ADDRESS="unix:path=$rt/bus" DBUS_SYSTEM_BUS_ADDRESS="unix:path=$rt/no-system-bus")
  env "${env_vars[@]}" dbus-daemon --session --nofork --nopidfile --address="unix:path=$rt/bus" \
    >"$RIG_DIR/dbus.log" 2>&1 &
  bus_pid=$!
  wait_ready 10 "$bus_pid" test -S "$rt/bus" || { cat "$RIG_DIR/dbus.log" >&2; die "the session bus did not come up"; }
  env "${env_vars[@]}" pipewire >"$RIG_DIR/pipewire.log" 2>&1 &
  pipewire_pid=$!
  wait_ready 10 "$pipewire_pid" test -S "$rt/pipewire-0" || { cat "$RIG_DIR/pipewire.log" >&2; die "pipewire did not come up"; }
  env "${env_vars[@]}" wireplumber >"$RIG_DIR/wireplumber.log" 2>&1 &
  wireplumber_pid=$!
  env "${env_vars[@]}" pipewire-pulse >"$RIG_DIR/pipewire-pulse.log" 2>&1 &
  pipewire_pulse_pid=$!
  if ! wait_ready 15 "$pipewire_pulse_pid" pactl info; then
    cat "$RIG_DIR/pipewire-pulse.log" >&2
    die "pipewire-pulse did not come up"
  fi
  kill -0 "$wireplumber_pid" 2>/dev/null || { cat "$RIG_DIR/wireplumber.log" >&2; die "wireplumber did not start"; }
  pactl load-module module-null-sink "sink_name=$SINK" rate=44100 channels=2 >/dev/null ||
    die "pactl could not load the null sink"
  # The sink appears once the session manager has seen its node.
  wait_ready 10 "$pipewire_pulse_pid" sh -c "pactl list short sinks | grep -q '$SINK'" ||
    die "the null sink did not appear"
  pactl set-default-sink "$SINK" >/dev/null 2>&1 || true
}

start_capture() {
  parec -d "$SINK.monitor" --file-format=wav --rate=44100 --channels=2 \
    --format=s16le --latency-msec=20 "$capture" >"$RIG_DIR/capture.log" 2>&1 &
  capture_pid=$!
  # Wait until the recording stream is attached to the monitor source.
  if ! wait_ready 10 "$capture_pid" sh -c 'pactl list short source-outputs | grep -q .'; then
    cat "$RIG_DIR/capture.log" >&2
    die "parec did not start recording"
  fi
}

# Client-side settings shared by the rig's own tools and the command.
printf 'autospawn = no\n' >"$RIG_DIR/client.conf"
export PULSE_CLIENTCONFIG="$RIG_DIR/client.conf"
export PULSE_COOKIE="$RIG_DIR/cookie"
export JACK_NO_START_SERVER=1
export RIG_DIR
export RIG_SCREEN_W=${screen%x*} RIG_SCREEN_H=${screen#*x}

if [ "$display" = 1 ]; then
  start_xvfb
  export DISPLAY
fi

if [ "$audio" = 1 ]; then
  export RIG_SINK=$SINK RIG_SERVER=$server
  if [ "$server" = pipewire ]; then
    export PULSE_SERVER="unix:$RIG_DIR/runtime/pulse/native"
    start_pipewire
  else
    export PULSE_SERVER="unix:$RIG_DIR/pulse/native"
    start_pulse
  fi
  if [ -n "$capture" ]; then
    start_capture
    export RIG_CAPTURE=$capture
  fi
  RIG_SERVER_PIDS=$(echo $pulse_pid $pipewire_pid $wireplumber_pid $pipewire_pulse_pid | tr ' ' ,)
  RIG_SERVER_THREADS="$RIG_DIR/server-threads.log"
  ps -L -o pid=,tid=,cls=,rtprio=,comm= -p "$RIG_SERVER_PIDS" >"$RIG_SERVER_THREADS"
  export RIG_SERVER_PIDS RIG_SERVER_THREADS
else
  export PULSE_SERVER="unix:$RIG_DIR/no-sound-server"
  export RIG_SINK="" RIG_SERVER="" RIG_SERVER_PIDS="" RIG_SERVER_THREADS=""
fi

# Run the command in its own session and process group, so that the teardown
# can end it together with anything it left running, and in the background so
# that INT/TERM reach the traps at once; it keeps the caller's standard input.
# (setsid execs in place here: a background job is never a group leader.)
setsid "$@" <&0 &
cmd_group=$!
wait "$cmd_group"
status=$?
exit "$status"
