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
# A build of its own without the tests (no googletest needed): build/native
# configured here without them would drop them from ./test.sh.
build_dir=${TESSMARK_BUILD_DIR:-$root/build/cli}
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

"$root/scripts/install-deps.sh" --quiet cli >&2 || exit 2

# Configured every time (cheap when nothing changed): a configure stopped
# by Ctrl-C or an error leaves a cache but no Makefile.
tm_configure native "$build_dir" "$build_dir/run-configure.log" -DTESSMARK_TESTS=OFF || exit 2
tm_build "$build_dir" "$build_dir/run-build.log" tessmark || exit 2
tessmark=$build_dir/cli/tessmark

if [ "$want_demo" = 1 ]; then
  python3 "$root/cli/make_demo.py" "$demo_dir" || exit 2
  echo "No folder given: scanning a demo folder of damaged recordings made just now ($demo_dir)."
  echo
  exec "$tessmark" "$@" "$demo_dir"
fi
exec "$tessmark" "$@"
