#!/usr/bin/env bash
# Runs every test: installs what is missing, builds the native, sanitizer,
# fuzzing and Windows code, runs each suite, and ends with one line
# "N passed, N failed" over everything that ran.
set -u
cd "$(dirname "$0")"
root=$(pwd)
. scripts/lib.sh
jobs=$(tm_jobs)

scripts/install-deps.sh || exit 1

total_pass=0
total_fail=0
status=0
logdir="$root/build/logs"
mkdir -p "$logdir"

note() { printf '\n== %s ==\n' "$*"; }

# mmss SECONDS: 754 -> 12m34s.
mmss() { printf '%dm%02ds' $(($1 / 60)) $(($1 % 60)); }

# Seconds each configuration spent building and testing; the Windows ones
# join the list when they run.
configs=(native sanitize fuzz i686)
declare -A build_secs test_secs
# spent build|tests NAME SECONDS
spent() {
  [[ " ${configs[*]} " == *" $2 "* ]] || configs+=("$2")
  if [ "$1" = build ]; then
    build_secs[$2]=$(( ${build_secs[$2]:-0} + $3 ))
  else
    test_secs[$2]=$(( ${test_secs[$2]:-0} + $3 ))
  fi
}
# config_time NAME: NAME's times on one line.
config_time() {
  local b=${build_secs[$1]:-0} t=${test_secs[$1]:-0}
  printf '%-10s %s (build %s, tests %s)\n' "$1" "$(mmss $((b + t)))" "$(mmss "$b")" "$(mmss "$t")"
}

