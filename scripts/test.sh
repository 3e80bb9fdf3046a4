#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds Marlune and runs every test: the unit tests and
# the end-to-end tests of the real program under a virtual display and a private sound server.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure
