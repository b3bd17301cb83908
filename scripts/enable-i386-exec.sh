#!/usr/bin/env bash
# Some kernels (this project's CI machines among them) do not run 32-bit
# x86 programs. Register qemu's user-mode emulator for them, so that the
# i386 build's tests, and the programs they start, run unchanged.
set -euo pipefail
probe=/lib/i386-linux-gnu/ld-linux.so.2
"$probe" --version >/dev/null 2>&1 && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
dpkg-query -W -f='${Status}' qemu-user-static 2>/dev/null | grep -q 'install ok installed' ||
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends qemu-user-static >/dev/null
binfmt=/proc/sys/fs/binfmt_misc
[ -e $binfmt/register ] || $SUDO mount -t binfmt_misc binfmt_misc $binfmt
[ -e $binfmt/qemu-i386 ] ||
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' |
    $SUDO tee $binfmt/register >/dev/null
"$probe" --version >/dev/null 2>&1 || { echo "32-bit programs cannot run here"; exit 1; }
echo "32-bit x86 programs run through qemu-i386-static"