# count LOG: adds the counts of ctest's closing line to the totals.
count() {
  local line pass fail all
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -n 1)
  if [ -z "$line" ]; then
    echo "no test summary in $1" >&2
    total_fail=$((total_fail + 1))
    status=1
    return
  fi
  fail=$(echo "$line" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/')
  all=$(echo "$line" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/')
  pass=$((all - fail))
  total_pass=$((total_pass + pass))
  total_fail=$((total_fail + fail))
  [ "$fail" -eq 0 ] || status=1
}

# make_build PRESET: configures and builds PRESET. The tests are asked for
# explicitly: a folder once configured without them (by hand, or by run.sh
# pointed at it) would otherwise keep them out.
make_build() {
  local tests=(-DTESSMARK_TESTS=ON)
  [ "$1" = fuzz ] && tests=()
  tm_configure "$1" "build/$1" "$logdir/configure-$1.log" "${tests[@]+"${tests[@]}"}" &&
    tm_build "build/$1" "$logdir/build-$1.log"
}

# built PRESET RC SECONDS: reports a finished build; a failed one counts as
# a failure. is_built PRESET: true once PRESET was built.
declare -A built_ok
built() {
  spent build "$1" "$3"
  if [ "$2" -ne 0 ]; then
    total_fail=$((total_fail + 1)); status=1; return 1
  fi
  built_ok[$1]=1
  echo "built $1"
}
is_built() { [ -n "${built_ok[$1]:-}" ]; }

# build PRESET: configures and builds, nothing beside it.
build() {
  local start=$SECONDS
  note "build $1"
  make_build "$1"
  built "$1" $? $((SECONDS - start))
}

# start_build PRESET: builds PRESET in the background while the next suite
# runs, whose end-to-end tests leave the CPUs idle while they wait on the
# disk. finish_build collects it. Its own process group, so that one kill
# stops the compilers too (Ctrl-C does not reach a background group).
bg_pid= bg_name=
start_build() {
  bg_name=$1
  set -m
  (
    set +m
    start=$SECONDS
    make_build "$bg_name"
    rc=$?
    echo $((SECONDS - start)) >"$logdir/build-$bg_name.secs"
    exit $rc
  ) >"$logdir/build-$bg_name.out" 2>&1 &
  bg_pid=$!
  set +m
}

# finish_build: waits for the background build, if any, and reports it.
finish_build() {
  local rc
  [ -n "$bg_pid" ] || return 0
  wait "$bg_pid"; rc=$?
  bg_pid=
  note "build $bg_name (beside the tests above)"
  cat "$logdir/build-$bg_name.out"
  built "$bg_name" "$rc" "$(cat "$logdir/build-$bg_name.secs" 2>/dev/null || echo 0)"
}
trap '[ -n "$bg_pid" ] && kill -TERM -- -"$bg_pid" 2>/dev/null' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# serial_tests DIR: a ctest regex of DIR's RUN_SERIAL tests; empty when none.
serial_tests() {
  (cd "$1" && ctest --show-only=json-v1) 2>/dev/null | python3 -c '
import json, re, sys
names = [t["name"] for t in json.load(sys.stdin)["tests"]
         if any(p["name"] == "RUN_SERIAL" and p["value"] for p in t.get("properties", []))]
print("^(%s)$" % "|".join(re.escape(n) for n in names) if names else "")'
}

# ctest_log NAME CONFIG DIR [ctest args]: runs ctest in DIR, its output in
# ctest-NAME.log, counts its results and adds its time to CONFIG's.
ctest_log() {
  local name=$1 config=$2 dir=$3 start=$SECONDS; shift 3
  note "tests: $name"
  (cd "$dir" && ctest -j "$jobs" --output-on-failure --timeout 900 "$@") >"$logdir/ctest-$name.log" 2>&1
  grep -E 'tests passed|\*\*\*|^\s+[0-9]+ - ' "$logdir/ctest-$name.log" | tail -n 40
  count "$logdir/ctest-$name.log"
  spent tests "$config" $((SECONDS - start))
}

# run NAME DIR: runs the suite of DIR. Beside a background build, the
# RUN_SERIAL tests (they need the CPUs to themselves) wait for its end.
run() {
  local name=$1 dir=$2 serial=
  [ -n "$bg_pid" ] && serial=$(serial_tests "$dir")
  if [ -z "$serial" ]; then
    ctest_log "$name" "$name" "$dir"
    return
  fi
  ctest_log "$name" "$name" "$dir" -E "$serial"
  finish_build
  ctest_log "$name-serial" "$name" "$dir" -R "$serial"
}

# Each build but the first and fuzz runs beside the suite before it. The
# fuzzers run alone: they fuzz for a fixed time, and a build beside them
# would take executions from them.
build native
start_build sanitize
is_built native && run native build/native
finish_build
config_time native
start_build i686
is_built sanitize && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run sanitize build/sanitize
finish_build
config_time sanitize
build fuzz && run fuzz build/fuzz
config_time fuzz
start_build windows
# The core's unit tests at the product's 32-bit widths (gcc -m32); on a
# kernel that cannot run 32-bit programs, under qemu-i386.
is_built i686 && run i686 build/i686
finish_build
config_time i686

# Windows (built above): the product is 32-bit; it runs under 32-bit Wine
# where the kernel can run 32-bit programs. Elsewhere the same Win32 code runs
# as a 64-bit build under 64-bit Wine, and the 32-bit build is still built.
export WINEDEBUG=-all
# winedbg disabled: a crashing test then ends at once instead of waiting
# in the debugger until ctest gives up on it.
export WINEDLLOVERRIDES="mscoree,mshtml=,winedbg.exe=d"
tm_pick_windows
win_preset=$tm_win_preset
if [ "$win_preset" = windows64 ]; then
  echo "this kernel cannot run 32-bit programs: the Windows tests run as a 64-bit build under 64-bit Wine"
  build windows64
fi
if [ -d "build/$win_preset" ]; then
  win_start=$SECONDS
  xvfb_pid=
  if [ -z "${DISPLAY:-}" ]; then
    display=97
    while [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
    Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$display"
    sleep 1
  fi
  # A prefix of the tests' own, and a wineserver kept alive for the whole
  # run: one that quits between two test processes makes the next one fail
  # to connect, and no other Wine user on the machine can end it for us.
  export WINEPREFIX="$root/build/wineprefix"
  mkdir -p "$WINEPREFIX"
  wineserver -p >/dev/null 2>&1
  wineboot_log="$logdir/wineboot.log"
  "$tm_wine" wineboot -i >"$wineboot_log" 2>&1
  # The display and the Wine prefix count with the tests.
  spent tests "$win_preset" $((SECONDS - win_start))
  run "$win_preset" "build/$win_preset"
  wineserver -k >/dev/null 2>&1
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
fi
for name in windows windows64; do
  [ -n "${build_secs[$name]:-}" ] && config_time "$name"
done

echo
echo "logs: $logdir"
echo "time per configuration:"
for name in "${configs[@]}"; do
  printf '  %s\n' "$(config_time "$name")"
done
echo "total $(mmss $SECONDS), installing and configuring included"
echo "$total_pass passed, $total_fail failed"
exit $status
