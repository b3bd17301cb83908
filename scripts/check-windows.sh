#!/usr/bin/env bash
# Checks built Windows DLLs of the add-in without running them, as the
# platform will find them: the machine type, exactly the four exports under
# their plain names, the version resource's fields, and imports of Windows
# system libraries only (no Qt, C++ runtime, libgcc or winpthread to deploy).
#   scripts/check-windows.sh DLL:i386|x86_64 ...
# Without arguments: the DLLs of build-win32 and build-win64.
set -euo pipefail
cd "$(dirname "$0")/.."

[ $# -eq 0 ] && set -- build-win32/Lumaro1CDriverNative1.dll:i386 build-win64/Lumaro1CDriverNative1.dll:x86_64

# Libraries every Windows from 7 on has in its system folder.
system_dlls=" advapi32.dll iphlpapi.dll kernel32.dll msvcrt.dll netapi32.dll ole32.dll psapi.dll shell32.dll "
system_dlls+="user32.dll userenv.dll version.dll winmm.dll ws2_32.dll "

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

fail() {
    echo "  FAILED: $*"
    failed=$((failed + 1))
}

check() {
    local dll=$1 arch=$2 format headers exports imports found before=$failed
    echo "$dll ($arch, $(stat -c %s "$dll") bytes)"
    case $arch in
        i386) format=pei-i386 ;;
        x86_64) format=pei-x86-64 ;;
        *) fail "unknown architecture $arch"; return ;;
    esac
    [ "$(objdump -f "$dll" | sed -n 's/.*file format //p')" = "$format" ] || fail "not $format"

    headers=$(objdump -p "$dll")
    exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" | sed -n 's/^\s*\[ *[0-9]*\] //p' | sort | xargs)
    [ "$exports" = "DestroyObject GetClassNames GetClassObject SetPlatformCapabilities" ] \
        || fail "exports are: $exports"
    echo "  exports: $exports"

    imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z' | sort | xargs)
    echo "  imports: $imports"
    for name in $imports; do
        [[ $system_dlls == *" $name "* ]] || fail "imports $name, not a Windows system library"
    done

    # The resource's texts are UTF-16: each key is followed by its value.
    objcopy -O binary --only-section=.rsrc "$dll" "$work/rsrc"
    iconv -f UTF-16LE -t UTF-8 "$work/rsrc" 2>/dev/null | tr '\0' '\n' | grep -a -v '^$' >"$work/texts" || true
    while IFS='=' read -r key value; do
        found=$(awk -v key="$key" 'index($0, key) && substr($0, length($0) - length(key) + 1) == key { getline; print; exit }' \
            "$work/texts")
        [ "$found" = "$value" ] || fail "version resource $key is \"$found\", not \"$value\""
    done <<'EOF'
CompanyName=Norvane
FileDescription=Vx LS515 scale driver for 1C (Native).
FileVersion=1.0.1.6
OriginalFilename=Lumaro1CDriverNative1.dll
ProductName=Vx Soft
ProductVersion=1.0.1.6
EOF
    grep -aq '040904B0$' "$work/texts" || fail "no string table for language 0409, code page 04B0"
    # The translation 0x0409, 0x04B0, read as two UTF-16 units.
    grep -aqx "$(printf '\u0409\u04b0')" "$work/texts" || fail "no translation block 0409/04B0"
    [ $failed -eq "$before" ] && echo "  version resource: Norvane, Vx Soft 1.0.1.6, Lumaro1CDriverNative1.dll, 0409/04B0"
    return 0
}

for entry in "$@"; do
    check "${entry%:*}" "${entry##*:}"
done
if [ $failed -ne 0 ]; then
    echo "Windows DLL checks failed"
    exit 1
fi
echo "Windows DLL checks passed"
