#!/usr/bin/env bash
# record_readonly_test.sh - recording folders that cannot take a recording.
#
# 1. A folder that cannot be written: a click on the record pad shows a red "ERR" (not "ON"),
#    the game plays on, nothing is written, the program ends normally.
# 2. A folder on a nearly full disk (a small tmpfs, mounted here and unmounted by the exit
#    trap): the recording runs until the disk is full, then the pad shows "ERR", one message
#    names the failure, the game plays on, the program quits with status 0, and the file is a
#    complete WAV holding what fitted.
#
# The tests run as root, and root writes through "chmod a-w" (access() and open() both pass),
# so a mode change proves nothing. Instead the program runs in a private mount namespace
# (unshare -m) in which the folder holding the copied bundle - the folder recordings go to -
# is bind-mounted read-only onto itself: the kernel refuses every write there with EROFS,
# root or not. The mount exists only in the program's namespace and vanishes with it, so a
# killed test leaves nothing mounted. Before the program starts, the wrapper proves the
# folder refuses a write.
set -uo pipefail
# shellcheck source=lib.sh
source "$MARLUNE_E2E_LIB"
# shellcheck source=robust_lib.sh
source "$(dirname -- "$0")/robust_lib.sh"
e2e_init
full="$RIG_DIR/full"
trap '_e2e_cleanup; mountpoint -q "$full" && umount "$full"' EXIT

command -v unshare >/dev/null || e2e_fail "unshare (util-linux) is not installed"
folder="$RIG_DIR/readonly"
robust_copy_bundle "$folder"
ls -A "$folder" >"$E2E_OUT/folder-before.txt"
ls -A "$MARLUNE_BUILD_DIR" | grep '\.wav$' >"$E2E_OUT/build-wavs-before.txt"

# The pad's centre line: "ON" and "ERR" are both red there; "ERR" is three characters wide and
# starts 3 pixels further left. Prints the leftmost and rightmost red column, or "none none".
red_extent() { robust_pixel_extent "$1" 80 437 46 20 red; }

# Runs in the program's own mount namespace; exec keeps the program's pid.
# shellcheck disable=SC2016
e2e_start unshare --mount --propagation private sh -c '
  mount --bind "$1" "$1" && mount -o remount,bind,ro "$1" || exit 97
  if touch "$1/.write-probe" 2>/dev/null; then echo "the folder is still writable" >&2; exit 98; fi
  exec "$2"' sh "$folder" "$ROBUST_PROGRAM"
e2e_wait_window "Marlune v1.03" 30
robust_wait_menu 30
e2e_key Return
sleep 1.5
e2e_move 10 590
sleep 0.3
e2e_screenshot "$E2E_OUT/before.png"
[ "$(red_extent "$E2E_OUT/before.png")" = "none none" ] || e2e_fail "red on the record pad before any click"

robust_click 100 447
e2e_move 10 590
sleep 0.5
e2e_screenshot "$E2E_OUT/after-click.png"
read -r first last <<<"$(red_extent "$E2E_OUT/after-click.png")"
e2e_log "red text on the record pad from x $first to $last"
[ "$first" != none ] || e2e_fail "the record pad shows no failure (no red text at its centre)"
e2e_check "$last - $first >= 14 && $first <= 94" \
  "the red text at the record pad's centre spans x $first-$last: \"ON\" rather than \"ERR\""

# The game plays on: a note on the kick pad is heard, and a second record click fails the same way.
e2e_capture_start "$E2E_OUT/capture.wav"
# Held across a step start, so the kick note is entered wherever in its step the press falls.
robust_click 700 340 1 0.3
sleep 3
e2e_capture_stop
e2e_assert_sound "$E2E_OUT/capture.wav" 0.005
robust_click 100 447
e2e_move 10 590
sleep 0.5
e2e_screenshot "$E2E_OUT/second-click.png"
read -r first last <<<"$(red_extent "$E2E_OUT/second-click.png")"
e2e_check "\"$first\" != \"none\" && $last - $first >= 14" "a second record click does not show ERR (red x $first-$last)"

