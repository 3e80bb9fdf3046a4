#!/usr/bin/env bash
# regen-goldens.sh - renders the golden performance (tests/golden/performance.txt) anew, prints
# the report that checks it against music theory and the game's documented tables
# (tools/golden_report.py), and writes the new goldens into tests/golden/ only if every check
# passes. Run it on purpose, after a change meant to alter what a player hears or sees, and
# commit the goldens together with the report it printed. Needs python3.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build.sh marlune_tests >/dev/null
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
resources=build/Marlune.app/Contents/Resources
(cd "$resources" && MARLUNE_GOLDEN_OUT="$out" "$OLDPWD/build/tests/marlune_tests" \
   --gtest_filter='Golden.*' >"$out/render.log" 2>&1) || { cat "$out/render.log"; exit 1; }
if ! python3 tools/golden_report.py "$out" tests/golden/performance.txt "$resources/MarluneContent/sfx"; then
  echo "regen-goldens: the goldens are left as they were" >&2
  exit 1
fi
cp "$out/mix.wav" "$out/take.wav" "$out/pads.txt" "$out/frames.txt" "$out/streams.txt" tests/golden/
echo "regen-goldens: new goldens written to tests/golden/ ($(du -ch tests/golden/* | tail -1 | cut -f1))"
