#!/usr/bin/env bash
# Cross-builds the Windows programs with Debian's MinGW-w64 and, with --test,
# runs their checks under Wine.
#   scripts/build-windows.sh [--test]
# build-win64/   devbench.exe, holdprobe.exe, KelmorPort.dll, unit_tests.exe (x86-64)
# build-win32/   the same for 32-bit x86; its holdprobe.exe is the 32-bit probe
# build-winhost/ the native vprinter that the Wine end-to-end check talks to
# .ci/wine-setup.sh installs the compilers and Wine. A check that Wine cannot
# run says "skipped: wine not available" and counts as skipped.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
test=no
[ "${1:-}" = --test ] && test=yes

for compiler in x86_64-w64-mingw32-g++-posix i686-w64-mingw32-g++-posix; do
    command -v $compiler >/dev/null || { echo "build-windows: no $compiler; run .ci/wine-setup.sh" >&2; exit 1; }
done

. scripts/announce.sh
announce_configure build-windows build-winhost
cmake -S . -B build-winhost -G Ninja >/dev/null
ninja -C build-winhost vprinter

announce_configure build-windows build-win32
cmake -S . -B build-win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake >/dev/null
ninja -C build-win32

announce_configure build-windows build-win64
cmake -S . -B build-win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DDEVBENCH_HOST_VPRINTER="$root/build-winhost/vprinter" -DDEVBENCH_WIN32_DIR="$root/build-win32" >/dev/null
ninja -C build-win64

[ $test = yes ] || exit 0
status=0
(cd build-win64 && ctest --output-on-failure -j2) || status=1
(cd build-win32 && ctest --output-on-failure -j2) || status=1
exit $status
