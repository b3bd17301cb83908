#!/usr/bin/env bash
# Builds everything and runs the whole test suite.
#   scripts/test.sh            ordinary build in build/
#   scripts/test.sh --sanitize AddressSanitizer + UndefinedBehaviorSanitizer build in build-san/
#   scripts/test.sh --i386     32-bit Linux build in build-i386/
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
    "") ;;
    *) echo "usage: scripts/test.sh [--sanitize|--i386]"; exit 2 ;;
esac
scripts/install-deps.sh
if [ "$dir" = build-i386 ]; then scripts/enable-i386-exec.sh; fi
cmake -S . -B "$dir" "${opts[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)"
cd "$dir"
ctest --output-on-failure -j "$(nproc)"
