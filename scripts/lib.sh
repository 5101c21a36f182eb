# Shell functions shared by the project's scripts; sourced, never run:
#   . "$root/scripts/lib.sh"
# Paths given to them are absolute or from the project's root; their
# messages name the script that sourced this file.

tm_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tm_name=$(basename "${0:-sh}")

# tm_jobs: how many compile jobs a build may run.
tm_jobs() {
  nproc 2>/dev/null || echo 2
}

# tm_can_run_32bit: true when this kernel runs 32-bit programs, which the
# product (the 32-bit build, under 32-bit Wine) needs.
tm_can_run_32bit() {
  /lib/ld-linux.so.2 --version >/dev/null 2>&1
}

# tm_pick_windows: sets tm_win_preset and tm_wine to the Windows build this
# machine can run and the Wine that runs it: the 32-bit product under wine,
# or, on a kernel without 32-bit support, the 64-bit build under wine64.
tm_pick_windows() {
  if tm_can_run_32bit; then
    tm_win_preset=windows; tm_wine=wine
  else
    tm_win_preset=windows64; tm_wine=/usr/lib/wine/wine64
  fi
}

# tm_configure PRESET DIR LOG [CMAKE ARGS...]: configures DIR from PRESET, the
# arguments overriding its settings, with the output in LOG. On failure
# shows the end of LOG and fails.
tm_configure() (
  preset=$1 dir=$2 log=$3
  shift 3
  cd "$tm_root" || exit 1
  mkdir -p "$dir" "$(dirname "$log")"
  if ! cmake --preset "$preset" -B "$dir" "$@" >"$log" 2>&1; then
    tail -n 30 "$log" >&2
    echo "$tm_name: configuring the $preset build failed (log: $log)" >&2
    exit 1
  fi
)

# tm_build DIR LOG [TARGET...]: builds the TARGETs (everything without one)
# in DIR, with the output in LOG. On failure shows its errors and fails.
tm_build() (
  dir=$1 log=$2
  shift 2
  cd "$tm_root" || exit 1
  mkdir -p "$(dirname "$log")"
  targets=()
  [ $# -gt 0 ] && targets=(--target "$@")
  if ! cmake --build "$dir" "${targets[@]+"${targets[@]}"}" -j "$(tm_jobs)" >"$log" 2>&1; then
    grep -E 'error|Error' "$log" | head -n 30 >&2
    echo "$tm_name: building ${*:-everything} in $dir failed (log: $log)" >&2
    exit 1
  fi
)
