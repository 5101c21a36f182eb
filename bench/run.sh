#!/usr/bin/env bash
# Benchmarks Tessmark against the tools people use today, side by side in
# one run, and prints the results as Markdown tables:
#   1. checking a folder of 10,000 small takes (tessmark --check against a
#      libsndfile reader): files per second and system calls per file;
#   2. repairing one damaged take of 10 MiB, 1 GiB and 8 GiB (tessmark in
#      place against sox --ignore-length and ffmpeg -c copy);
#   3. the desktop log: appending 100,000 lines, one refresh tick with a
#      full 8 MiB log (natively, and the log view under Wine);
#   4. the scanner's peak memory.
#
#   bench/run.sh            build (Release, build/bench-*), generate the data
#                           under build/bench-data, run, print (about 10 min)
#   bench/run.sh --save     the same, and put the tables into bench/RESULTS.md
#   bench/run.sh --quick    a smoke test: 1,000 files, no 8 GiB take
#   bench/run.sh --no-wine  leave out the log view under Wine
#
# Installs what it needs from Debian's archive when it runs as root
# (scripts/install-deps.sh bench). Needs about 17 GiB of free disk for a
# moment (the copies of the 8 GiB take; the takes themselves are sparse).
# Timings are wall-clock: run it on a quiet machine.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)

pass=()
for arg in "$@"; do
  case "$arg" in
    --save) pass+=(--save "$root/bench/RESULTS.md") ;;
    --quick|--no-wine) pass+=("$arg") ;;
    -h|--help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;;
    *) echo "bench/run.sh: unknown option $arg (see --help)" >&2; exit 2 ;;
  esac
done

. scripts/lib.sh
scripts/install-deps.sh bench >&2 || exit 1

echo "bench/run.sh: building (Release) in build/bench-release" >&2
tm_configure native build/bench-release build/bench-configure.log \
  -DCMAKE_BUILD_TYPE=Release -DTESSMARK_TESTS=OFF -DTESSMARK_BENCH=ON || exit 1
tm_build build/bench-release build/bench-build.log tessmark sndcheck logbench nofsync || exit 1

win=build/bench-win64
if printf '%s\n' "${pass[@]+"${pass[@]}"}" | grep -qx -- --no-wine; then
  win=""
else
  echo "bench/run.sh: building the log view bench for 64-bit Windows in $win" >&2
  if ! { tm_configure windows64 "$win" build/bench-win64-build.log -DTESSMARK_TESTS=OFF -DTESSMARK_BENCH=ON &&
         tm_build "$win" build/bench-win64-build.log logbench; } 2>/dev/null; then
    echo "bench/run.sh: the Windows build failed (see build/bench-win64-build.log); no log view under Wine" >&2
    win=""
  fi
fi

exec python3 bench/bench.py --build build/bench-release --win-build "$win" --data build/bench-data \
  "${pass[@]+"${pass[@]}"}"
