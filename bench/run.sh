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
# Installs what it needs from Debian's archive when it runs as root. Needs
# about 17 GiB of free disk for a moment (the copies of the 8 GiB take; the
# takes themselves are sparse). Timings are wall-clock: run it on a quiet
# machine.
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

need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_cmd cmake || need+=(cmake)
have_cmd g++ || need+=(g++)
have_cmd make || need+=(make)
have_cmd python3 || need+=(python3)
have_cmd pkg-config || need+=(pkg-config)
pkg-config --exists sndfile 2>/dev/null || need+=(libsndfile1-dev)
have_cmd strace || need+=(strace)
have_cmd sox || need+=(sox)
have_cmd ffmpeg || need+=(ffmpeg)
[ -x /usr/bin/time ] || need+=(time)
have_cmd x86_64-w64-mingw32-g++-posix || need+=(g++-mingw-w64-x86-64-posix)
[ -x /usr/lib/wine/wine64 ] || need+=(wine64)
have_cmd xvfb-run || need+=(xvfb)
have_cmd xauth || need+=(xauth)
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "bench/run.sh: missing ${need[*]}; run as root or install them" >&2
    exit 1
  fi
  echo "bench/run.sh: installing ${need[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}" >/tmp/tessmark-bench-apt.log 2>&1 || {
    tail -n 20 /tmp/tessmark-bench-apt.log >&2
    echo "bench/run.sh: apt-get install failed" >&2
    exit 1
  }
fi

echo "bench/run.sh: building (Release) in build/bench-release" >&2
mkdir -p build
cmake -S . -B build/bench-release -DCMAKE_BUILD_TYPE=Release -DTESSMARK_TESTS=OFF -DTESSMARK_BENCH=ON \
  >build/bench-configure.log 2>&1 || { cat build/bench-configure.log >&2; exit 1; }
cmake --build build/bench-release --target tessmark sndcheck logbench nofsync -j2 >build/bench-build.log 2>&1 ||
  { grep -E 'error' build/bench-build.log >&2; exit 1; }

win=build/bench-win64
if printf '%s\n' "${pass[@]+"${pass[@]}"}" | grep -qx -- --no-wine; then
  win=""
else
  echo "bench/run.sh: building the log view bench for 64-bit Windows in $win" >&2
  if ! { cmake -S . -B "$win" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-w64-mingw32.cmake \
           -DCMAKE_BUILD_TYPE=Release -DTESSMARK_TESTS=OFF -DTESSMARK_BENCH=ON &&
         cmake --build "$win" --target logbench -j2; } >build/bench-win64-build.log 2>&1; then
    echo "bench/run.sh: the Windows build failed (see build/bench-win64-build.log); no log view under Wine" >&2
    win=""
  fi
fi

exec python3 bench/bench.py --build build/bench-release --win-build "$win" --data build/bench-data \
  "${pass[@]+"${pass[@]}"}"
