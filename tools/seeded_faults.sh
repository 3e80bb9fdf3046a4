#!/usr/bin/env bash
# Seeded-fault campaign: plants each fault of a list, one at a time, in a scratch copy of the
# sources, builds the unit tests and runs the `unit` label; a fault the tests catch (a failing
# or hanging test, or a test program that no longer starts) is killed, one they pass with
# survived. Reports each fault, the kills per file of src/ and the total.
#
#   tools/seeded_faults.sh [BUILD_DIR]
#
# BUILD_DIR (default: build) only hosts the campaign's own scratch copy and build, in
# BUILD_DIR/seeded-faults/ (the first run builds it whole, later runs only what changed); the
# caller's sources and build are never edited. Run it at idle priority on a shared machine:
#   chrt --idle 0 nice -n 19 tools/seeded_faults.sh build
#
# Environment:
#   SEEDED_FAULTS_LIST     the list (default: tools/seeded_faults.txt beside this script)
#   SEEDED_FAULTS_ONLY     an extended regex on "FILE | NAME": only the faults that match run
#   SEEDED_FAULTS_TIMEOUT  seconds a test may take before it counts as hung (default 60)
#   SEEDED_FAULTS_JOBS     parallel jobs for the build and the tests (default 2)
#
# The list: lines starting with # are comments, blank lines are ignored. A fault is:
#   @ src/FILE.cpp | NAME            (add "| equivalent" when it is judged to change nothing)
#   - ORIGINAL                       (text after "- ": found exactly once in FILE)
#   + REPLACEMENT                    (text after "+ "; a lone "+" deletes ORIGINAL)
# Several - lines in a row make one snippet of as many lines, and so do several + lines.
# An ORIGINAL no longer found is reported "stale", one found more than once "ambiguous"; both,
# and a fault that does not compile, count against the list as not killed.
#
# Exit status: 0 when the campaign ran (whatever it found), 1 when it could not (no list, a
# baseline build or test run that fails without any fault), 130 when interrupted.

# The whole script is one block, read before it runs: editing it meanwhile changes nothing.
{
set -u -o pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${1:-$ROOT/build}
mkdir -p "$BUILD" && BUILD=$(cd "$BUILD" && pwd)
LIST=${SEEDED_FAULTS_LIST:-$ROOT/tools/seeded_faults.txt}
ONLY=${SEEDED_FAULTS_ONLY:-}
TEST_TIMEOUT=${SEEDED_FAULTS_TIMEOUT:-60}
JOBS=${SEEDED_FAULTS_JOBS:-2}

WORK=$BUILD/seeded-faults
TREE=$WORK/tree
SCRATCH_BUILD=$WORK/build
LOGS=$WORK/logs
REPORT=$WORK/report.txt

[ -f "$LIST" ] || { echo "seeded faults: no list at $LIST" >&2; exit 1; }
case "$TREE/" in "$ROOT"/src/*|"$ROOT"/tests/*|"$ROOT"/tools/*)
  echo "seeded faults: the scratch tree may not lie inside the sources" >&2; exit 1;; esac
mkdir -p "$TREE" "$LOGS"

# ---- The scratch copy: the caller's files (tracked and untracked, not ignored), copied where
# they differ. A copied file gets a new modification time, so the scratch build recompiles it.
sync_tree() {
  local list
  if git -C "$ROOT" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    list=$(git -C "$ROOT" ls-files -co --exclude-standard)
  else
    list=$(cd "$ROOT" && find . -path ./build -prune -o -path './build*' -prune -o -path ./.git \
             -prune -o -type f -print | sed 's|^\./||')
  fi
  local f copied=0
  while IFS= read -r f; do
    [ -f "$ROOT/$f" ] || continue
    case "$f" in build/*|build-*/*) continue;; esac
    if ! cmp -s "$ROOT/$f" "$TREE/$f"; then
      mkdir -p "$(dirname "$TREE/$f")"
      cp "$ROOT/$f" "$TREE/$f"
      copied=$((copied + 1))
    fi
  done <<<"$list"
  echo "seeded faults: scratch tree $TREE ($copied files copied)"
}

# ---- Planting and removing one fault. The planted file's own text is kept aside first, so the
# caller may edit the sources meanwhile without the scratch tree changing under the campaign.
CURRENT_FILE=""
PRISTINE=$WORK/pristine
restore() {
  if [ -n "$CURRENT_FILE" ]; then
    # A plain copy: a new modification time, so the faulty object is rebuilt.
    cp "$PRISTINE" "$TREE/$CURRENT_FILE"
    CURRENT_FILE=""
  fi
}
on_signal() {
  restore
  echo "seeded faults: interrupted; the scratch tree is restored" >&2
  exit 130
}
trap on_signal INT TERM HUP
trap restore EXIT

