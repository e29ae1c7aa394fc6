#!/usr/bin/env bash
# Builds the Windows programs and lays out the folder a technician copies to
# the PC, and a zip of it when zip is installed:
#   devbench-windows/
#     devbench.cmd        starts x64\devbench.exe with x86\ as its current folder
#     x64/devbench.exe    beside the vendor's 64-bit KelmorPort.dll
#     x86/holdprobe.exe   beside the vendor's 32-bit KelmorPort.dll
#     README.txt          where each DLL goes, the calling convention, wrong widths
#
#   scripts/package-windows.sh [--callconv cdecl|stdcall] [--out DIR] [--with-stand-in]
#
# --callconv   the convention of the vendor's 32-bit DLL (default cdecl)
# --out        where devbench-windows/ and devbench-windows.zip go (default build-package/)
# --with-stand-in  puts the stand-in KelmorPort.dll in x64\ and x86\, for a
#              trial against a virtual printer
# Builds into build-win64/ and build-win32/ (cdecl) or build-win32-stdcall/,
# the directories scripts/build-windows.sh uses.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
usage() {
    echo "usage: package-windows.sh [--callconv cdecl|stdcall] [--out DIR] [--with-stand-in]" >&2
    exit 2
}

callconv=cdecl
out=$root/build-package
stand_in=no
while [ $# -gt 0 ]; do
    case $1 in
        --callconv)
            [ $# -ge 2 ] || usage
            case $2 in cdecl | stdcall) callconv=$2 ;; *) usage ;; esac
            shift 2
            ;;
        --out)
            [ $# -ge 2 ] && [ -n "$2" ] || usage
            out=$(realpath -m "$2")
            shift 2
            ;;
        --with-stand-in) stand_in=yes; shift ;;
        *) usage ;;
    esac
done

for compiler in x86_64-w64-mingw32-g++-posix i686-w64-mingw32-g++-posix; do
    command -v $compiler >/dev/null || { echo "package-windows: no $compiler; run .ci/wine-setup.sh" >&2; exit 1; }
done
jobs=$(nproc)

# The 64-bit devbench is the same for both conventions: x86-64 has only one.
win64=$root/build-win64
win32=$root/build-win32
[ $callconv = stdcall ] && win32=$root/build-win32-stdcall
cmake -S "$root" -B "$win64" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
ninja -C "$win64" -j"$jobs" devbench vpoperator
cmake -S "$root" -B "$win32" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake" \
    -DKELMORPORT_CALLCONV=$callconv >/dev/null
ninja -C "$win32" -j"$jobs" holdprobe

# Only our own output is replaced; DIR may hold other things.
package=$out/devbench-windows
rm -rf "$package" "$out/devbench-windows.zip"
mkdir -p "$package/x64" "$package/x86"
cp "$win64/devbench.exe" "$win64/vpoperator.exe" "$package/x64/"
cp "$win32/holdprobe.exe" "$package/x86/"
if [ $stand_in = yes ]; then
    cp "$win64/KelmorPort.dll" "$package/x64/"
    cp "$win32/KelmorPort.dll" "$package/x86/"
fi

# Notepad and cmd.exe both want CRLF line ends.
crlf() { sed 's/$/\r/'; }
crlf <"$root/scripts/windows/devbench.cmd" >"$package/devbench.cmd"
crlf <"$root/scripts/windows/record.cmd" >"$package/record.cmd"
crlf <"$root/scripts/windows/report.cmd" >"$package/report.cmd"
case $callconv in
    cdecl) title="cdecl (no WINAPI or __stdcall on the prototypes)" ;;
    stdcall) title="stdcall (WINAPI or __stdcall on the prototypes)" ;;
esac
sed "s/@CALLCONV@/$title/" "$root/scripts/windows/README.txt" | crlf >"$package/README.txt"

# The PC has no MinGW: every program and DLL must need only what Windows has,
# and KelmorPort.dll.
for file in "$package"/x64/* "$package"/x86/*; do
    needs=$(x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/^\tDLL Name: //p')
    for dll in $needs; do
        case ${dll,,} in
            kelmorport.dll | kernel32.dll | msvcrt.dll | ws2_32.dll | user32.dll | advapi32.dll | version.dll | shell32.dll) ;;
            *)
                echo "package-windows: ${file#"$out"/} needs $dll, which Windows does not have" >&2
                exit 1
                ;;
        esac
    done
done

if command -v zip >/dev/null; then
    (cd "$out" && zip -qr devbench-windows.zip devbench-windows)
    echo "package-windows: $package/ and $out/devbench-windows.zip ($callconv)"
else
    echo "package-windows: $package/ ($callconv; no zip command, so no zip)"
fi
