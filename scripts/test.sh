#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds Marlune and runs every test: the unit tests, the
# end-to-end tests of the real program under a virtual display and a private sound server
# (PulseAudio, then the core scenarios under PipeWire), then the unit tests and the scenarios of
# each sanitizer's kind in sanitizer builds. Every test runs once.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/build.sh
# The three sanitizer builds compile in the background at idle priority (SCHED_IDLE) from now
# on, taking only the processor time the tests leave unused; each sanitizer pass's tests start
# once its build is ready.
setsid chrt --idle 0 ./scripts/sanitize.sh --build-only all >build/sanitizer-builds.log 2>&1 &
builds=$!
trap 'kill -- -"$builds" 2>/dev/null || true' EXIT  # a failed test ends the builds too
# The unit tests are processes of their own with their own temporary folders: two at a time.
ctest --test-dir build -L unit -j2 --output-on-failure
# The end-to-end tests also prove the frame loop's skipping (MARLUNE_FRAME_CHECK=1): every
# skipped frame is drawn anyway and compared with the picture on screen; any difference fails.
# First the menu scenarios, under PulseAudio and under a private PipeWire stack (the sound
# server of most Debian 12 desktops): each reports the dropouts it heard at every buffer size
# (dropouts.txt in its folder under build/tests/e2e/out) beside the idle builds; they fail no
# test (bench/dropouts.sh measures their rate); a stream that stops for half a second does.
ctest --test-dir build -R '^e2e_menu(_pipewire)?$' --output-on-failure
# Then the rest, PulseAudio first, then the core scenarios (a game with notes and a recording)
# under PipeWire, then the sanitizer passes (ThreadSanitizer, AddressSanitizer with
# UndefinedBehaviorSanitizer, RealtimeSanitizer; any report fails). The soak (random clicks on
# every pad at the smallest buffers) runs once, in the ThreadSanitizer pass, where a race it
# provokes is also reported.
ctest --test-dir build -L e2e -E '^e2e_(menu|soak)$' --output-on-failure
ctest --test-dir build -L pipewire -E '^e2e_menu_pipewire$' --output-on-failure
status=0
./scripts/sanitize.sh --test-only all || status=1
wait "$builds" || { tail -n 40 build/sanitizer-builds.log >&2; status=1; }
grep '^== .* built in' build/sanitizer-builds.log
exit "$status"
