#!/usr/bin/env bash
# Installs what building and testing need on Debian 12. Quiet when all is there.
# Extra sets: LUMARO_WITH_CLANG=1 (fuzzing), LUMARO_WITH_MINGW=1 (the Windows
# build: MinGW-w64, and dpkg-dev for Qt's source), LUMARO_WITH_WINE=1 (Windows
# tests: Wine with a Russian locale, and clang with lld for the host built
# with Microsoft's ABI),
# LUMARO_WITH_I386=1 (the Linux i386 build).
set -euo pipefail

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo

packages=(build-essential cmake qtbase5-dev qttools5-dev qttools5-dev-tools zip unzip binutils)
[ "${LUMARO_WITH_CLANG:-0}" = 1 ] && packages+=(clang libclang-rt-14-dev)
[ "${LUMARO_WITH_MINGW:-0}" = 1 ] && packages+=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
    binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 dpkg-dev)
[ "${LUMARO_WITH_WINE:-0}" = 1 ] && packages+=(wine wine64 clang lld locales)
if [ "${LUMARO_WITH_I386:-0}" = 1 ]; then
    dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
    packages+=(g++-multilib qtbase5-dev:i386)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
