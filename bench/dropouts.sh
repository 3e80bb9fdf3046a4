#!/usr/bin/env bash
# dropouts.sh - how often the sound breaks up, as a player hears it, at every buffer size on
# every sound server, on a quiet machine and beside a busy desktop's load. The program idles in
# the menu, where the theme plays without a pause; each cell (server x size x quiet/load) is a
# capture of what the server plays, DROPOUT_SECONDS long after its first second (attaching a
# capture reconfigures the sink), and every dropout in it is counted: a run of digital silence
# of 1 ms or more (every channel within 2/32768 of 0, which the theme never is; marlune_wavtool
# gaps ... whole), silence at the capture's ends included, so a stream that stopped counts too.
#   pulseaudio, pipewire  scripts/rig.sh --server NAME: the program's stream through the
#                         server's PulseAudio protocol into the null sink; the sink's monitor
#                         captured (parec). One program run cycles through the sizes in the menu.
#   jack                  Debian's jackd1 with the dummy driver at 44.1 kHz, real-time as on a
#                         desktop, its period the size, a server name of the bench's own; a
#                         server and a program run per size (the program plays at the server's
#                         period, whatever its menu asks, and shows that in the menu).
#                         marlune_jackprobe records what reaches the playback ports; time the
#                         server's clock moved on without a cycle (the driver giving up on a
#                         late graph) is written into that capture as silence, so it counts.
# Beside the load: e2e_load_start (tools/rig/lib.sh), 600 MB of memory churned every 0.2 s and
# one busy core, from before the capture starts until it ends.
#
# Usage: bench/dropouts.sh [BUILD_DIR] [REPORT]   (defaults: build, BUILD_DIR/dropouts.md)
#   DROPOUT_SECONDS=180        captured audio per cell, after its first second
#   DROPOUT_SERVERS="pulseaudio pipewire jack"
#   DROPOUT_SIZES="64 128 256 512 1024 2048"
#   DROPOUT_CONDITIONS="quiet load"
# Build the default target in BUILD_DIR first. REPORT gets a table, one row per server and size:
# dropouts per minute and the longest, quiet and beside the load, with the date, the cell length
# and the 1-minute load average around each cell (and beside the load its rounds of churn);
# REPORT.cells has one line per cell ("SERVER FRAMES CONDITION SECONDS DROPOUTS LONGEST_MS
# SILENT_MS LOADAVG CHURN_ROUNDS") and REPORT.gaps every dropout ("SERVER FRAMES CONDITION
# SECONDS_INTO_CAPTURE LENGTH_MS").
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

