#!/usr/bin/env bash
# Builds everything and runs the whole test suite.
#   scripts/test.sh            ordinary build in build/
#   scripts/test.sh --sanitize AddressSanitizer + UndefinedBehaviorSanitizer build in build-san/
#   scripts/test.sh --i386     32-bit Linux build in build-i386/
#   scripts/test.sh --windows  Windows builds: 32-bit in build-win32/ (the add-in and tools,
#                              checked without running), 64-bit in build-win64/ (everything,
#                              the suite run under Wine). Builds Qt for Windows first, once.
set -euo pipefail
cd "$(dirname "$0")/.."

dir=build
opts=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
case "${1:-}" in
    --sanitize)
        dir=build-san
        opts=(-DCMAKE_BUILD_TYPE=Debug -DLUMARO_SANITIZE=ON -DLUMARO_BUILD_BENCH=OFF) ;;
    --i386)
        export LUMARO_WITH_I386=1
        dir=build-i386
        opts=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_TOOLCHAIN_FILE=cmake/linux-i386.cmake -DLUMARO_BUILD_BENCH=OFF) ;;
    --windows)
        export LUMARO_WITH_MINGW=1 LUMARO_WITH_WINE=1
        dir=build-win64 ;;
    "") ;;
    *) echo "usage: scripts/test.sh [--sanitize|--i386|--windows]"; exit 2 ;;
esac
scripts/install-deps.sh
if [ "$dir" = build-i386 ]; then scripts/enable-i386-exec.sh; fi

if [ "$dir" = build-win64 ]; then
    qt32=$(scripts/build-qt-windows.sh i686 | tail -n 1)
    qt64=$(scripts/build-qt-windows.sh x86_64 | tail -n 1)
    # Release builds, as shipped; 32-bit programs cannot run here, so no tests there.
    cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/windows-i686.cmake -DCMAKE_PREFIX_PATH="$qt32" \
        -DCMAKE_BUILD_TYPE=Release -DLUMARO_BUILD_TESTS=OFF -DLUMARO_BUILD_BENCH=OFF >/dev/null
    cmake --build build-win32 -j "$(nproc)"
    source scripts/wine-env.sh
    trap lumaro_wine_stop EXIT
    opts=(-DCMAKE_TOOLCHAIN_FILE=cmake/windows-x86_64.cmake -DCMAKE_PREFIX_PATH="$qt64"
          -DCMAKE_BUILD_TYPE=Release -DCMAKE_CROSSCOMPILING_EMULATOR="$WINE64")
fi

cmake -S . -B "$dir" "${opts[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)"
if [ "$dir" = build-win64 ]; then scripts/check-windows.sh; fi
jobs=$(nproc)
# wineserver serves every system call of the Windows programs, one at a time:
# two busy tests side by side slow each other down several times over.
[ "$dir" = build-win64 ] && jobs=1
cd "$dir"
ctest --output-on-failure -j "$jobs"
