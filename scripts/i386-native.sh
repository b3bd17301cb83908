#!/usr/bin/env bash
# Whether this machine's kernel itself runs 32-bit x86 programs: exit 0 if
# it does, else 1 with one line saying why. qemu's user mode, where it is
# registered for them, runs them too, slowly and not all of them (Wine hangs
# there): that does not count. The registration is the kernel's, kept in
# binfmt_misc, which a chroot may not have mounted: then it is looked at in
# a mount of its own.
set -euo pipefail

binfmt=/proc/sys/fs/binfmt_misc
# shellcheck disable=SC2016
emulated='for f in "$1"/*; do
    grep -qs "^enabled" "$f" && grep -qs "^interpreter .*qemu-i386" "$f" && exit 0
done
exit 1'
if [ -e "$binfmt/status" ]; then
    sh -c "$emulated" sh "$binfmt" && qemu=1 || qemu=0
else
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo -n"
    $SUDO unshare --mount --propagation private -- sh -c \
        "mount -t binfmt_misc binfmt_misc $binfmt 2>/dev/null && $emulated" sh "$binfmt" 2>/dev/null && qemu=1 || qemu=0
fi
if [ "$qemu" = 1 ]; then
    echo "32-bit x86 programs run here only through qemu's user mode"
    exit 1
fi

# A three-instruction i386 program, which needs no multilib to build.
probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
printf '%s\n' 'void _start(void) { __asm__ volatile("movl $1, %%eax\n\txorl %%ebx, %%ebx\n\tint $0x80" ::: "eax", "ebx"); }' >"$probe/exit.c"
if ! cc -m32 -nostdlib -static -o "$probe/exit" "$probe/exit.c" 2>/dev/null; then
    echo "no compiler here builds an i386 program to try"
    exit 1
fi
if ! "$probe/exit" 2>/dev/null; then
    echo "this machine's kernel does not run i386 programs"
    exit 1
fi
