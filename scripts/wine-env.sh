# Sourced by scripts that run the Windows build under Wine: a prefix of the
# project's own, made once, and one wineserver kept for the whole run (each
# Windows program otherwise starts its own, which takes seconds).
#
# The prefix is a Windows with Russian as the language for non-Unicode
# programs (code page 1251, as on the shops' clients), so that the log's
# Cyrillic shows as it will there, and with C as the locale that Qt reads
# from LANG, so that texts are English unless a test asks for another.

WINE64=$(command -v wine64 || echo /usr/lib/wine/wine64)
# The 32-bit loader (Debian's wine32:i386), for the i686 build: it runs its
# programs in the same prefix.
WINE32=/usr/lib/wine/wine

# Whether 32-bit Windows programs can run here; if not, why, in
# $LUMARO_WINE32_MISSING. Only the kernel's own loader will do: Wine hangs
# under qemu's user mode.
lumaro_wine32_usable() {
    LUMARO_WINE32_MISSING=
    local why
    if [ ! -x "$WINE32" ]; then
        LUMARO_WINE32_MISSING="32-bit Wine (wine32:i386) is not installed"
    elif ! why=$("$(dirname "${BASH_SOURCE[0]}")/i386-native.sh"); then
        LUMARO_WINE32_MISSING=$why
    elif ! "$WINE32" --version >/dev/null 2>&1; then
        LUMARO_WINE32_MISSING="32-bit Wine does not start here"
    fi
    [ -z "$LUMARO_WINE32_MISSING" ]
}
export WINEPREFIX=${LUMARO_WINEPREFIX:-$HOME/.cache/lumaro-wine}
export WINEDEBUG=-all
# No Mono or Gecko installers: nothing here uses .NET or HTML.
export WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=C
export LC_CTYPE=ru_RU.UTF-8
unset LC_ALL

if ! locale -a 2>/dev/null | grep -qix 'ru_RU.utf8'; then
    localedef -i ru_RU -f UTF-8 ru_RU.UTF-8
fi

# A prefix made before 32-bit Wine was there lacks its 32-bit half, which
# `wineboot -u` does not add (seen with Wine 8): it is made anew.
if [ -f "$WINEPREFIX/.lumaro-ready" ] && [ ! -f "$WINEPREFIX/.lumaro-ready32" ] && lumaro_wine32_usable; then
    echo "Making the Wine prefix $WINEPREFIX anew, with its 32-bit half"
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
fi

if [ ! -f "$WINEPREFIX/.lumaro-ready" ]; then
    echo "Creating the Wine prefix $WINEPREFIX"
    "$WINE64" wineboot -i >/dev/null 2>&1 || true
    # Wine leaves out Unix variables named QT_*: set in the prefix, it makes
    # Qt write test output and warnings to the console streams, not to the
    # debugger, as no console window is attached.
    "$WINE64" reg add 'HKCU\Environment' /v QT_FORCE_STDERR_LOGGING /d 1 /f >/dev/null 2>&1
    touch "$WINEPREFIX/.lumaro-ready"
    lumaro_wine32_usable && touch "$WINEPREFIX/.lumaro-ready32"
    # The server that made the prefix ends with its last program: stopped
    # here, for the persistent one below.
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
fi

# Status 2 when one runs already (this file sourced twice).
wineserver -p >/dev/null 2>&1 </dev/null || true
# Wine's services start with the first program and outlive it, holding its
# output open: a test runner would wait on them until its timeout. Started
# here, they hold nothing of the runner's.
"$WINE64" wineboot >/dev/null 2>&1 </dev/null || true
lumaro_wine_stop() { wineserver -k >/dev/null 2>&1 || true; }
