#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds Marlune and runs every test: the unit tests, the
# end-to-end tests of the real program under a virtual display and a private sound server
# (PulseAudio, then the core scenarios under PipeWire), then the unit tests and the scenarios of
# each sanitizer's kind in sanitizer builds. Every test runs once.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
# The test build also proves the frame loop's skipping: every skipped frame is drawn anyway and
# compared with the picture on screen; the end-to-end tests fail on any difference.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMARLUNE_FRAME_CHECK=ON
cmake --build build -j"$(nproc)"
ctest --test-dir build -L unit --output-on-failure
ctest --test-dir build -L e2e --output-on-failure
# The core scenarios (start-up, menu and every buffer size with its dropouts, a game with notes
# and a recording, quit) once more under a private PipeWire stack, the sound server of most
# Debian 12 desktops.
ctest --test-dir build -L pipewire --output-on-failure
# ThreadSanitizer, AddressSanitizer with UndefinedBehaviorSanitizer, and RealtimeSanitizer;
# any report fails.
./scripts/sanitize.sh all
