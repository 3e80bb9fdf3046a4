#!/usr/bin/env bash
# rtkit_user.sh - does an ordinary user's Marlune get real-time audio threads from rtkit?
# Run by hand, as root (not part of the test command: it adds a user and, while it runs, a
# polkit rule on the machine).
#
# Usage: tests/e2e/rtkit_user.sh [BUILD_DIR]     (default: build)
#
# Sets up what a desktop has, privately: an ordinary user (marlune-rt, no real-time priority
# limit; removed again if this script added it), a system bus of its own (dbus-daemon with the
# stock system policy, listening in a temporary folder), polkitd and rtkit-daemon on that bus.
# rtkit asks polkit, whose stock rule grants real-time only to the user of a local, active
# login session; this machine has no login sessions, so a rule granting it to that one user
# is put in /etc/polkit-1/rules.d for as long as the script runs. Then, under each sound
# server of the rig (scripts/rig.sh, run as that user: its PulseAudio or PipeWire then runs as
# that user too), it starts Marlune, reopens its stream once (Buffer Size in the menu) and
# checks that each stream's audio thread and PulseAudio client I/O thread ("threaded-ml") run
# SCHED_RR at priority 4. Prints what ps shows and what rtkit said; exit status 0 when every
# check passed. Needs rtkit, polkitd and dbus-daemon (apt-get install rtkit polkitd dbus-daemon).
set -uo pipefail

build=$(realpath -- "${1:-build}")
here=$(cd -- "$(dirname -- "$0")/../.." && pwd)
user=marlune-rt
program="$build/Marlune.app/Contents/MacOS/marlune"
rule=/etc/polkit-1/rules.d/49-marlune-rtkit-user.rules

[ "$(id -u)" = 0 ] || { echo "rtkit_user: run as root" >&2; exit 2; }
for tool in /usr/libexec/rtkit-daemon /usr/lib/polkit-1/polkitd; do
  [ -x "$tool" ] ||
    { echo "rtkit_user: $tool missing (apt-get install rtkit polkitd)" >&2; exit 2; }
done
[ -x "$program" ] || { echo "rtkit_user: no program at $program" >&2; exit 2; }

work=$(mktemp -d /tmp/marlune-rtkit.XXXXXX)
chmod 755 "$work"
bus_pid="" polkit_pid="" rtkit_pid="" added_user=""
cleanup() {
  for pid in $rtkit_pid $polkit_pid $bus_pid; do
    kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  done
  rm -f -- "$rule"
  [ -n "$added_user" ] && userdel "$user" 2>/dev/null
  rm -rf -- "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if ! id "$user" >/dev/null 2>&1; then
  useradd --system --no-create-home --shell /usr/sbin/nologin "$user" || exit 2
  added_user=1
fi
mkdir -p "$work/home" && chown "$user" "$work/home"
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/system_bus_socket"

# The stock system bus policy, listening here; its included folders named absolutely.
sed -e "s|<listen>.*</listen>|<listen>$DBUS_SYSTEM_BUS_ADDRESS</listen>|" \
    -e 's|<includedir>system.d</includedir>|<includedir>/usr/share/dbus-1/system.d</includedir>|' \
    -e '/<pidfile>/d' -e '/<syslog\/>/d' /usr/share/dbus-1/system.conf >"$work/system.conf"
dbus-daemon --config-file="$work/system.conf" --nofork --nopidfile >"$work/bus.log" 2>&1 &
bus_pid=$!
# Waits up to 10 s for NAME to be owned on the bus.
owned() {
  for _ in $(seq 100); do
    dbus-send --system --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
      org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q 'boolean true' && return 0
    sleep 0.1
  done
  echo "rtkit_user: $1 did not come up" >&2
  return 1
}
owned org.freedesktop.DBus || exit 2

cat >"$rule" <<EOF
// Written by Marlune's tests/e2e/rtkit_user.sh while it runs; removed when it ends.
polkit.addRule(function(action, subject) {
  if (action.id == "org.freedesktop.RealtimeKit1.acquire-real-time" && subject.user == "$user") {
    return polkit.Result.YES;
  }
});
EOF
/usr/lib/polkit-1/polkitd --no-debug >"$work/polkit.log" 2>&1 &
polkit_pid=$!
owned org.freedesktop.PolicyKit1 || exit 2
# rtkit sets its own file size limit to 0: its messages must go to a pipe, not a file.
/usr/libexec/rtkit-daemon --stderr 2> >(cat >"$work/rtkit.log") &
rtkit_pid=$!
owned org.freedesktop.RealtimeKit1 || exit 2

# Inside the rig, as the user: the program, its stream reopened once, each stream's threads.
inner=$(cat <<'EOF'
set -u
"$PROGRAM" >"$RIG_DIR/marlune.log" 2>&1 &
pid=$!
status=0
# Threads of the program named NAME, other than thread NOT, that run RR 4.
rr4() {
  ps -L -o tid=,cls=,rtprio=,comm= -p "$pid" |
    awk -v name="$1" -v not="$2" '$4 == name && $1 != not && $2 == "RR" && $3 == 4 { print $1 }'
}
# Waits up to 10 s for a stream's two threads (other than OLD) to run RR 4; shows the threads.
check() {
  local old=$1 what=$2 io="" audio=""
  for _ in $(seq 100); do
    io=$(rr4 threaded-ml "$old")
    audio=$(rr4 marlune "$pid")
    [ -n "$io" ] && [ -n "$audio" ] && break
    sleep 0.1
  done
  echo "--- $what"
  ps -L -o tid,cls,rtprio,comm -p "$pid" | grep -v 'llvmpipe\|SDLTimer\|Hotplug\|disk'
  if [ -n "$io" ] && [ -n "$audio" ]; then
    echo "PASS: $what: audio thread $audio and threaded-ml $io run RR 4"
  else
    echo "FAIL: $what: the stream's threads do not both run RR 4"
    status=1
  fi
  last_io=$io
}
check none "first stream"
wid=$(xdotool search --sync --onlyvisible --name '^Marlune v1\.03$' | head -n 1)
xdotool windowfocus --sync "$wid" && xdotool key --delay 100 Down Return
check "$last_io" "stream reopened (Buffer Size)"
kill "$pid"; wait "$pid"
cat "$RIG_DIR/marlune.log"
exit $status
EOF
)

status=0
for server in pulseaudio pipewire; do
  echo "=== $server, as $user (ulimit -r: $(runuser -u "$user" -- bash -c 'ulimit -r'))"
  (cd "$here" && runuser -u "$user" -- env HOME="$work/home" PROGRAM="$program" \
     DBUS_SYSTEM_BUS_ADDRESS="$DBUS_SYSTEM_BUS_ADDRESS" \
     timeout 120 scripts/rig.sh --server "$server" -- bash -c "$inner") || status=1
done
echo "=== rtkit said"
grep -i 'made thread\|refus\|denied\|fail' "$work/rtkit.log"
[ "$status" = 0 ] && echo "rtkit_user: PASS" || echo "rtkit_user: FAIL"
exit "$status"
