#!/usr/bin/env bash
# The main job: repairs the recordings in FOLDER with the command-line
# scanner, building it first when needed. Without FOLDER it makes a demo
# folder of damaged recordings (build/demo, made anew on every run) and
# repairs that.
#
#   ./run.sh [--check] [--recursive] [FOLDER]
#   ./run.sh --desktop [FOLDER]   the desktop program under Wine (scripts/desktop.sh)
#
# Exit status is the scanner's (see ./run.sh --help).
set -u
root=$(cd "$(dirname "$0")" && pwd)
for arg in "$@"; do
  [ "$arg" = --desktop ] && exec "$root/scripts/desktop.sh" "$@"
done
. "$root/scripts/lib.sh"
build_dir=${TESSMARK_BUILD_DIR:-$root/build/native}
demo_dir=$root/build/demo

# The arguments go to the scanner as they are; with no folder among them the
# demo folder is scanned.
want_demo=1
for arg in "$@"; do
  case "$arg" in
    --help|-h|--version) want_demo=0 ;;
    -*) ;;
    *) want_demo=0 ;;
  esac
done

# The native configuration also builds the tests, so it needs googletest.
missing=0
for tool in cmake g++ make; do
  command -v "$tool" >/dev/null 2>&1 || missing=1
done
[ -f /usr/src/googletest/CMakeLists.txt ] || missing=1
if [ "$want_demo" = 1 ]; then
  command -v python3 >/dev/null 2>&1 || missing=1
fi
if [ "$missing" = 1 ]; then
  "$root/scripts/install-deps.sh" >&2 || exit 2
fi

log=$build_dir/run-build.log
if [ ! -f "$build_dir/CMakeCache.txt" ]; then
  tm_configure native "$build_dir" "$log" || exit 2
fi
tm_build "$build_dir" "$log" tessmark || exit 2
tessmark=$build_dir/cli/tessmark

if [ "$want_demo" = 1 ]; then
  python3 "$root/cli/make_demo.py" "$demo_dir" || exit 2
  echo "No folder given: scanning a demo folder of damaged recordings made just now ($demo_dir)."
  echo
  exec "$tessmark" "$@" "$demo_dir"
fi
exec "$tessmark" "$@"
