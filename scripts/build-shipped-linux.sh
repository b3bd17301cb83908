#!/usr/bin/env bash
# Builds the Linux add-in as shipped, in the amd64 bullseye tree against a
# static Qt (both made first when missing), for x86_64 (default) or i386:
# build-shipped-<arch>/libLumaro1CDriverNative.so, with bin/lumaro-plainhost
# beside it. Prints the library's path on its last line.
#   scripts/build-shipped-linux.sh [x86_64|i386]
set -euo pipefail
cd "$(dirname "$0")/.."
# Callers capture the path: only it goes to standard output.
exec 3>&1 1>&2

arch=${1:-x86_64}
# Both are built in the amd64 tree; i386 with -m32, so that no i386 program
# runs and any x86_64 kernel will do.
case "$arch" in
    x86_64) flags= ;;
    i386) flags=-m32 ;;
    *) echo "usage: scripts/build-shipped-linux.sh [x86_64|i386]" >&2; exit 2 ;;
esac
export LUMARO_TREE_ARCH=amd64
qt=$(scripts/build-qt.sh "linux-$arch" | tail -n 1)
dir=build-shipped-$arch

# The tree has no Linguist tools: the catalogues are compiled here.
scripts/install-deps.sh
mkdir -p "$dir/qm"
for ts in resources/*.ts; do
    lrelease -silent "$ts" -qm "$dir/qm/$(basename "${ts%.ts}").qm"
done

scripts/linux-tree.sh run sh -c '
    set -e
    dir=/src/$1
    cmake -S /src -B "$dir" -DCMAKE_BUILD_TYPE=Release -DLUMARO_SHIPPED_LINUX=ON \
        -DCMAKE_C_FLAGS="$3" -DCMAKE_CXX_FLAGS="$3" \
        -DCMAKE_PREFIX_PATH="$2" -DLUMARO_QM_DIR="$dir/qm" >/dev/null
    cmake --build "$dir" -j "$(nproc)" >&2
' sh "$dir" "$qt" "$flags"
echo "$PWD/$dir/libLumaro1CDriverNative.so" >&3
