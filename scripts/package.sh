#!/usr/bin/env bash
# Makes the add-in package the platform installs: the Windows DLLs from
# build-win32 and build-win64, and the Linux libraries as shipped, built in
# the bullseye tree (scripts/build-shipped-linux.sh, which makes the tree
# and its Qt first when missing); then checks the package and lists what
# it holds.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

need() {
    [ -f "$1" ] || { echo "package.sh: no $1: build it with $2" >&2; exit 1; }
}
need build/CMakeCache.txt "scripts/test.sh"
need build-win32/Lumaro1CDriverNative1.dll "scripts/test.sh --windows"
need build-win64/Lumaro1CDriverNative1.dll "scripts/test.sh --windows"

linux64=$(scripts/build-shipped-linux.sh x86_64 | tail -n 1)
extra="Windows|i386|$root/build-win32/Lumaro1CDriverNative1.dll;Windows|x86_64|$root/build-win64/Lumaro1CDriverNative1.dll"
linux32=$(scripts/build-shipped-linux.sh i386 | tail -n 1)
extra+=";Linux|x86_64|$linux64;Linux|i386|$linux32"
expect="Linux|x86_64,Windows|i386,Windows|x86_64,Linux|i386"

# Re-configure only when the list changes, so that a second run rebuilds nothing.
if [ "$(sed -n 's/^LUMARO_PACKAGE_EXTRA:STRING=//p' build/CMakeCache.txt)" != "$extra" ]; then
    cmake -S . -B build "-DLUMARO_PACKAGE_EXTRA=$extra" >/dev/null
fi
if ! log=$(cmake --build build --target addin_package tst_tools_package 2>&1); then
    echo "$log" >&2
    exit 1
fi

package=$root/build/Lumaro1CDriverNative.zip
# A skipped check exits with 0 too: only its PASS line counts.
if ! out=$(LUMARO_PACKAGE=$package LUMARO_PACKAGE_EXPECT=$expect build/tests/tst_tools_package installablePackage 2>&1) \
    || ! grep -q '^PASS *: TestPackage::installablePackage()' <<<"$out"; then
    echo "$out" >&2
    echo "package.sh: $package fails its check" >&2
    exit 1
fi

echo "Package: $package ($(stat -c %s "$package") bytes)"
sed -n 's/^QINFO *: TestPackage::installablePackage() component //p' <<<"$out" |
    while read -r os arch file size; do
        printf '  %-8s %-7s %-40s %10s bytes\n' "$os" "$arch" "$file" "$size"
    done