# plant FILE ORIGINAL REPLACEMENT: prints the number of places ORIGINAL was found; changes the
# file only when there is exactly one.
plant() {
  python3 - "$TREE/$1" "$2" "$3" <<'EOF'
import sys
path, old, new = sys.argv[1:4]
with open(path, encoding="utf-8") as f:
    text = f.read()
found = text.count(old) if old else 0
print(found)
if found == 1:
    with open(path, "w", encoding="utf-8") as f:
        f.write(text.replace(old, new, 1))
EOF
}

build_tests() {  # log file
  nice cmake --build "$SCRATCH_BUILD" --target marlune_tests -j "$JOBS" >"$1" 2>&1
}

# ctest_once LOG [ctest options]: status 0 when every test chosen passes; the first that failed
# (its name, then how) is in FAILED_NAME and FAILED_HOW.
FAILED_NAME="" FAILED_HOW=""
ctest_once() {
  local log=$1
  shift
  ctest --test-dir "$SCRATCH_BUILD" -L unit --timeout "$TEST_TIMEOUT" --output-on-failure \
    -j "$JOBS" "$@" >>"$log" 2>&1
  local status=$?
  local line
  line=$(grep -E '^ *[0-9]+/[0-9]+ Test +#[0-9]+: ' "$log" | grep -v ' Passed ' | tail -1)
  FAILED_NAME=$(sed -E 's/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: ([^ ]+) .*/\1/' <<<"$line")
  FAILED_HOW=$(sed -nE 's/.*\*\*\*([A-Za-z]+).*/\1/p' <<<"$line")
  return $status
}

# run_tests LOG: status 0 when the unit tests pass. A test that fails is run again alone: a
# fault fails it every time, while a test that scheduling on a busy machine can fail (it waits
# on the wall clock) may pass the second time; such a failure kills nothing, and the other tests
# are run without it. The killing test, or the tests that failed only once, end in FIRST_FAILED
# and FLAKY.
FIRST_FAILED="" FLAKY=""
run_tests() {
  local log=$1 excluded="" name
  FLAKY=""
  : >"$log"
  while :; do
    if [ -z "$excluded" ]; then
      ctest_once "$log" --stop-on-failure && return 0
    else
      ctest_once "$log" --stop-on-failure -E "^($excluded)\$" && return 0
    fi
    name=$FAILED_NAME
    FIRST_FAILED="$name ($FAILED_HOW)"
    [ -n "$name" ] || return 1
    echo "---- again, alone: $name" >>"$log"
    if ! ctest_once "$log" -R "^$name\$"; then return 1; fi
    FLAKY="${FLAKY:+$FLAKY, }$name"
    excluded="${excluded:+$excluded|}$name"
  done
}

# ---- Baseline: the scratch tree as the caller has it must build and pass.
started=$(date +%s)
sync_tree
if [ ! -f "$SCRATCH_BUILD/CMakeCache.txt" ]; then
  launcher=()
  if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  fi
  echo "seeded faults: configuring the scratch build (the first build compiles everything)"
  cmake -S "$TREE" -B "$SCRATCH_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DMARLUNE_BENCHMARKS=OFF "${launcher[@]}" >"$LOGS/configure.log" 2>&1 ||
    { echo "seeded faults: configuring failed, see $LOGS/configure.log" >&2; exit 1; }
fi
if ! build_tests "$LOGS/baseline-build.log"; then
  echo "seeded faults: the unit tests do not build without a fault, see $LOGS/baseline-build.log" >&2
  exit 1
fi
if ! run_tests "$LOGS/baseline-test.log"; then
  echo "seeded faults: the unit tests fail without a fault ($FIRST_FAILED), see" \
       "$LOGS/baseline-test.log" >&2
  exit 1
fi
echo "seeded faults: baseline builds and passes ($(( $(date +%s) - started )) s)"

# ---- The campaign.
declare -A file_total file_killed
total=0 killed=0 survived=0 equivalent=0 broken=0
: >"$REPORT"
report() { echo "$*" | tee -a "$REPORT"; }