e2e_key Escape
sleep 0.5
e2e_key Escape Escape
e2e_wait_exit 10
robust_assert_clean_exit "quit after a failed recording"
[ "$E2E_STATUS" = 0 ] || e2e_fail "the program exited with status $E2E_STATUS, want 0"

ls -A "$folder" >"$E2E_OUT/folder-after.txt"
diff -u "$E2E_OUT/folder-before.txt" "$E2E_OUT/folder-after.txt" >&2 || e2e_fail "something was written into the read-only recording folder"
ls -A "$MARLUNE_BUILD_DIR" | grep '\.wav$' >"$E2E_OUT/build-wavs-after.txt"
diff -u "$E2E_OUT/build-wavs-before.txt" "$E2E_OUT/build-wavs-after.txt" >&2 || e2e_fail "a recording appeared in the build folder"

e2e_log "--- a recording folder on a nearly full disk"
# Room for the bundle (larger in a sanitizer build) and a little more.
bundle_bytes=$(du -sb -- "$(dirname -- "$(e2e_marlune_path)")/../.." | cut -f1)
mkdir -p -- "$full" && mount -t tmpfs -o size=$((bundle_bytes + 4 * 1024 * 1024)) tmpfs "$full" \
  || e2e_fail "cannot mount a tmpfs on $full"
robust_copy_bundle "$full"
# Leave about 700 KB free: some four seconds of recording.
avail=$(df -B1 --output=avail "$full" | tail -n 1)
dd if=/dev/zero of="$full/filler" bs=4096 count=$(((avail - 700 * 1024) / 4096)) status=none \
  || e2e_fail "cannot fill $full"
e2e_log "free on the tmpfs: $(df -B1 --output=avail "$full" | tail -n 1) bytes"
e2e_start "$ROBUST_PROGRAM"
e2e_wait_window "Marlune v1.03" 30
robust_wait_menu 30
e2e_key Return
robust_wait_game
robust_click 100 447
robust_click 700 340 1 0.6
e2e_move 10 590
started=$(robust_now)
# "ON" while the disk takes the recording, "ERR" once it is full.
for i in $(seq 40); do
  sleep 0.25
  e2e_screenshot "$E2E_OUT/full.png"
  read -r first last <<<"$(red_extent "$E2E_OUT/full.png")"
  [ "$first" != none ] && awk "BEGIN { exit !($last - $first >= 14 && $first <= 94) }" && break
  first=none
done
[ "$first" != none ] || e2e_fail "the record pad shows no \"ERR\" 10 s into a recording on a full disk"
e2e_log "\"ERR\" seen $(awk -v a="$started" -v b="$(robust_now)" 'BEGIN { printf "%.1f", b - a }') s after the kick note"
e2e_capture_start "$E2E_OUT/capture-full.wav"
robust_click 625 310
robust_click 700 250
sleep 3
e2e_capture_stop
e2e_assert_sound "$E2E_OUT/capture-full.wav" 0.005
e2e_key Escape
sleep 0.5
e2e_key Escape Escape
e2e_wait_exit 10
robust_assert_clean_exit "quit after the disk filled"
[ "$E2E_STATUS" = 0 ] || e2e_fail "the program exited with status $E2E_STATUS after the disk filled, want 0"
cp -- "$E2E_OUT/stderr.txt" "$E2E_OUT/stderr-full.txt"
n=$(grep -c "Couldn't write recording" "$E2E_OUT/stderr.txt")
[ "$n" = 1 ] || e2e_fail "want one message about the failed write, found $n"
grep "Couldn't write recording" "$E2E_OUT/stderr.txt" >&2
files=("$full"/*.wav)
[ "${#files[@]}" = 1 ] && [ -f "${files[0]}" ] || e2e_fail "want one recording on the full disk, found: ${files[*]}"
info=$("$E2E_WAVTOOL" info "${files[0]}" 2>&1) || e2e_fail "the recording on the full disk is not a complete WAV: $info"
seconds=$(awk '$1 == "seconds" { print $2 }' <<<"$info")
e2e_log "the recording on the full disk holds $seconds s"
e2e_check "$seconds >= 3" "the recording on the full disk holds only $seconds s of about four that fitted"
e2e_pass
