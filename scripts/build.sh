#!/usr/bin/env bash
# build.sh [TARGET...] - installs what is missing (scripts/install-deps.sh) and builds Marlune
# in build/, the one build folder of both README commands: the play command builds what a
# player needs (the program and the demo's tools), the test command everything, in the same
# configuration, so nothing is built twice. No TARGET: everything.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
if [ $# -gt 0 ]; then
  cmake --build build -j"$(nproc)" --target "$@"
else
  cmake --build build -j"$(nproc)"
fi
