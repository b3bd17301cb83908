#!/usr/bin/env bash
# A Debian 11 (bullseye) tree, made once with debootstrap from the machine's
# own mirror: the shipped Linux libraries are built in it with its compiler
# and glibc 2.31, so that they load on systems as old as that and older.
# No Qt is installed in it; the static Qt goes under its /opt.
#   scripts/linux-tree.sh path            make the tree when missing, print its path
#   scripts/linux-tree.sh run CMD [ARG..] run CMD in the tree, the repository at /src
#                                          and the cache's sources at /cache-src
#   scripts/linux-tree.sh check           whether the tree runs here natively (exit 1
#                                          and one line saying why not)
# LUMARO_TREE_ARCH=i386 picks the 32-bit tree (amd64 by default); it runs
# where the kernel runs 32-bit programs. The mounts live in a mount namespace
# of their own and vanish with the command. Needs root (or sudo) for
# debootstrap and chroot; commands run as the caller.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo

cache=${LUMARO_QT_CACHE:-$HOME/.cache/lumaro-qt}
suite=bullseye
arch=${LUMARO_TREE_ARCH:-amd64}
case "$arch" in
    amd64) personality=x86_64 ;;
    i386) personality=i686 ;;
    *) echo "unknown tree architecture: $arch" >&2; exit 2 ;;
esac
tree=$cache/$suite-$arch
# What building needs; nothing of Qt.
packages=g++,make,cmake,perl,libc6-dev,binutils

make_tree() {
    [ -f "$tree/.complete" ] && return 0
    LUMARO_WITH_TREE=1 scripts/install-deps.sh
    local mirror start
    mirror=$(scripts/apt-mirror.sh)
    start=$(date +%s)
    $SUDO rm -rf "$tree"
    mkdir -p "$cache"
    echo "Making the $suite tree ($arch) in $tree from $mirror" >&2
    $SUDO debootstrap --variant=minbase --arch="$arch" --include="$packages" \
        "$suite" "$tree" "$mirror" >"$cache/debootstrap-$arch.log" 2>&1 \
        || { tail -30 "$cache/debootstrap-$arch.log" >&2; exit 1; }
    $SUDO rm -rf "$tree"/var/cache/apt/archives/*.deb
    $SUDO mkdir -p "$tree/src" "$tree/cache-src" "$tree/build" "$tree/opt"
    # Qt is built and installed there as the caller.
    $SUDO chown "$(id -u):$(id -g)" "$tree/build" "$tree/opt"
    $SUDO touch "$tree/.complete"
    echo "$suite tree made in $(( $(date +%s) - start )) s" >&2
}

case "${1:-}" in
    check)
        # Emulated, a compiler would take hours over Qt: only the kernel's own loader will do.
        if [ "$arch" = i386 ] && grep -qs '^enabled' /proc/sys/fs/binfmt_misc/qemu-i386; then
            echo "32-bit x86 programs run here only through qemu's user mode"
            exit 1
        fi
        (make_tree >/dev/null 2>&1 && $SUDO chroot "$tree" /bin/true) \
            || { echo "this machine's kernel does not run the $arch tree's programs"; exit 1; } ;;
    path)
        # Callers capture the path: all else goes to standard error.
        make_tree >&2
        echo "$tree" ;;
    run)
        shift
        make_tree
        mkdir -p "$cache/src"
        # shellcheck disable=SC2016
        $SUDO unshare --mount --propagation private -- sh -c '
            tree=$1 repo=$2 src=$3 user=$4 personality=$5; shift 5
            mount --bind "$repo" "$tree/src" &&
            mount --bind "$src" "$tree/cache-src" &&
            mount -t proc proc "$tree/proc" &&
            exec setarch "$personality" chroot --userspec="$user" "$tree" /usr/bin/env -i PATH=/usr/local/bin:/usr/bin:/bin HOME=/root LANG=C.UTF-8 "$@"
        ' sh "$tree" "$repo" "$cache/src" "$(id -u):$(id -g)" "$personality" "$@" ;;
    *)
        echo "usage: scripts/linux-tree.sh path | check | run CMD [ARG...]" >&2
        exit 2 ;;
esac
