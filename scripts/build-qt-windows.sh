#!/usr/bin/env bash
# Builds the static Qt the Windows DLLs link against, from Debian's own
# qtbase source package, with MinGW-w64 (posix threads), for one architecture.
#   scripts/build-qt-windows.sh x86_64|i686
# Prints the install prefix on its last line. The result is kept in a cache
# folder named by Qt version, architecture and options, and reused when there.
set -euo pipefail
cd "$(dirname "$0")/.."

arch=${1:?usage: scripts/build-qt-windows.sh x86_64|i686}
case "$arch" in x86_64|i686) ;; *) echo "unknown architecture: $arch" >&2; exit 2 ;; esac
triplet=$arch-w64-mingw32

qt_version=5.15.8
cache=${LUMARO_QT_CACHE:-$HOME/.cache/lumaro-qt}
options=(-release -static -static-runtime -opensource -confirm-license
    -no-gui -no-widgets -no-opengl -no-dbus -no-openssl -no-icu -qt-pcre -qt-zlib
    -no-feature-sql -no-feature-concurrent -no-feature-bearermanagement
    -nomake examples -nomake tests -no-pch)
tag=$(printf '%s\n' "${options[@]}" | sha1sum | cut -c1-8)
prefix=$cache/qt-$qt_version-$arch-w64-mingw32-static-$tag

if [ -f "$prefix/.complete" ]; then
    echo "$prefix"
    exit 0
fi

LUMARO_WITH_MINGW=1 scripts/install-deps.sh

# Debian's source package, fetched once for both architectures.
src=$cache/src/qtbase-$qt_version
if [ ! -f "$src/.complete" ]; then
    if ! grep -rqs '^\(deb-src\|Types:.*deb-src\)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
        # The same mirror and suites as the binary packages.
        mirror=$(scripts/apt-mirror.sh)
        codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
        printf '%s\n' 'Types: deb-src' "URIs: $mirror" "Suites: $codename $codename-updates" \
            'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' \
            >/etc/apt/sources.list.d/lumaro-deb-src.sources
        apt-get update -qq || echo "apt-get update reported failures; going on with the indexes it has" >&2
    fi
    rm -rf "$src" "$cache/src/download"
    mkdir -p "$cache/src/download"
    (cd "$cache/src/download" && apt-get source --download-only "qtbase-opensource-src=$qt_version*" >/dev/null 2>&1 \
        || apt-get source --download-only qtbase-opensource-src >/dev/null)
    # apt has checked the files against Debian's signed index already.
    dpkg-source --no-check -x "$cache"/src/download/qtbase-opensource-src_*.dsc "$src" >/dev/null
    rm -rf "$cache/src/download"
    touch "$src/.complete"
fi

# qmake names the compilers by a prefix only; the posix-thread compilers
# carry a suffix, so give them plain names in a folder of their own.
work=$cache/build/$arch-$tag
rm -rf "$work"
mkdir -p "$work/toolchain"
for tool in gcc g++ ar ranlib windres strip objcopy nm; do
    real=$(command -v "$triplet-$tool-posix" || command -v "$triplet-$tool")
    ln -s "$real" "$work/toolchain/$triplet-$tool"
done

cd "$work"
start=$(date +%s)
"$src/configure" -prefix "$prefix" -xplatform win32-g++ \
    -device-option CROSS_COMPILE="$work/toolchain/$triplet-" "${options[@]}" >configure.log 2>&1 \
    || { tail -40 configure.log; exit 1; }
echo "Qt $qt_version $arch: configured in $(( $(date +%s) - start )) s" >&2
make -j"$(nproc)" >make.log 2>&1 || { tail -40 make.log; exit 1; }
make install >install.log 2>&1 || { tail -40 install.log; exit 1; }
echo "Qt $qt_version $arch: built and installed in $(( $(date +%s) - start )) s" >&2
cd /
rm -rf "$work"
touch "$prefix/.complete"
echo "$prefix"
