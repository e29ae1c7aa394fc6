#!/usr/bin/env bash
# Builds the Windows programs and lays out the folder a technician copies to
# the PC, and a zip of it when zip is installed:
#   devbench-windows-CALLCONV/   (cdecl or stdcall: the package is made for one)
#     devbench.cmd        starts x64\devbench.exe with x86\ as its current folder
#     record.cmd          the same through x64\vpoperator.exe, which records the run
#     x64/devbench.exe    beside the vendor's 64-bit KelmorPort.dll, with
#                         devbench-extended.exe (run it after devbench, the same way)
#     x86/holdprobe.exe   beside the vendor's 32-bit KelmorPort.dll
#     x86/calling-convention.txt  cdecl or stdcall, for the run records
#     README.txt          where each DLL goes, the calling convention, wrong widths
#   devbench-windows-CALLCONV-symbols/  the programs' symbols, for crash reports
#
#   scripts/package-windows.sh [--callconv cdecl|stdcall] [--out DIR] [--with-stand-in]
#
# --callconv   the convention of the vendor's 32-bit DLL (default cdecl)
# --out        where devbench-windows-CALLCONV/ and its .zip go (default build-package/)
# --with-stand-in  puts the stand-in KelmorPort.dll in x64\ and x86\, for a
#              trial against a virtual printer
# Builds into build-win64/ and build-win32/ (cdecl) or build-win32-stdcall/,
# the directories scripts/build-windows.sh uses.
case ${1:-} in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
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
# Only a new build directory reads its toolchain file; naming it again is no mistake.
cmake --no-warn-unused-cli -S "$root" -B "$win64" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
ninja -C "$win64" -j"$jobs" devbench devbench-extended vpoperator
cmake --no-warn-unused-cli -S "$root" -B "$win32" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake" \
    -DKELMORPORT_CALLCONV=$callconv >/dev/null
ninja -C "$win32" -j"$jobs" holdprobe

# Only our own output is replaced; DIR may hold other things.
# The convention is in the name: the two packages must not be mistaken for each other.
name=devbench-windows-$callconv
package=$out/$name
rm -rf "$package" "$out/$name.zip" "$out/$name-symbols"
mkdir -p "$package/x64" "$package/x86"
cp "$win64/devbench.exe" "$win64/devbench-extended.exe" "$win64/vpoperator.exe" "$package/x64/"
cp "$win32/holdprobe.exe" "$package/x86/"
if [ $stand_in = yes ]; then
    cp "$win64/KelmorPort.dll" "$package/x64/"
    cp "$win32/KelmorPort.dll" "$package/x86/"
fi

# The programs go stripped (vpoperator.exe is some 20 MB with its symbols);
# the symbols stay beside the package, in NAME-symbols/, each file linked to
# its program by a debug link, for reading a crash report.
symbols=$out/$name-symbols
rm -rf "$symbols"
mkdir -p "$symbols/x64" "$symbols/x86"
for program in x64/devbench.exe x64/vpoperator.exe x86/holdprobe.exe; do
    objcopy=x86_64-w64-mingw32-objcopy
    [ "${program%%/*}" = x86 ] && objcopy=i686-w64-mingw32-objcopy
    $objcopy --only-keep-debug "$package/$program" "$symbols/$program.debug"
    $objcopy --strip-debug --strip-unneeded "$package/$program"
    (cd "$symbols/${program%%/*}" && $objcopy --add-gnu-debuglink="${program#*/}.debug" "$package/$program")
done

# Notepad and cmd.exe both want CRLF line ends.
crlf() { sed 's/$/\r/'; }
crlf <"$root/scripts/windows/devbench.cmd" >"$package/devbench.cmd"
crlf <"$root/scripts/windows/record.cmd" >"$package/record.cmd"
echo $callconv | crlf >"$package/x86/calling-convention.txt"
crlf <"$root/scripts/windows/report.cmd" >"$package/report.cmd"
case $callconv in
    cdecl) title="cdecl (no WINAPI or __stdcall on the prototypes)" ;;
    stdcall) title="stdcall (WINAPI or __stdcall on the prototypes)" ;;
esac
heading="devbench for Windows ($callconv)"
sed -e "s/@CALLCONV@/$title/" -e "s/@CC@/$callconv/" -e "s/@UNDERLINE@/${heading//?/=}/" \
    "$root/scripts/windows/README.txt" | crlf >"$package/README.txt"

# The PC has no MinGW: every program and DLL must need only what Windows has
# (CNG's bcrypt.dll among it) and KelmorPort.dll.
for file in "$package"/x64/* "$package"/x86/*; do
    case $file in *.exe | *.dll) ;; *) continue ;; esac
    needs=$(x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/^\tDLL Name: //p')
    for dll in $needs; do
        case ${dll,,} in
            kelmorport.dll | kernel32.dll | msvcrt.dll | ws2_32.dll | user32.dll | advapi32.dll | version.dll | shell32.dll | bcrypt.dll) ;;
            *)
                echo "package-windows: ${file#"$out"/} needs $dll, which Windows does not have" >&2
                exit 1
                ;;
        esac
    done
done

if command -v zip >/dev/null; then
    (cd "$out" && zip -qr "$name.zip" "$name")
    echo "package-windows: $package/ and $out/$name.zip"
else
    echo "package-windows: $package/ (no zip command, so no zip)"
fi
