#!/bin/sh
# Runs one fuzz target for a bounded time from its seeds, in a fresh working
# corpus, and fails on any crash, hang, leak or broken check.
# Usage: run-fuzzer.sh FUZZER SEEDS WORKDIR SECONDS [libFuzzer options...]
set -u
fuzzer=$1 seeds=$2 work=$3 seconds=$4
shift 4
rm -rf "$work/corpus"
mkdir -p "$work/corpus" "$work/artifacts"
# Every input becomes a file: a memory file system keeps that fast.
base=/tmp
[ -w /dev/shm ] && base=/dev/shm
scratch=$(mktemp -d "$base/tessmark-fuzz.XXXXXX") || exit 1
trap 'rm -rf "$scratch"' EXIT
TESSMARK_FUZZ_TMP=$scratch "$fuzzer" \
  -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
  -artifact_prefix="$work/artifacts/" -print_final_stats=1 "$@" \
  "$work/corpus" "$seeds"
status=$?
if [ $status -ne 0 ]; then
  echo "fuzzing found a fault; the input is in $work/artifacts/" >&2
fi
exit $status
