#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds Marlune and plays it.
# Without a display (no DISPLAY), it says so and runs a scripted performance under a virtual
# display and a private sound server instead, leaving its recording and a screenshot beside
# the bundle.
set -euo pipefail
cd "$(dirname "$0")/.."

# The program, and the tools the headless demo drives it with.
./scripts/build.sh marlune marlune_pads marlune_wavtool

if [ -n "${DISPLAY:-}" ]; then
  exec build/Marlune.app/Contents/MacOS/marlune
fi

echo "No display found (DISPLAY is not set): playing a scripted performance on a virtual display instead."
exec ./scripts/demo.sh build
