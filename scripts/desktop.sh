#!/usr/bin/env bash
# Opens the desktop program, Tessmark.exe, under Wine on this display,
# building it first when needed. A FOLDER given here is scanned at once, as
# a folder dropped on the program's icon is, and the file dialog (Command >
# Select Folder To Scan) starts there.
#
#   scripts/desktop.sh [FOLDER]
#
# TESSMARK_WINDOWS_BUILD_DIR chooses the build folder (default build/PRESET).
# The product is the 32-bit build (preset "windows", run by wine). A kernel
# that cannot run 32-bit programs gets the 64-bit build (preset "windows64",
# run by wine64) instead.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/lib.sh"

folder=
for arg in "$@"; do
  case "$arg" in
    --desktop) ;;
    -*) echo "desktop.sh: unknown option $arg (usage: scripts/desktop.sh [FOLDER])" >&2; exit 2 ;;
    *) folder=$arg ;;
  esac
done
if [ -n "$folder" ] && [ ! -d "$folder" ]; then
  echo "desktop.sh: $folder is not a folder" >&2
  exit 2
fi

tm_pick_windows
preset=$tm_win_preset wine=$tm_wine
if [ "$preset" = windows ]; then compiler=i686-w64-mingw32-g++-posix; else compiler=x86_64-w64-mingw32-g++-posix; fi
if ! command -v "$compiler" >/dev/null 2>&1 || ! command -v "$wine" >/dev/null 2>&1 ||
   ! command -v cmake >/dev/null 2>&1; then
  "$root/scripts/install-deps.sh" >&2 || exit 2
fi

build_dir=${TESSMARK_WINDOWS_BUILD_DIR:-$root/build/$preset}
log=$build_dir/desktop-build.log
# Configured every time: cheap when nothing changed, and it picks up a
# program added since the folder was first configured.
tm_configure "$preset" "$build_dir" "$log" || exit 2
tm_build "$build_dir" "$log" Tessmark || exit 2
exe=$build_dir/app/Tessmark.exe

if [ -z "${DISPLAY:-}" ]; then
  echo "Built $exe."
  echo "No display (DISPLAY is not set): run this from a desktop session to open it under Wine."
  exit 1
fi

export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
args=()
if [ -n "$folder" ]; then
  cd "$folder" || exit 2
  # The folder as the program sees it (Wine's drive letters).
  win_folder=$("$wine" winepath -w "$(pwd)" 2>/dev/null | tr -d '\r')
  [ -n "$win_folder" ] && args=("$win_folder")
fi
echo "Opening $exe under $wine on $DISPLAY."
exec "$wine" "$exe" "${args[@]+"${args[@]}"}"