# Inside the rig: every cell of one server (bench/dropouts.sh --inside SERVER).
if [ "${1:-}" = --inside ]; then
  server=$2
  # shellcheck source=../tools/rig/lib.sh
  source "$root/tools/rig/lib.sh"
  e2e_init
  seconds=${DROPOUT_SECONDS:-180}
  read -r -a sizes <<<"${DROPOUT_SIZES:-64 128 256 512 1024 2048}"
  read -r -a conditions <<<"${DROPOUT_CONDITIONS:-quiet load}"
  menu_sizes=(512 1024 2048 64 128 256)  # the menu's cycle, from the size it starts at
  menu_size=512 jackd="" probe="" churned=0
  export JACK_DEFAULT_SERVER=marlune_dropouts  # one name: the JACK registry holds eight
  trap '_e2e_cleanup; [ -z "$probe" ] || _e2e_kill "$probe" INT; [ -z "$jackd" ] || _e2e_kill "$jackd" TERM' EXIT

  # menu_to SIZE - Return on "Buffer Size" (selected) until the entry shows SIZE; each Return
  # must change the number shown.
  menu_to() {
    local i j before after
    for i in $(seq 6); do
      [ "$menu_size" = "$1" ] && return 0
      e2e_screenshot "$E2E_OUT/entry.png"; before=$(e2e_entry_digits "$E2E_OUT/entry.png")
      e2e_key Return
      for j in $(seq 150); do  # 30 s: a reopen waits for the server, on a busy machine long
        e2e_screenshot "$E2E_OUT/entry.png"; after=$(e2e_entry_digits "$E2E_OUT/entry.png")
        [ "$after" != "$before" ] && break
        [ "$j" = 150 ] && e2e_fail "the buffer-size entry did not change after $menu_size"
        program_alive
        sleep 0.2
      done
      for j in "${!menu_sizes[@]}"; do [ "${menu_sizes[$j]}" = "$menu_size" ] && break; done
      menu_size=${menu_sizes[$(((j + 1) % 6))]}
    done
    e2e_fail "no buffer size $1 in the menu"
  }
  # The program must play on: if it ended, say how.
  program_alive() {
    _e2e_alive "$E2E_PID" && return 0
    wait "$E2E_PID"; local status=$?
    E2E_PID=""
    e2e_fail "the program ended (status $status) at $size frames"
  }
  menu_ready() {
    e2e_start
    e2e_wait_screen menu
    e2e_key Down
    menu_size=512
  }

  # held FILE - seconds of audio the growing capture FILE holds, and the peak of its last 0.1 s.
  held() { "$MARLUNE_WAVTOOL" raw "$1" 2>/dev/null | awk '{ print $4, $6 }'; }
  # capture_until FILE SECONDS [FROM] - waits until FILE holds sound (or from position FROM),
  # then SECONDS of audio after that; sets CAPTURE_START to the position the sound was first
  # seen at (or FROM). Fails if the capture stops growing for 10 s, if it holds no sound after
  # 30 s, or if the program ends.
  capture_until() {
    local start=${3:-} h p last="" still=0 waited=0
    while :; do
      program_alive
      read -r h p <<<"$(held "$1")"
      [ -n "$start" ] || [ "$waited" -lt 300 ] || e2e_fail "the capture $1 holds no sound after 30 s"
      waited=$((waited + 1))
      if [ -n "$p" ]; then
        if [ -z "$start" ]; then
          awk -v p="$p" 'BEGIN { exit !(p > 0.005) }' && start=$h
        elif awk -v h="$h" -v s="$start" -v d="$2" 'BEGIN { exit !(h >= s + d) }'; then
          CAPTURE_START=$start; return 0
        fi
      fi
      [ "$h" = "$last" ] && still=$((still + 1)) || still=0 last=$h
      [ "$still" -lt 100 ] || e2e_fail "the capture $1 stopped growing at ${h:-0} s"
      sleep 0.1
    done
  }
  capture_start() {
    if [ "$server" = jack ]; then
      "$MARLUNE_JACKPROBE" record "$1" >"$E2E_OUT/probe.txt" 2>&1 &
      probe=$!
    else
      e2e_capture_start "$1"
    fi
  }
  capture_stop() {
    if [ "$server" = jack ]; then
      _e2e_kill "$probe" INT; probe=""
      e2e_log "probe: $(tr '\n' ' ' <"$E2E_OUT/probe.txt")"
      ! grep -q 'fell behind' "$E2E_OUT/probe.txt" || e2e_fail "the JACK capture lost cycles of its own"
    else
      e2e_capture_stop
    fi
  }
  # cell SIZE CONDITION - one measurement at the size the program plays at.
  cell() {
    local cap="$E2E_OUT/cell.wav" from lines count longest silent
    [ "$2" = load ] && e2e_load_start
    local load0; load0=$(cut -d' ' -f1 /proc/loadavg)
    capture_start "$cap"
    capture_until "$cap" 1
    from=$(e2e_calc "$CAPTURE_START + 1")
    capture_until "$cap" "$seconds" "$from"
    local load1; load1=$(cut -d' ' -f1 /proc/loadavg)
    capture_stop
    # The load's rounds of memory churn during the cell (not judged: on a machine busy enough
    # a round takes longer than a cell).
    local rounds=-
    if [ "$2" = load ]; then
      _e2e_kill "$E2E_LOAD_PID" TERM; E2E_LOAD_PID=""
      rounds=$(($(wc -c <"$E2E_OUT/load.txt" 2>/dev/null || echo 0) - churned)) churned=$((churned + rounds))
    fi
    program_alive
    local measured; measured=$(e2e_calc "$(e2e_wav_field "$cap" seconds) - $from")
    lines=$(e2e_wav "$cap" gaps "$from" 1000000 whole) || exit 1
    read -r count longest silent <<<"$(awk '$1 == "gaps" { n = $2; next } { s += $2; if ($2 > m) m = $2 }
      END { printf "%d %.1f %.1f\n", n, m, s }' <<<"$lines")"
    awk -v p="$server $1 $2" -v f="$from" '$1 != "gaps" { printf "%s %.3f %s\n", p, $1 - f, $2 }' <<<"$lines" >>"$DROPOUT_GAPS"
    echo "$server $1 $2 $measured $count $longest $silent $load0-$load1 $rounds" >>"$DROPOUT_CELLS"
    e2e_log "$server, $1 frames, $2: $count dropouts in $measured s, longest $longest ms (load $load0-$load1, churn $rounds)"
    rm -f -- "$cap"
  }

  if [ "$server" = jack ]; then
    command -v jackd >/dev/null || e2e_fail "jackd is not installed (Debian's jackd1)"
    for size in "${sizes[@]}"; do
      jackd -n "$JACK_DEFAULT_SERVER" -d dummy -r 44100 -p "$size" >>"$E2E_OUT/jackd.log" 2>&1 &
      jackd=$!
      for _ in $(seq 50); do "$MARLUNE_JACKPROBE" 0 >/dev/null 2>&1 && break; sleep 0.1; done
      "$MARLUNE_JACKPROBE" 0 >/dev/null 2>&1 || e2e_fail "the JACK server did not come up (see $E2E_OUT/jackd.log)"
      # The program plays at the server's period whatever the menu asks (and shows it there).
      menu_ready
      sleep 2  # past the chime and the theme's fade-in
      "$MARLUNE_JACKPROBE" 0 | grep -q '^connected: .*RtApiJack' || e2e_fail "the program's ports do not feed the playback ports"
      for condition in "${conditions[@]}"; do cell "$size" "$condition"; done
      e2e_quit
      _e2e_kill "$jackd" TERM; jackd=""
    done
    e2e_log "the JACK servers reported $(grep -c 'xrun' "$E2E_OUT/jackd.log") xruns (see $E2E_OUT/jackd.log)"
  else
    menu_ready
    sleep 2  # past the chime and the theme's fade-in
    for size in "${sizes[@]}"; do
      menu_to "$size"
      sleep 2
      for condition in "${conditions[@]}"; do cell "$size" "$condition"; done
    done
    e2e_quit
  fi
  e2e_pass
