#!/usr/bin/env bash
# Builds a static Qt that a shipped add-in links against, from Debian's own
# qtbase source package:
#   scripts/build-qt.sh windows-i686|windows-x86_64   MinGW-w64 (posix threads)
#   scripts/build-qt.sh linux-x86_64|linux-i386       in the amd64 bullseye tree
#                                                     (scripts/linux-tree.sh); i386 with -m32
#                                                     as a cross target, its tools native
# Prints the install prefix on its last line; for Linux it is the path inside
# the tree. The result is kept in a cache folder named by Qt version, target
# and options, and reused when there. One source tree serves every target.
set -euo pipefail
cd "$(dirname "$0")/.."
# Callers capture the prefix: only it goes to standard output, all else
# (the steps' own messages included) to standard error.
exec 3>&1 1>&2

target=${1:?usage: scripts/build-qt.sh windows-i686|windows-x86_64|linux-x86_64|linux-i386}
qt_version=5.15.8
cache=${LUMARO_QT_CACHE:-$HOME/.cache/lumaro-qt}

# What none of our code uses is left out; each feature below was checked
# against the sources: no MIME types, animations, state machines, item
# models, shared memory or system semaphores, file watching, HTTP or FTP (so
# no QNetworkAccessManager), UDP, local sockets, DNS lookups, TLS or DTLS,
# SQL, QtConcurrent, CJK codecs. Settings, the 8-bit codecs, translations,
# XML and TCP stay.
options=(-release -static -opensource -confirm-license
    -no-gui -no-widgets -no-opengl -no-dbus -no-openssl -no-icu -qt-pcre -qt-zlib
    -no-feature-sql -no-feature-concurrent -no-feature-bearermanagement
    -no-feature-mimetype -no-feature-animation -no-feature-statemachine
    -no-feature-itemmodel -no-feature-sharedmemory -no-feature-systemsemaphore
    -no-feature-filesystemwatcher -no-feature-http -no-feature-ftp
    -no-feature-udpsocket -no-feature-localserver -no-feature-dnslookup
    -no-feature-ssl -no-feature-dtls -no-feature-networkdiskcache -no-feature-big_codecs
    -nomake examples -nomake tests)
case "$target" in
    windows-i686|windows-x86_64)
        arch=${target#windows-}
        triplet=$arch-w64-mingw32
        # The tests and tools built for Windows start processes and parse
        # command lines with this Qt.
        options+=(-static-runtime -xplatform win32-g++)
        name=qt-$qt_version-$triplet-static ;;
    linux-x86_64|linux-i386)
        # Only the add-in links this Qt: no processes, no command lines.
        options+=(-platform linux-g++ -no-glib -no-feature-process -no-feature-commandlineparser)
        # i386 is built without running any i386 program: moc and the
        # other tools are x86_64 ones, the libraries -m32.
        [ "$target" = linux-i386 ] && options+=(-xplatform linux-g++-32)
        name=qt-$qt_version-$target-static
        export LUMARO_TREE_ARCH=amd64 ;;
    *) echo "unknown target: $target" >&2; exit 2 ;;
esac
tag=$(printf '%s\n' "${options[@]}" | sha1sum | cut -c1-8)

if [ "${target%%-*}" = linux ]; then
    tree=$(scripts/linux-tree.sh path)
    prefix=/opt/$name-$tag
    installed=$tree$prefix
else
    prefix=$cache/$name-$tag
    installed=$prefix
fi
if [ -f "$installed/.complete" ]; then
    echo "$prefix" >&3
    exit 0
fi

# Debian's source package, fetched once for every target.
src=$cache/src/qtbase-$qt_version
if [ ! -f "$src/.complete" ]; then
    LUMARO_WITH_QTSRC=1 scripts/install-deps.sh
    if ! grep -rqs '^\(deb-src\|Types:.*deb-src\)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
        # The same mirror and suites as the binary packages.
        mirror=$(scripts/apt-mirror.sh)
        codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
        SUDO=""
        [ "$(id -u)" -ne 0 ] && SUDO=sudo
        printf '%s\n' 'Types: deb-src' "URIs: $mirror" "Suites: $codename $codename-updates" \
            'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' \
            | $SUDO tee /etc/apt/sources.list.d/lumaro-deb-src.sources >/dev/null
        $SUDO apt-get update -qq || echo "apt-get update reported failures; going on with the indexes it has" >&2
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

start=$(date +%s)
log() { echo "Qt $qt_version $target: $1 in $(( $(date +%s) - start )) s" >&2; }

if [ "${target%%-*}" = linux ]; then
    # Shadow build inside the tree, from the shared sources mounted at /cache-src.
    work=/build/$name-$tag
    scripts/linux-tree.sh run sh -c '
        set -e
        work=$1 prefix=$2; shift 2
        rm -rf "$work" && mkdir -p "$work" && cd "$work"
        /cache-src/qtbase-'"$qt_version"'/configure -prefix "$prefix" "$@" >configure.log 2>&1 \
            || { tail -40 configure.log; exit 1; }
        echo configured >&2
        make -j"$(nproc)" >make.log 2>&1 || { tail -40 make.log; exit 1; }
        make install >install.log 2>&1 || { tail -40 install.log; exit 1; }
        cd / && rm -rf "$work"
    ' sh "$work" "$prefix" "${options[@]}"
    log "built and installed"
    touch "$installed/.complete"
    echo "$prefix" >&3
    exit 0
fi

LUMARO_WITH_MINGW=1 scripts/install-deps.sh
# qmake names the compilers by a prefix only; the posix-thread compilers
# carry a suffix, so give them plain names in a folder of their own.
work=$cache/build/$target-$tag
rm -rf "$work"
mkdir -p "$work/toolchain"
for tool in gcc g++ ar ranlib windres strip objcopy nm; do
    real=$(command -v "$triplet-$tool-posix" || command -v "$triplet-$tool")
    ln -s "$real" "$work/toolchain/$triplet-$tool"
done

cd "$work"
"$src/configure" -prefix "$prefix" -device-option CROSS_COMPILE="$work/toolchain/$triplet-" \
    "${options[@]}" >configure.log 2>&1 || { tail -40 configure.log; exit 1; }
log "configured"
make -j"$(nproc)" >make.log 2>&1 || { tail -40 make.log; exit 1; }
make install >install.log 2>&1 || { tail -40 install.log; exit 1; }
log "built and installed"
cd /
rm -rf "$work"
touch "$prefix/.complete"
echo "$prefix" >&3
