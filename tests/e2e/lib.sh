# shellcheck shell=bash disable=SC2034,SC2086
# lib.sh - what only the end-to-end tests use, on top of the rig's library (tools/rig/lib.sh),
# which this sources: start-up held during loading, the sound server killed and restarted, the
# window exposed, waits on the program's messages and on a capture, the threads' scheduling.
# The test scripts source this (MARLUNE_E2E_LIB) inside scripts/rig.sh, then call e2e_init.

# shellcheck source=../../tools/rig/lib.sh
source "$(dirname -- "${BASH_SOURCE[0]}")/../../tools/rig/lib.sh"

# e2e_start_loading - starts the program under gdb, stopped where start-up initialises the
# font library: after the window and the loading image, before draining its input. What is
# done before e2e_continue happens "during loading", however fast or loaded the machine.
e2e_start_loading() {
  command -v gdb >/dev/null || e2e_fail "gdb is not installed (scripts/install-deps.sh)"
  e2e_start gdb -q -batch -ex 'set breakpoint pending on' -ex 'set print thread-events off' \
    -ex 'handle SIGTERM SIGHUP SIGINT nostop noprint pass' -ex 'break TTF_Init' -ex run \
    -ex "shell touch '$E2E_OUT/loading'; while [ ! -e '$E2E_OUT/go' ]; do sleep 0.05; done" \
    -ex continue -ex 'quit $_exitcode' --args "$E2E_PROGRAM"
  for _ in $(seq 100); do [ -e "$E2E_OUT/loading" ] || sleep 0.1; done
  [ -e "$E2E_OUT/loading" ] && _e2e_alive "$E2E_PID" || e2e_fail "start-up did not stop at TTF_Init"
}
e2e_continue() { touch "$E2E_OUT/go"; }

# The pid of the sound server listening on the rig's socket.
e2e_server_pid() {
  ss -xlpn 2>/dev/null | awk -v s="${PULSE_SERVER#unix:}" '$5 == s' | grep -o 'pid=[0-9]*' | head -n 1 | cut -d= -f2
}

# e2e_server_kill - kills the sound server on the rig's socket (SIGKILL; the rig's own at first),
# keeping its command line and environment. e2e_server_start - starts another like it on the
# same socket and waits until it answers; E2E_SERVER is its pid. e2e_own PID - a process of the
# script's (a server, a silent stream, a stand-in), ended however the script ends.
e2e_own() { E2E_OWN+=("$1"); }
e2e_server_kill() {
  [ -n "$E2E_SERVER" ] || E2E_SERVER=$(e2e_server_pid)
  [ -n "$E2E_SERVER" ] || e2e_fail "cannot find the rig's sound server"
  mapfile -d '' E2E_SERVER_CMD <"/proc/$E2E_SERVER/cmdline" && mapfile -d '' E2E_SERVER_ENV <"/proc/$E2E_SERVER/environ" ||
    e2e_fail "cannot read the sound server's command line"
  _e2e_kill "$E2E_SERVER" KILL
  e2e_log "killed the sound server $E2E_SERVER"
  E2E_SERVER=""
}
e2e_server_start() {
  env -i "${E2E_SERVER_ENV[@]}" "${E2E_SERVER_CMD[@]}" >>"$E2E_OUT/server.log" 2>&1 &
  E2E_SERVER=$!
  e2e_own "$E2E_SERVER"
  for _ in $(seq 100); do pactl info >/dev/null 2>&1 && return 0; sleep 0.05; done
  e2e_fail "the new sound server did not come up (see $E2E_OUT/server.log)"
}

# e2e_wait_stderr REGEX [SECS] - waits (default 10 s) for a line of the program's stderr after
# the mark (e2e_mark) matching REGEX; sets E2E_LINE.
e2e_mark() { E2E_MARK=$(wc -l <"$E2E_OUT/stderr.txt"); }
e2e_wait_stderr() {
  for _ in $(seq $((${2:-10} * 10))); do
    E2E_LINE=$(tail -n +"$((E2E_MARK + 1))" "$E2E_OUT/stderr.txt" | grep -E -m 1 -- "$1") && return 0
    sleep 0.1
  done
  e2e_fail "no stderr line matching '$1' within ${2:-10} s"
}

# e2e_expose - the window loses its picture: unmapped and mapped again (Xvfb keeps no copy of
# a window's pixels), as when another window covered it. The program must draw the whole
# picture again; the frame check then requires a frame redrawn after exposure.
e2e_expose() {
  xdotool windowunmap --sync "$E2E_WID" && xdotool windowmap --sync "$E2E_WID" || e2e_fail "cannot unmap and map the window"
  E2E_EXPOSED=1
}

# e2e_capture_for SECONDS [LEVEL] - waits until the running capture holds sound (peak above
# LEVEL, default 0.005; -1 for any audio at all: the stream is audible, however slowly it
# started), then until it holds
# SECONDS of audio more. Sample positions, not the wall clock, decide.
e2e_capture_for() {
  local start="" held peak
  for _ in $(seq 300); do
    read -r _ _ _ held _ peak <<<"$("$MARLUNE_WAVTOOL" raw "$E2E_CAPTURE" 2>/dev/null)"
    if [ -z "$peak" ]; then
      :
    elif [ -z "$start" ]; then
      awk -v p="${peak:-0}" -v l="${2:-0.005}" 'BEGIN { exit !(p > l) }' && start=$held
    else
      awk -v h="$held" -v s="$start" -v d="$1" 'BEGIN { exit !(h >= s + d) }' && return 0
    fi
    sleep 0.1
  done
  e2e_fail "the capture ${start:+did not grow by $1 s}${start:-holds no sound} within 30 s"
}

# e2e_realtime_threads PID... - how many threads of the processes run SCHED_FIFO or SCHED_RR.
e2e_realtime_threads() { ps -L -o cls= -p "$(echo "$@" | tr ' ' ,)" | grep -c -E '^ *(FF|RR)$'; }