fi

build=$(cd "${1:-$root/build}" && pwd) || { echo "dropouts: no build folder" >&2; exit 1; }
report=$(realpath -m -- "${2:-$build/dropouts.md}")
export MARLUNE_BUNDLE_DIR=$build/Marlune.app/Contents MARLUNE_BUILD_DIR=$build
export MARLUNE_WAVTOOL=$build/tools/rig/marlune_wavtool MARLUNE_PADS=$build/tools/rig/marlune_pads
export MARLUNE_JACKPROBE=$build/tools/rig/marlune_jackprobe
export DROPOUT_CELLS=$report.cells DROPOUT_GAPS=$report.gaps
for tool in "$MARLUNE_BUNDLE_DIR/MacOS/marlune" "$MARLUNE_WAVTOOL" "$MARLUNE_PADS" "$MARLUNE_JACKPROBE"; do
  [ -x "$tool" ] || { echo "dropouts: $tool is not built" >&2; exit 1; }
done
mkdir -p -- "$(dirname -- "$report")"
: >"$DROPOUT_CELLS"; : >"$DROPOUT_GAPS"
# One rig per server; under JACK one per size (a server and a program of their own), so that a
# size that fails there costs only its own cells.
failed=""
run() {  # run SERVER SIZES OUT RIG_ARGS...
  local server=$1 sizes=$2 out=$3; shift 3
  DROPOUT_SIZES=$sizes MARLUNE_E2E_OUT=$out bash "$root/scripts/rig.sh" "$@" -- bash "$0" --inside "$server" ||
    { echo "dropouts: the $server run at $sizes frames failed (see $out)" >&2; failed="$failed $server ($sizes: $out)"; }
}
sizes=${DROPOUT_SIZES:-64 128 256 512 1024 2048}
for server in ${DROPOUT_SERVERS:-pulseaudio pipewire jack}; do
  case $server in
    pulseaudio|pipewire) run "$server" "$sizes" "$build/dropouts-out/$server" --server "$server" ;;
    # Nothing but the JACK server to play through.
    jack) for size in $sizes; do run jack "$size" "$build/dropouts-out/jack-$size" --no-audio; done ;;
    *) echo "dropouts: unknown server $server" >&2; exit 1 ;;
  esac
done

# The table: per server and size, quiet and loaded side by side.
{
  echo "Dropouts of the menu theme, $(date '+%Y-%m-%d %H:%M'), ${DROPOUT_SECONDS:-180} s per cell"
  echo "(dropouts per minute (count), and the longest; in brackets the 1-minute load average"
  echo "before-after each cell and, beside the load, its rounds of memory churn)"
  echo
  echo "| server | frames | quiet: per minute | quiet: longest | load: per minute | load: longest |"
  echo "|---|---|---|---|---|---|"
  awk '{ k = $1 " " $2; if (!(k in seen)) { seen[k] = 1; order[++n] = k }
         rate[k, $3] = sprintf("%.2f (%d)", 60 * $5 / $4, $5); longest[k, $3] = $6 " ms"
         la[k, $3] = $8 ($9 == "-" ? "" : ", " $9 " rounds") }
       END { for (i = 1; i <= n; i++) { k = order[i]; split(k, f, " ")
               q = (k SUBSEP "quiet") in rate; l = (k SUBSEP "load") in rate
               printf "| %s | %s | %s | %s | %s | %s |\n", f[1], f[2],
                 q ? rate[k, "quiet"] " [" la[k, "quiet"] "]" : "-", q ? longest[k, "quiet"] : "-",
                 l ? rate[k, "load"] " [" la[k, "load"] "]" : "-", l ? longest[k, "load"] : "-" } }' "$DROPOUT_CELLS"
  [ -z "$failed" ] || { echo; echo "Runs that failed (their cells are missing):$failed"; }
} >"$report"
cat "$report"
echo "dropouts: table in $report, cells in $DROPOUT_CELLS, every dropout in $DROPOUT_GAPS" >&2
[ -z "$failed" ]
