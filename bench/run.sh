#!/usr/bin/env bash
# Benchmarks Tessmark against the tools people use today, side by side in
# one run, and prints the results as Markdown tables:
#   1. checking a folder of 10,000 small takes (tessmark --check, at the
#      default jobs and at --jobs 1, against a libsndfile reader): files per
#      second and system calls per file, warm, cold (page cache dropped, as
#      root) and over bench/slowfs, a FUSE file system that answers every
#      request 1 ms late (mounted under build/bench-data, as root);
#   2. repairing one damaged take of 10 MiB, 1 GiB and 8 GiB (tessmark in
#      place against sox --ignore-length and ffmpeg -c copy);
#   3. the desktop log: appending 100,000 lines, one refresh tick with a
#      full 8 MiB log (natively, and the log view under Wine);
#   4. the scanner's peak memory;
#   5. rebuilding a 2 GiB take whose header is gone (tessmark --template)
#      beside cp of the same file.
#
#   bench/run.sh            build (Release, build/bench-*), generate the data
#                           under build/bench-data, run, print (about 15 min)
#   bench/run.sh --save     the same, and put the tables into bench/RESULTS.md
#   bench/run.sh --quick    a smoke test: 1,000 files, no 8 GiB take
#   bench/run.sh --no-wine  leave out the log view under Wine
#   bench/run.sh --only check
#                           only the check's sections (1 and 4; about 6 min);
#                           with --save, only those are replaced in
#                           bench/RESULTS.md, the others are kept
#   bench/run.sh --only repair
#                           only section 2 (the repairs, plain and journaled,
#                           of takes from 10 MiB to 8 GiB, beside sox and ffmpeg)
#   bench/run.sh --only rebuild
#                           only section 5 (about 3 min, 4 GiB of free disk)
#
# Installs what it needs from Debian's archive when it runs as root
# (scripts/install-deps.sh bench). Needs about 17 GiB of free disk for a
# moment (the copies of the 8 GiB take; the takes themselves are sparse).
# Timings are wall-clock: run it on a quiet machine.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)

pass=()
only=""
while [ $# -gt 0 ]; do
  case "$1" in
    --save) pass+=(--save "$root/bench/RESULTS.md") ;;
    --quick|--no-wine) pass+=("$1") ;;
    --only=*) only=${1#--only=} ;;
    --only) only=${2:-}; [ $# -gt 1 ] && shift ;;
    -h|--help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;;
    *) echo "bench/run.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
  shift
done
case "$only" in
  "") ;;
  check|repair|rebuild) pass+=(--only "$only") ;;
  *) echo "bench/run.sh: --only takes check, repair or rebuild (see --help)" >&2; exit 2 ;;
esac

. scripts/lib.sh
scripts/install-deps.sh bench >&2 || exit 1

echo "bench/run.sh: building (Release) in build/bench-release" >&2
tm_configure native build/bench-release build/bench-configure.log \
  -DCMAKE_BUILD_TYPE=Release -DTESSMARK_TESTS=OFF -DTESSMARK_BENCH=ON || exit 1
tm_build build/bench-release build/bench-build.log tessmark sndcheck logbench nofsync || exit 1
# Without libfuse3 there is no slowfs target; the bench says so and goes on.
tm_build build/bench-release build/bench-slowfs-build.log slowfs 2>/dev/null ||
  echo "bench/run.sh: slowfs not built (see build/bench-slowfs-build.log); no check over a slow file system" >&2

win=build/bench-win64
if [ -n "$only" ] || printf '%s\n' "${pass[@]+"${pass[@]}"}" | grep -qx -- --no-wine; then
  win=""
else
  echo "bench/run.sh: building the log view bench for 64-bit Windows in $win" >&2
  if ! { tm_configure windows64 "$win" build/bench-win64-build.log -DTESSMARK_TESTS=OFF -DTESSMARK_BENCH=ON &&
         tm_build "$win" build/bench-win64-build.log logbench; } 2>/dev/null; then
    echo "bench/run.sh: the Windows build failed (see build/bench-win64-build.log); no log view under Wine" >&2
    win=""
  fi
fi

# bench.py unmounts slowfs itself; this is for a bench.py that was killed.
unmount_slow() {
  for m in "$root/build/bench-data/check-slowfs" "$root/build/bench-data/quick/check-slowfs"; do
    if grep -qs " $m " /proc/mounts; then
      fusermount3 -u "$m" 2>/dev/null || fusermount3 -u -z "$m" 2>/dev/null || umount -l "$m"
    fi
  done
}
trap unmount_slow EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
python3 bench/bench.py --build build/bench-release --win-build "$win" --data build/bench-data \
  "${pass[@]+"${pass[@]}"}"
