#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds Marlune and runs every test: the unit tests, the
# end-to-end tests of the real program under a virtual display and a private sound server
# (PulseAudio, then the core scenarios under PipeWire), then the unit tests and the scenarios of
# each sanitizer's kind in sanitizer builds. Every test runs once.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/build.sh
ctest --test-dir build -L unit --output-on-failure
# The end-to-end tests also prove the frame loop's skipping (MARLUNE_FRAME_CHECK=1): every
# skipped frame is drawn anyway and compared with the picture on screen; any difference fails.
ctest --test-dir build -L e2e --output-on-failure
# The core scenarios (start-up, menu and every buffer size with its dropouts, a game with notes
# and a recording, quit) once more under a private PipeWire stack, the sound server of most
# Debian 12 desktops.
ctest --test-dir build -L pipewire --output-on-failure
# ThreadSanitizer, AddressSanitizer with UndefinedBehaviorSanitizer, and RealtimeSanitizer;
# any report fails.
./scripts/sanitize.sh all
