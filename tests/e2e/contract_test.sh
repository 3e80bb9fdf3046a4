#!/usr/bin/env bash
# contract_test.sh - checks what marlune_e2e_test() promises to every e2e
# script: the variables naming the bundle, folders and tools, and the rig's
# display and sound server (or, when registered with NO_AUDIO, no sound server).
# It needs no built program.
set -uo pipefail
# shellcheck source=lib.sh
source "$MARLUNE_E2E_LIB"
e2e_init
for v in MARLUNE_BUNDLE_DIR MARLUNE_BUILD_DIR MARLUNE_SOURCE_DIR MARLUNE_WAVTOOL MARLUNE_SHOT \
         MARLUNE_E2E_LIB MARLUNE_E2E_OUT RIG_DIR; do
  [ -n "${!v:-}" ] || e2e_fail "$v is not set"
done
case "$MARLUNE_BUNDLE_DIR" in */Marlune.app/Contents) ;; *) e2e_fail "odd MARLUNE_BUNDLE_DIR $MARLUNE_BUNDLE_DIR" ;; esac
[ "$MARLUNE_BUNDLE_DIR" = "$MARLUNE_BUILD_DIR/Marlune.app/Contents" ] || e2e_fail "bundle is not in the build folder"
[ "$PWD" = "$MARLUNE_BUILD_DIR" ] || e2e_fail "working directory $PWD is not the build folder"
[ -f "$MARLUNE_SOURCE_DIR/scripts/rig.sh" ] || e2e_fail "MARLUNE_SOURCE_DIR has no scripts/rig.sh"
[ -x "$MARLUNE_WAVTOOL" ] && [ -x "$MARLUNE_SHOT" ] || e2e_fail "analysis tools not built"
xdpyinfo >/dev/null 2>&1 || e2e_fail "no display"
if [ -n "$RIG_SINK" ]; then
  pactl info >/dev/null 2>&1 || e2e_fail "no sound server"
else
  if pactl info >/dev/null 2>&1; then e2e_fail "a sound server answers under NO_AUDIO"; fi
fi
e2e_pass
