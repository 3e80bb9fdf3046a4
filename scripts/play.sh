#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds Marlune and plays it.
# Without a display (no DISPLAY), it says so and runs a scripted performance under a virtual
# display and a private sound server instead, leaving its recording and a screenshot beside
# the bundle.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
# The frame check is for the test build (scripts/test.sh), which shares this folder.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMARLUNE_FRAME_CHECK=OFF
cmake --build build -j"$(nproc)" --target marlune

if [ -n "${DISPLAY:-}" ]; then
  exec build/Marlune.app/Contents/MacOS/marlune
fi

echo "No display found (DISPLAY is not set): playing a scripted performance on a virtual display instead."
exec ./scripts/demo.sh build
