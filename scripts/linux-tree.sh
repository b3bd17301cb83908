#!/usr/bin/env bash
# A Debian 11 (bullseye) tree, made once with debootstrap from the machine's
# own mirror: the shipped Linux libraries, x86_64 and i386 alike, are built
# in the amd64 tree with its compiler (-m32 for i386) and glibc 2.31, so that
# they load on systems as old as that and older; building runs no i386
# program. The i386 tree only serves to run the i386 library's tests.
# No Qt is installed in them; the static Qt goes under the amd64 tree's /opt.
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
# What building needs; nothing of Qt. The amd64 tree builds for i386 too.
base=g++,make,cmake,perl,libc6-dev,binutils
packages=$base
[ "$arch" = amd64 ] && packages+=,g++-multilib

# A tree made before a package joined the list gets it installed with the
# tree's own apt, from the mirror the tree was made from.
complete_tree() {
    local had missing=() p
    had=$(cat "$tree/.complete")
    for p in ${packages//,/ }; do
        [[ ",${had:-$base}," == *",$p,"* ]] || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing ${missing[*]} in the $suite tree ($arch)" >&2
    cp /etc/resolv.conf "$tree/etc/resolv.conf" 2>/dev/null || true
    # shellcheck disable=SC2016
    $SUDO unshare --mount --propagation private -- sh -c '
        mount -t proc proc "$1/proc" &&
        exec chroot "$1" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive \
            sh -c "apt-get update -qq && apt-get install -y -qq --no-install-recommends $2 >/dev/null && apt-get clean"
    ' sh "$tree" "${missing[*]}" >&2 || { echo "cannot install ${missing[*]} in $tree" >&2; exit 1; }
    echo "$packages" | $SUDO tee "$tree/.complete" >/dev/null
}

make_tree() {
    [ -f "$tree/.complete" ] && { complete_tree; return 0; }
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
    echo "$packages" | $SUDO tee "$tree/.complete" >/dev/null
    echo "$suite tree made in $(( $(date +%s) - start )) s" >&2
}

case "${1:-}" in
    check)
        # Emulated, the tree's programs would crawl; and a tree made for a
        # kernel that runs none is five minutes of debootstrap for nothing.
        if [ "$arch" = i386 ] && ! why=$(scripts/i386-native.sh); then
            echo "$why"
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
