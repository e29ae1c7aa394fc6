# Sourced by the Wine scripts: wine_start EXE makes a private Wine prefix and
# proves that Wine can run programs of EXE's word size; wine_stop ends that
# prefix's server and removes it. A machine without a working Wine is told
# plainly, never taken as a pass.

# Wine as it was installed, with no window and no add-on downloads.
unset DISPLAY WAYLAND_DISPLAY
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# Wine reads Unix file names and arguments in the locale's character set: in
# the C locale "Ж日" arrives garbled. Its Windows ANSI code page stays 1252.
export LC_ALL=C.UTF-8

wine_skip() {
    echo "skipped: wine not available ($1)"
    [ -n "${WINEPREFIX:-}" ] && wine_stop
    return 1
}

# 8664 for x86-64, 14c for 32-bit x86.
pe_machine() {
    offset=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
    od -An -tx2 -j$((offset + 4)) -N2 "$1" | tr -d ' ' | sed 's/^0*//'
}

# Debian's wine command starts the 32-bit loader whenever wine32 is
# installed; a kernel that runs no 32-bit programs refuses it ("Exec format
# error"), though the 64-bit loader works. Then `wine` is the 64-bit loader,
# and the 32-bit checks say they cannot run.
wine_loader_shim() {
    loader32=/usr/lib/wine/wine
    loader64=/usr/lib/wine/wine64
    [ -x "$loader32" ] && [ -x "$loader64" ] || return 0
    "$loader32" --version >/dev/null 2>&1 && return 0
    "$loader64" --version >/dev/null 2>&1 || return 0
    mkdir -p "$WINEPREFIX.bin" || return 0
    printf '#!/bin/sh\nWINELOADER=%s exec %s "$@"\n' "$loader64" "$loader64" >"$WINEPREFIX.bin/wine"
    chmod +x "$WINEPREFIX.bin/wine"
    PATH=$WINEPREFIX.bin:$PATH
    export PATH
}

wine_start() {
    command -v wine >/dev/null 2>&1 || { wine_skip "no wine command; see .ci/wine-setup.sh"; return 1; }
    WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/devbench-wine.XXXXXX") || return 1
    export WINEPREFIX
    wine_loader_shim
    timeout 300 wine wineboot --init >/dev/null 2>&1
    timeout 60 wine cmd.exe /c exit 3 >/dev/null 2>&1
    [ $? = 3 ] || { wine_skip "wine cannot run a 64-bit program"; return 1; }
    for exe in "$@"; do
        [ "$(pe_machine "$exe")" = 14c ] || continue
        timeout 60 wine 'C:\windows\syswow64\cmd.exe' /c exit 3 >/dev/null 2>&1
        [ $? = 3 ] || { wine_skip "wine cannot run a 32-bit program; see .ci/wine-setup.sh"; return 1; }
        break
    done
    return 0
}

wine_stop() {
    wineserver -k >/dev/null 2>&1
    wineserver -w >/dev/null 2>&1
    rm -rf "$WINEPREFIX" "$WINEPREFIX.bin"
    unset WINEPREFIX
}
