#!/usr/bin/env bash
# Fuzzes longer than the test command does: builds the fuzz preset and runs
# each target in turn for SECONDS (default 600), keeping what it learns in a
# corpus that grows from run to run. Stops at the first fault and names the
# input that caused it.
# Usage: scripts/fuzz-long.sh [SECONDS] [TARGET...]   (targets: wav_reader w64_reader aiff_reader repair)
# TESSMARK_FUZZ_BUILD=DIR builds in DIR instead of build/fuzz.
set -u
cd "$(dirname "$0")/.."
. scripts/lib.sh
seconds=${1:-600}
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(wav_reader w64_reader aiff_reader repair)
build=${TESSMARK_FUZZ_BUILD:-build/fuzz}

log=$build/fuzz-long-build.log
tm_configure fuzz "$build" "$log" || exit 1
tm_build "$build" "$log" fuzz_seeds "${targets[@]/%/_fuzz}" || exit 1
"$build/fuzz/fuzz_seeds" "$build/fuzz/seeds" || exit 1

for target in "${targets[@]}"; do
  corpus=${target%_reader}
  work=$build/fuzz/long/$target
  mkdir -p "$work/corpus" "$work/artifacts"
  base=/tmp
  [ -w /dev/shm ] && base=/dev/shm
  scratch=$(mktemp -d "$base/tessmark-fuzz.XXXXXX") || exit 1
  echo "== $target for $seconds s (corpus $work/corpus)"
  TESSMARK_FUZZ_TMP=$scratch "$build/fuzz/${target}_fuzz" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
    -artifact_prefix="$work/artifacts/" -print_final_stats=1 \
    "$work/corpus" "$build/fuzz/seeds/$corpus" 2>"$work/last.log"
  status=$?
  rm -rf "$scratch"
  grep -E '^stat::(number_of_executed_units|new_units_added)' "$work/last.log"
  if [ $status -ne 0 ]; then
    grep -E 'check failed|ERROR:|SUMMARY|Test unit written' "$work/last.log"
    echo "$target found a fault (log: $work/last.log)"
    exit 1
  fi
done
echo "no faults found"
