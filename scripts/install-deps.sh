#!/usr/bin/env bash
# Installs (as root, from Debian's archive) whatever the builds and tests need
# and this machine lacks; does nothing when everything is present.
#   scripts/install-deps.sh [--quiet] [cli] [tests] [bench]
# cli: what ./run.sh needs (the command-line scanner's native build and the
# demo folder); tests (the default): the builds and every test suite; bench:
# what bench/run.sh needs (its native and 64-bit Windows builds, the tools it
# measures against, libsndfile, libfuse3, strace, Wine and a display). Every
# set includes cli. --quiet: no message when nothing is missing.
set -u
. "$(dirname "$0")/lib.sh"

for_tests=0
for_bench=0
quiet=0
sets=0
for arg in "$@"; do
  case "$arg" in
    cli) sets=$((sets + 1)) ;;
    tests) for_tests=1; sets=$((sets + 1)) ;;
    bench) for_bench=1; sets=$((sets + 1)) ;;
    -q|--quiet) quiet=1 ;;
    *) echo "install-deps: unknown set $arg (usage: scripts/install-deps.sh [--quiet] [cli] [tests] [bench])" >&2; exit 2 ;;
  esac
done
[ "$sets" -eq 0 ] && for_tests=1

need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

have_cmd cmake || need+=(cmake)
have_cmd g++ || need+=(g++)
have_cmd make || need+=(make)
have_cmd python3 || need+=(python3)
[ -f /usr/include/nlohmann/json.hpp ] || need+=(nlohmann-json3-dev)  # the CLI's JSON
if [ "$for_tests" = 1 ] || [ "$for_bench" = 1 ]; then
  have_cmd x86_64-w64-mingw32-g++-posix || need+=(g++-mingw-w64-x86-64-posix)
  [ -x /usr/lib/wine/wine64 ] || need+=(wine64)
  have_cmd Xvfb && have_cmd xvfb-run || need+=(xvfb)
  have_cmd xauth || need+=(xauth)
  have_cmd sox || need+=(sox)
  have_cmd ffprobe && have_cmd ffmpeg || need+=(ffmpeg)
  have_cmd strace || need+=(strace)
fi
if [ "$for_tests" = 1 ]; then
  [ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
  have_cmd clang++ || need+=(clang)
  ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || need+=(libclang-rt-14-dev)
  have_cmd i686-w64-mingw32-g++-posix || need+=(g++-mingw-w64-i686-posix)
  have_pkg wine32:i386 || need+=(wine32:i386)
  have_cmd wine || need+=(wine)
  have_cmd sndfile-info || need+=(sndfile-programs)
  have_cmd mediainfo || need+=(mediainfo)
  have_cmd xdotool || need+=(xdotool)
  # The man page test (man --warnings) and the .deb test (CPack's shlibdeps).
  have_cmd man || need+=(man-db)
  have_cmd groff || need+=(groff)
  have_cmd dpkg-shlibdeps || need+=(dpkg-dev)
  have_cmd xwininfo || need+=(x11-utils)
  # A font with Japanese for the names test's screenshot (Wine draws with
  # the system's fonts).
  have_pkg fonts-vlgothic || need+=(fonts-vlgothic)
  # The core's tests built for i686 Linux (g++ -m32), and qemu's i386
  # user-mode emulation for a kernel that cannot run them.
  have_pkg g++-multilib || need+=(g++-multilib)
  tm_can_run_32bit || have_cmd qemu-i386 || need+=(qemu-user)
  # convert may be a stand-in: the real one answers -version.
  convert -version 2>/dev/null | grep -q ImageMagick || need+=(imagemagick)
fi
if [ "$for_bench" = 1 ]; then
  have_cmd pkg-config || need+=(pkg-config)
  pkg-config --exists sndfile 2>/dev/null || need+=(libsndfile1-dev)
  [ -x /usr/bin/time ] || need+=(time)
  # The check over a file system that answers each request late (bench/slowfs.c).
  have_cmd fusermount3 || need+=(fuse3)
  pkg-config --exists fuse3 2>/dev/null || need+=(libfuse3-dev)
fi

if [ ${#need[@]} -eq 0 ]; then
  [ "$quiet" = 1 ] || echo "install-deps: everything is present"
  exit 0
fi

echo "install-deps: installing ${need[*]}"
if [ "$(id -u)" != 0 ]; then
  echo "install-deps: must run as root to install: ${need[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
if printf '%s\n' "${need[@]}" | grep -q ':i386'; then
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
fi
apt-get update -qq || { echo "install-deps: apt-get update failed" >&2; exit 1; }
apt-get install -y -qq --no-install-recommends "${need[@]}" >/tmp/tessmark-apt.log 2>&1 || {
  tail -n 30 /tmp/tessmark-apt.log >&2
  echo "install-deps: apt-get install failed" >&2
  exit 1
}
echo "install-deps: done"