run_fault() {  # file name original replacement equivalent-flag
  local file=$1 name=$2 original=$3 replacement=$4 judged=$5
  local index=$((total + 1))
  local log="$LOGS/$(printf '%03d' "$index")"
  total=$index
  file_total[$file]=$(( ${file_total[$file]:-0} + 1 ))
  file_killed[$file]=${file_killed[$file]:-0}
  local verdict
  if [ ! -f "$TREE/$file" ]; then
    verdict="stale (no such file)"
    broken=$((broken + 1))
  else
    cp "$TREE/$file" "$PRISTINE"
    CURRENT_FILE=$file
    local found
    found=$(plant "$file" "$original" "$replacement")
    if [ "$found" != 1 ]; then
      restore
      if [ "$found" = 0 ]; then verdict="stale (snippet not found)"; else verdict="ambiguous (snippet found $found times)"; fi
      broken=$((broken + 1))
    elif ! build_tests "$log.build.log"; then
      if grep -q 'Error running test executable' "$log.build.log"; then
        verdict="killed (the test program no longer starts)"
        killed=$((killed + 1)); file_killed[$file]=$(( ${file_killed[$file]} + 1 ))
      else
        verdict="does not compile"
        broken=$((broken + 1))
      fi
    elif run_tests "$log.test.log"; then
      if [ -n "$FLAKY" ]; then
        echo "seeded faults: $FLAKY failed once and passed alone (timing): no kill" >&2
      fi
      if [ -n "$judged" ]; then
        verdict="survived (judged equivalent)"
        equivalent=$((equivalent + 1))
      else
        verdict="SURVIVED"
      fi
      survived=$((survived + 1))
    else
      verdict="killed by ${FIRST_FAILED:-the test run}"
      killed=$((killed + 1)); file_killed[$file]=$(( ${file_killed[$file]} + 1 ))
    fi
    restore
  fi
  report "$(printf '%3d  %-28s %-60s %s' "$index" "$file" "$name" "$verdict")"
}

# The list is read whole first: editing it meanwhile changes nothing.
mapfile -t LIST_LINES <"$LIST"
name="" file="" original="" have_original=0 judged=""
flush() {
  if [ -n "$file" ]; then
    if [ $have_original = 1 ] && [ -n "${replacement+set}" ]; then
      if [ -z "$ONLY" ] || [[ "$file | $name" =~ $ONLY ]]; then
        run_fault "$file" "$name" "$original" "$replacement" "$judged"
      fi
    else
      echo "seeded faults: the list's fault \"$name\" lacks its - or + line" >&2
      total=$((total + 1)); broken=$((broken + 1))
    fi
  fi
  file="" name="" original="" have_original=0 judged=""
  unset replacement
}
for line in "${LIST_LINES[@]}"; do
  case "$line" in
    '#'*|'') continue;;
    '@ '*)
      flush
      IFS='|' read -r file name judged <<<"${line#@ }"
      file=$(echo "$file" | sed 's/^ *//; s/ *$//')
      name=$(echo "$name" | sed 's/^ *//; s/ *$//')
      judged=$(echo "$judged" | sed 's/^ *//; s/ *$//')
      ;;
    # Consecutive - (or +) lines make a snippet of several lines.
    '- '*)
      if [ $have_original = 1 ] && [ -z "${replacement+set}" ]; then
        original+=$'\n'"${line#- }"
      else
        original=${line#- }; have_original=1
      fi;;
    '+ '*|'+')
      text=${line#+}; text=${text# }
      if [ -n "${replacement+set}" ]; then replacement+=$'\n'"$text"; else replacement=$text; fi;;
    *) echo "seeded faults: a line the list does not understand: $line" >&2;;
  esac
done
flush

# ---- Kills per file, and the files of src/ with no fault listed.
report ""
report "Kills per file:"
for f in $(printf '%s\n' "${!file_total[@]}" | sort); do
  report "$(printf '  %-32s %3d of %3d' "$f" "${file_killed[$f]}" "${file_total[$f]}")"
done
if [ -z "$ONLY" ]; then
  for f in $(cd "$TREE" && ls src/*.cpp); do
    # main.cpp is the program's alone: the unit tests do not link it.
    [ "$f" = src/main.cpp ] && continue
    [ -n "${file_total[$f]:-}" ] || report "  $f: no fault listed"
  done
fi
elapsed=$(( $(date +%s) - started ))
percent=$(awk -v k="$killed" -v t="$total" 'BEGIN { printf "%.1f", t ? 100 * k / t : 0 }')
others=$(awk -v k="$killed" -v t="$total" -v e="$equivalent" \
           'BEGIN { printf "%.1f", (t > e ? 100 * k / (t - e) : 0) }')
report ""
report "Total: $killed of $total faults killed ($percent %; $others % of those not judged" \
       "equivalent); $survived survived ($equivalent of them judged equivalent); $broken stale," \
       "ambiguous or not compiling; $elapsed s"
echo "seeded faults: report in $REPORT"
exit 0
}
