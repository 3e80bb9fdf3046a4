#!/usr/bin/env bash
# soak_test.sh - the soak session of scripts/soak.sh, cut to SOAK_SECONDS (default 30) for
# every test run: random clicks on every pad, chord edits, recording on and off at 64-frame
# buffers; no crash, no sanitizer report, every recording complete. The summary (and, in a
# build with MARLUNE_AUDIO_PROBES=ON, the callback timing) is in $MARLUNE_E2E_OUT/summary.txt.
exec bash "$MARLUNE_SOURCE_DIR/scripts/soak.sh" "${SOAK_SECONDS:-30}" "$MARLUNE_BUILD_DIR"
