#!/usr/bin/env bash
# No Windows Qt here, so the DLL cannot be linked; what can be checked is
# compiled: the platform declarations with their layout assertions for
# 32-bit Windows (and 64-bit when that compiler is there), and the version
# resource with windres.
set -euo pipefail
cd "$(dirname "$0")/.."
LUMARO_WITH_MINGW=1 scripts/install-deps.sh

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
probe='#include "addin/platform/componentbase.h"
#include "addin/platform/addindefbase.h"
#include "addin/platform/memorymanager.h"
int main() { return sizeof(tVariant) == 48 ? 0 : 1; }'

for triplet in i686-w64-mingw32 x86_64-w64-mingw32; do
    command -v $triplet-g++ >/dev/null || continue
    echo "$probe" | $triplet-g++ -std=c++17 -Wall -Wextra -Werror -I. -x c++ - -c -o "$out/probe-$triplet.o"
    $triplet-windres addin/entry/win/version.rc -O coff -o "$out/version-$triplet.o"
    echo "$triplet: platform declarations and version resource compile"
done
