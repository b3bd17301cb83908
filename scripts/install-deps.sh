#!/usr/bin/env bash
# Installs what building and testing need on Debian 12. Quiet when all is there;
# what it says goes to standard error, as callers capture others' output.
# Extra sets: LUMARO_WITH_CLANG=1 (fuzzing), LUMARO_WITH_MINGW=1 (the Windows
# build: MinGW-w64), LUMARO_WITH_QTSRC=1 (dpkg-dev, to unpack Qt's source
# package), LUMARO_WITH_TREE=1 (debootstrap, for the bullseye tree), LUMARO_WITH_WINE=1 (Windows
# tests: Wine for both architectures with a Russian locale, and clang with
# lld for the host built with Microsoft's ABI),
# LUMARO_WITH_I386=1 (the Linux i386 build).
#
# Packages of the i386 architecture install only where the mirror serves its
# indexes in step with amd64's; where it does not, this says so in one line
# and goes on, and the callers leave out what needs them.
set -euo pipefail

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo

packages=(build-essential cmake qtbase5-dev qttools5-dev qttools5-dev-tools zip unzip binutils)
foreign=()
[ "${LUMARO_WITH_CLANG:-0}" = 1 ] && packages+=(clang libclang-rt-14-dev)
[ "${LUMARO_WITH_MINGW:-0}" = 1 ] && packages+=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
    binutils-mingw-w64-i686 binutils-mingw-w64-x86-64)
[ "${LUMARO_WITH_QTSRC:-0}" = 1 ] && packages+=(dpkg-dev)
[ "${LUMARO_WITH_TREE:-0}" = 1 ] && packages+=(debootstrap)
[ "${LUMARO_WITH_WINE:-0}" = 1 ] && packages+=(wine wine64 clang lld locales) && foreign+=(wine32:i386)
[ "${LUMARO_WITH_I386:-0}" = 1 ] && packages+=(g++-multilib) && foreign+=(qtbase5-dev:i386)

missing_of() {
    local p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
    done
}
mapfile -t missing < <(missing_of "${packages[@]}")
mapfile -t missing_foreign < <(missing_of "${foreign[@]}")
[ ${#missing[@]} -eq 0 ] && [ ${#missing_foreign[@]} -eq 0 ] && exit 0

if [ ${#missing_foreign[@]} -ne 0 ]; then
    dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
fi
# One broken index (a mirror in the middle of a sync) must not stop the rest.
$SUDO apt-get update -qq || echo "apt-get update reported failures; going on with the indexes it has" >&2
install() {
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}
if [ ${#missing[@]} -ne 0 ]; then
    echo "Installing: ${missing[*]}" >&2
    install "${missing[@]}"
fi
if [ ${#missing_foreign[@]} -ne 0 ]; then
    echo "Installing: ${missing_foreign[*]}" >&2
    install "${missing_foreign[@]}" 2>/dev/null ||
        echo "Not installed: ${missing_foreign[*]} (apt cannot install them from this machine's package sources)" >&2
fi
exit 0
