#!/usr/bin/env bash
# Builds Marlune with a sanitizer and runs the unit tests and the end-to-end scenarios of that
# sanitizer's kind in that build; any sanitizer report fails the run.
#
# Usage: scripts/sanitize.sh [--build-only|--test-only] [thread|address|realtime|all]
#        (default: build and test all three)
#   --build-only  configures and builds, runs nothing (the test command builds the three in
#                 the background while the other tests run)
#   --test-only   runs the tests of builds made before; a build that a --build-only run still
#                 has to finish is waited for, so each pass's tests start as soon as its build
#                 is ready while the next builds go on
#
#   thread    ThreadSanitizer (gcc), in build-tsan
#   address   AddressSanitizer + UndefinedBehaviorSanitizer (gcc), in build-asan; LeakSanitizer
#             on the unit tests (see tests/sanitizers/lsan.supp for why not end to end)
#   realtime  RealtimeSanitizer (clang-22), in build-rtsan: the mixer callback is marked
#             [[clang::nonblocking]], so any allocation, lock or system call under it outside
#             the pad-list mutex is a report
#
# The options below make every report end the reporting process with status 66 (the unit
# test binary, the program under an end-to-end test, or a tool), which fails its test; the
# end-to-end helpers also fail a test whose program printed a report. Suppressions, for
# third-party libraries only, live in tests/sanitizers/ with their reasons.
# Environment: JOBS (default 2) parallel compile jobs; E2E (a ctest -R regular expression)
# replaces the end-to-end pick of every pass, e.g. E2E='e2e_signal'. The tests that judge
# real-time timing as a player hears it (taps on the beat, dropouts per buffer size) are never
# picked: a sanitizer slows the program several-fold, so they would judge the sanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
supp=$root/tests/sanitizers
jobs=${JOBS:-2}

export TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1 suppressions=$supp/tsan.supp"
export ASAN_OPTIONS="halt_on_error=1 exitcode=66 abort_on_error=0 detect_leaks=1 detect_stack_use_after_return=1 strict_string_checks=1 check_initialization_order=1"
export LSAN_OPTIONS="exitcode=66 print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1 exitcode=66 print_stacktrace=1"
export RTSAN_OPTIONS="halt_on_error=1 exitcode=66 print_stats_on_exit=0"
# End-to-end scripts may read this to allow for the sanitizer's slowdown (2x to 15x) in
# wall-clock limits.
export MARLUNE_SANITIZER

# run_pass KIND - configures, builds and tests one sanitizer build; prints its duration. Each
# runs the end-to-end scenarios of the kind of fault its sanitizer finds: threads handing data
# over (thread), error paths and freed or overrun memory (address), the audio callback through
# a whole game (realtime).
steps=both
case "${1:-}" in --build-only) steps=build; shift ;; --test-only) steps=test; shift ;; esac

# The build folder of each sanitizer. A --build-only run marks each build it is going to make
# with its pid (DIR/.pending) before it starts, and each finished one with DIR/.built.
kinds=(thread address realtime)
declare -A dirs=([thread]=build-tsan [address]=build-asan [realtime]=build-rtsan)

run_pass() {
  local kind=$1 dir=${dirs[$1]:-} pick compilers=()
  case "$kind" in
    thread) pick='^e2e_(soak|sound_server_loss)$' ;;
    address) pick='^e2e_(assets|recording)$' ;;
    realtime)
      pick='^e2e_game$'
      command -v clang++-22 >/dev/null ||
        { echo "sanitize: clang++-22 is missing (scripts/install-deps.sh)" >&2; return 1; }
      compilers=(-DCMAKE_C_COMPILER=clang-22 -DCMAKE_CXX_COMPILER=clang++-22)
      ;;
    *) echo "sanitize: unknown sanitizer '$kind' (thread, address, realtime or all)" >&2; return 2 ;;
  esac
  local start=$SECONDS
  MARLUNE_SANITIZER=$kind
  echo "== $kind sanitizer: $dir"
  if [ "$steps" != test ]; then
    rm -f "$dir/.built"
    # What the passes run: the unit tests, the program and the end-to-end tests' tools. Each
    # target compiles as a few large units (a unity build): the headers (gtest, STK, SDL) are
    # instrumented once per unit instead of once per file, which halves the build. The main
    # build compiles file by file, so a missing include still shows there.
    if ! cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMARLUNE_SANITIZE="$kind" \
           -DMARLUNE_BENCHMARKS=OFF -DCMAKE_UNITY_BUILD=ON "${compilers[@]}" >/dev/null ||
       ! cmake --build "$dir" -j"$jobs" --target marlune_tests marlune marlune_content \
           marlune_wavtool marlune_pads marlune_tapper; then
      rm -f "$dir/.pending"
      echo "== $kind sanitizer FAILED: build" >&2
      return 1
    fi
    touch "$dir/.built" && rm -f "$dir/.pending"
    echo "== $kind sanitizer built in $((SECONDS - start)) s"
    [ "$steps" = both ] || return 0
  fi
  while [ -e "$dir/.pending" ] && kill -0 "$(cat "$dir/.pending" 2>/dev/null)" 2>/dev/null; do sleep 1; done
  [ -e "$dir/.built" ] || { echo "== $kind sanitizer FAILED: not built" >&2; return 1; }
  local built=$SECONDS status=0 leaks=""
  ctest --test-dir "$dir" -L unit -j2 --output-on-failure --timeout 600 || status=1
  # The real program's leak check at exit cannot be used: the OpenGL driver (Mesa's
  # swrast_dri.so) is unloaded by SDL_Quit before it, so its leaks have no module to match a
  # suppression against. Our code's leaks are caught by the unit tests above; the end-to-end
  # tests still check every memory access and undefined behaviour.
  [ "$kind" != address ] || leaks=" detect_leaks=0"
  ASAN_OPTIONS="$ASAN_OPTIONS$leaks" ctest --test-dir "$dir" -L e2e -R "${E2E:-$pick}" \
    --output-on-failure --timeout 600 || status=1
  echo "== $kind sanitizer $([ "$status" = 0 ] && echo passed || echo FAILED):" \
    "build $((built - start)) s, tests $((SECONDS - built)) s"
  return "$status"
}

[ "${1:-all}" = all ] || kinds=("$1")
if [ "$steps" = build ]; then
  for kind in "${kinds[@]}"; do
    [ -n "${dirs[$kind]:-}" ] && mkdir -p "${dirs[$kind]}" && echo $$ >"${dirs[$kind]}/.pending"
  done
fi
# Every pass runs, so one failure does not hide the others' results.
failed=0
for kind in "${kinds[@]}"; do run_pass "$kind" || failed=1; done
exit "$failed"
