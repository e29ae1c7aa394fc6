#!/bin/bash
# Installs what the Windows builds and their Wine checks need, from Debian's
# packages: the MinGW-w64 cross compilers, nlohmann-json's headers and
# sqlite3.h (required), GoogleTest's sources,
# 64-bit Wine, and 32-bit Wine through the i386 multiarch for the 32-bit
# holdprobe.exe, and zip and unzip for the Windows package and its check.
# Wine is optional: without it the Wine checks say "skipped: wine not
# available" and are counted as skipped, never as passed. Without zip the
# package is a folder only, and its check copies the folder.
set -u
export DEBIAN_FRONTEND=noninteractive

installed() { dpkg-query -W -f='${Status}\n' "$1" 2>/dev/null | grep -q '^install ok installed'; }

missing=()
for package in g++-mingw-w64 nlohmann-json3-dev libsqlite3-dev googletest wine wine64 wine32:i386 zip unzip python3; do
    installed "$package" || missing+=("$package")
done
[ ${#missing[@]} = 0 ] && exit 0

echo "wine-setup: installing ${missing[*]} ..." >&2
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
apt-get update -q >/dev/null || echo "wine-setup: apt-get update failed" >&2

# python3 reads back the record of the Wine check's manual run.
if ! apt-get install -y -q --no-install-recommends g++-mingw-w64 nlohmann-json3-dev libsqlite3-dev googletest python3 >/dev/null; then
    echo "wine-setup: cannot install g++-mingw-w64, nlohmann-json3-dev or libsqlite3-dev; the Windows builds need them" >&2
    exit 1
fi
apt-get install -y -q --no-install-recommends wine wine64 >/dev/null \
    || echo "wine-setup: cannot install wine; the Wine checks will be skipped" >&2
apt-get install -y -q --no-install-recommends wine32:i386 >/dev/null \
    || echo "wine-setup: cannot install wine32:i386; 32-bit Wine checks will be skipped" >&2
apt-get install -y -q --no-install-recommends zip unzip >/dev/null \
    || echo "wine-setup: cannot install zip and unzip; the package will have no zip" >&2
exit 0
