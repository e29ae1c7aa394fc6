#!/usr/bin/env bash
# Cross-builds the Windows programs with Debian's MinGW-w64 and, with --test,
# runs their checks under Wine.
#   scripts/build-windows.sh [--test]
# build-win64/   devbench.exe, holdprobe.exe, KelmorPort.dll, unit_tests.exe (x86-64)
# build-win32/   the same for 32-bit x86, calling KelmorPort.dll as cdecl
# build-win32-stdcall/  devbench.exe, holdprobe.exe and KelmorPort.dll for
#                32-bit x86, calling as stdcall
# build-winhost/ the native vprinter that the Wine end-to-end checks talk to
# With --test, also the package of scripts/package-windows.sh in each
# convention, from build-win-package/. .ci/wine-setup.sh installs the
# compilers and Wine. A check that Wine cannot run says "skipped: wine not
# available" and counts as skipped.
case ${1:-} in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
test=no
[ "${1:-}" = --test ] && test=yes

for compiler in x86_64-w64-mingw32-g++-posix i686-w64-mingw32-g++-posix; do
    command -v $compiler >/dev/null || { echo "build-windows: no $compiler; run .ci/wine-setup.sh" >&2; exit 1; }
done
# Plain ninja runs two jobs more than the machine has cores.
jobs=$(nproc)
# Only a new build directory reads its toolchain file; naming it again to one
# that exists is not a mistake worth a warning on every run.
quiet_cmake() { cmake --no-warn-unused-cli "$@" >/dev/null; }
vprinter=$root/build-winhost/vprinter

. scripts/announce.sh
announce_configure build-windows build-winhost
quiet_cmake -S . -B build-winhost -G Ninja
quiet_ninja build-windows build-winhost -j"$jobs" vprinter

announce_configure build-windows build-win32
quiet_cmake -S . -B build-win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake -DKELMORPORT_CALLCONV=cdecl \
    -DDEVBENCH_HOST_VPRINTER="$vprinter"
quiet_ninja build-windows build-win32 -j"$jobs"

announce_configure build-windows build-win32-stdcall
# The unit tests run against fakes, whatever the convention: only the programs
# and the library are built a second time.
quiet_cmake -S . -B build-win32-stdcall -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake \
    -DKELMORPORT_CALLCONV=stdcall -DDEVBENCH_HOST_VPRINTER="$vprinter"
quiet_ninja build-windows build-win32-stdcall -j"$jobs" devbench holdprobe vpoperator lasterror_check

announce_configure build-windows build-win64
quiet_cmake -S . -B build-win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DDEVBENCH_HOST_VPRINTER="$vprinter" -DDEVBENCH_WIN32_DIR="$root/build-win32" \
    -DDEVBENCH_WIN32_OTHER_DLL="$root/build-win32-stdcall/KelmorPort.dll"
quiet_ninja build-windows build-win64 -j"$jobs"

[ $test = yes ] || exit 0
status=0
(cd build-win64 && ctest --output-on-failure -j"$jobs") || status=1
(cd build-win32 && ctest --output-on-failure -j"$jobs") || status=1
(cd build-win32-stdcall && ctest --output-on-failure -R '^wine_e2e$') || status=1

# The packages themselves, with the stand-in DLLs: built from the directories
# above, so nothing is compiled again.
for callconv in cdecl stdcall; do
    out=$root/build-win-package/$callconv
    echo "== package ($callconv) under Wine"
    scripts/package-windows.sh --callconv $callconv --with-stand-in --out "$out" >/dev/null || { status=1; continue; }
    check=0
    bash tests/wine/package.sh "$vprinter" "$out" || check=$?
    # 77: Wine cannot run it, said and counted as skipped as in CTest.
    [ $check = 0 ] || [ $check = 77 ] || status=1
done
exit $status
