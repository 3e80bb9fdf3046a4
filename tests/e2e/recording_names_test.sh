#!/usr/bin/env bash
# recording_names_test.sh - recordings beside the bundle never overwrite each other, and
# leaving the game while recording completes the file.
#
# Runs inside scripts/rig.sh (registered with marlune_e2e_test), on a private copy of the
# bundle in the artefact folder, so the recordings land there. In one game:
#   - the record pad is pressed on and off twice within one minute: the first file is
#     named YYYY-MM-DD_HH-MM.wav, the second YYYY-MM-DD_HH-MM_2.wav (if the minute turns
#     between the two, both are removed and the pair is tried once more);
#   - a third recording is started and the game left with Escape while it runs: the file
#     is complete (header sizes agree with the data) and holds the sound played before.
# Every file is a well-formed 2-channel 16-bit 44100 Hz WAV.
set -uo pipefail
here=$(cd "$(dirname -- "$0")" && pwd)
source "${MARLUNE_E2E_LIB:-$here/lib.sh}"
source "$here/performance_lib.sh"

e2e_init
[ -n "${MARLUNE_BUNDLE_DIR:-}" ] || e2e_fail "MARLUNE_BUNDLE_DIR is not set (register the test with marlune_e2e_test)"
run="$E2E_OUT/run"
perf_private_bundle "$(dirname -- "$MARLUNE_BUNDLE_DIR")" "$run"

# check_wav FILE - waits (up to 5 s: the audio thread closes the file at its next buffer)
# until FILE is a well-formed WAV, checks it is stereo 16-bit 44100 Hz, sets wav_seconds.
check_wav() {
  local info="" i
  for i in $(seq 50); do
    info=$("$E2E_WAVTOOL" info "$1" 2>/dev/null) && break
    info=""
    sleep 0.1
  done
  [ -n "$info" ] || e2e_fail "$(basename -- "$1") is not a complete WAV file: $("$E2E_WAVTOOL" info "$1" 2>&1)"
  grep -qx 'channels 2' <<<"$info" && grep -qx 'rate 44100' <<<"$info" && grep -qx 'bits 16' <<<"$info" \
    || e2e_fail "$(basename -- "$1") is not 2-channel 16-bit 44100 Hz: $(tr '\n' ' ' <<<"$info")"
  wav_seconds=$(awk '$1 == "seconds" { print $2 }' <<<"$info")
}

# Two short recordings; sets before and after to the minute stamps seen around them.
record_twice() {
  before=$(date +%Y-%m-%d_%H-%M)
  perf_press $PERF_RECORD_X $PERF_RECORD_Y
  sleep 0.5
  perf_press $PERF_RECORD_X $PERF_RECORD_Y
  sleep 0.2
  perf_press $PERF_RECORD_X $PERF_RECORD_Y
  sleep 0.5
  perf_press $PERF_RECORD_X $PERF_RECORD_Y
  after=$(date +%Y-%m-%d_%H-%M)
}

e2e_start_marlune
perf_start_game
# Something to hear: the metronome.
perf_press $PERF_METRONOME_X $PERF_METRONOME_Y

# Keep clear of the end of a minute, so the retry is the exception.
while [ "$(date +%-S)" -ge 55 ]; do sleep 0.5; done
record_twice
if [ "$before" != "$after" ]; then
  e2e_log "the minute turned from $before to $after between the recordings: once more"
  rm -f -- "$run"/*.wav
  record_twice
  [ "$before" = "$after" ] || e2e_fail "the minute turned twice during a second and a half"
fi
mapfile -t names < <(perf_recordings "$run")
[ "${names[*]:-}" = "$before.wav ${before}_2.wav" ] \
  || e2e_fail "two recordings in minute $before are named '${names[*]:-}', want '$before.wav ${before}_2.wav'"
for n in "${names[@]}"; do
  check_wav "$run/$n"
  e2e_check "$wav_seconds >= 0.3 && $wav_seconds <= 1.5" "$n lasts $wav_seconds s, the record pad was on for about 0.6 s"
done
e2e_log "two recordings: ${names[*]}"

# A third recording, left running when the game ends.
mapfile -t known < <(perf_recordings "$run")
perf_press $PERF_RECORD_X $PERF_RECORD_Y
sleep 1.5
e2e_key Escape
sleep 0.5
mapfile -t now < <(perf_recordings "$run")
third=$(comm -13 <(printf '%s\n' "${known[@]}") <(printf '%s\n' "${now[@]}"))
[ "$(wc -w <<<"$third")" = 1 ] || e2e_fail "want one new recording after the third press, found '$third'"
check_wav "$run/$third"
s=$wav_seconds
e2e_check "$s >= 1.2" "$third, closed by Escape, lasts only $s s"
e2e_assert_sound "$run/$third" 0.05 "$s" 0.001
e2e_log "closed by Escape: $third, $s s"

e2e_key Escape
sleep 0.2
e2e_key Escape
e2e_wait_exit 15
[ "$E2E_STATUS" = 0 ] || e2e_fail "marlune exited with status $E2E_STATUS"
# Nothing changed the files after the game ended.
check_wav "$run/$third"
[ "$wav_seconds" = "$s" ] || e2e_fail "$third changed after the game ended"
e2e_pass
