#!/bin/sh
# Checks a built Module.dll for what a host relies on:
#   - exactly two exports, getModuleProperties and makeModule, with undecorated names;
#   - the export directory names the library Module.dll;
#   - the marker text "SE_MODULE" followed by a zero byte somewhere in the file;
#   - imports of system DLLs only (no C++ runtime, libgcc or winpthread DLL beside it);
#   - the PE machine type of the preset (i386 for win32, x86-64 for win64);
#   - a version resource giving VERSION (MAJOR.MINOR.PATCH) as text and as the fixed numbers.
#
# usage: check_dll.sh DLL OBJDUMP MACHINE PRESET VERSION
#   MACHINE is i386 or x86-64; PRESET names the CMake preset that builds the DLL.
# Exit 0 when every check passes, 1 when one fails, 77 (skipped) when the DLL is not built.

dll=$1
objdump=$2
machine=$3
preset=$4
version=$5

if [ ! -f "$dll" ]; then
    echo "SKIP: $dll does not exist. Build the $preset preset first:"
    echo "  cmake --preset $preset -B build/$preset && cmake --build build/$preset -j2"
    exit 77
fi
if ! command -v "$objdump" >/dev/null 2>&1; then
    echo "FAIL: $objdump not found (Debian package binutils-mingw-w64)"
    exit 1
fi

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
pass() {
    echo "ok: $*"
}

dump=$("$objdump" -p "$dll") || {
    echo "FAIL: $objdump -p $dll failed"
    exit 1
}

# ---- Exports ----------------------------------------------------------------------------------
names=$(printf '%s\n' "$dump" |
    sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | LC_ALL=C sort | tr '\n' ' ')
if [ "$names" = "getModuleProperties makeModule " ]; then
    pass "exports by name: $names"
else
    fail "exports by name are '$names', expected 'getModuleProperties makeModule'"
fi
address_count=$(printf '%s\n' "$dump" |
    sed -n 's/^[[:space:]]*Export Address Table[[:space:]]*\([0-9a-fA-F]\{8\}\)$/\1/p' | head -n 1)
if [ "$address_count" = "00000002" ]; then
    pass "export address table holds 2 entries"
else
    fail "export address table holds '$address_count' entries (hex), expected 00000002"
fi

# ---- Export directory name --------------------------------------------------------------------
directory_name=$(printf '%s\n' "$dump" | sed -n 's/^Name[[:space:]]*[0-9a-fA-F]*[[:space:]]\(.*\)$/\1/p' |
    head -n 1)
if [ "$directory_name" = "Module.dll" ]; then
    pass "export directory name Module.dll"
else
    fail "export directory name is '$directory_name', expected Module.dll"
fi

# ---- Marker -----------------------------------------------------------------------------------
# Line feeds become 0x01 and zero bytes line feeds: a line ending in SE_MODULE then had a zero
# byte right after the text.
if LC_ALL=C tr '\n\000' '\001\n' <"$dll" | LC_ALL=C grep -a -q 'SE_MODULE$'; then
    pass "marker SE_MODULE followed by a zero byte"
else
    fail "no 'SE_MODULE' followed by a zero byte in $dll"
fi

# ---- Imports ----------------------------------------------------------------------------------
imports=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p')
if [ -z "$imports" ]; then
    fail "no imported DLL found in the import table"
fi
for name in $imports; do
    lower=$(printf '%s' "$name" | tr 'A-Z' 'a-z')
    case "$lower" in
    libstdc++*|libgcc*|libwinpthread*|*pthread*)
        fail "imports the runtime DLL $name (link it statically)"
        ;;
    kernel32.dll|msvcrt.dll|gdiplus.dll|gdi32.dll|user32.dll|advapi32.dll|shell32.dll|\
    ole32.dll|oleaut32.dll|comctl32.dll|comdlg32.dll|ws2_32.dll|winmm.dll|ucrtbase.dll|\
    ntdll.dll|shlwapi.dll|version.dll|api-ms-win-*.dll)
        pass "imports system DLL $name"
        ;;
    *)
        fail "imports $name, which is not a system DLL"
        ;;
    esac
done

# ---- Machine type -----------------------------------------------------------------------------
pe_offset=$(od -A n -t u4 -j 60 -N 4 "$dll" | tr -d ' ')
signature=$(od -A n -t x1 -j "$pe_offset" -N 4 "$dll" | tr -d ' ')
machine_word=$(od -A n -t x2 -j $((pe_offset + 4)) -N 2 "$dll" | tr -d ' ')
case "$machine" in
i386) expected_word=014c ;;
x86-64) expected_word=8664 ;;
*) expected_word=unknown ;;
esac
if [ "$signature" != "50450000" ]; then
    fail "no PE signature at offset $pe_offset"
elif [ "$machine_word" = "$expected_word" ]; then
    pass "machine type $machine (0x$machine_word)"
else
    fail "machine type 0x$machine_word, expected $machine (0x$expected_word)"
fi

# ---- Version resource -------------------------------------------------------------------------
# The texts are UTF-16; the fixed record follows its signature 0xFEEF04BD and the structure's
# version, its file version as (minor, major) and (build, patch) 16-bit words.
for key in FileVersion ProductVersion; do
    text=$(strings -el "$dll" | sed -n "/^$key\$/{n;p;q;}")
    if [ "$text" = "$version" ]; then
        pass "version resource $key $text"
    else
        fail "version resource $key is '$text', expected $version"
    fi
done
fixed_offset=$(LC_ALL=C grep -obUaP '\xbd\x04\xef\xfe' "$dll" | head -n 1 | cut -d: -f1)
if [ -z "$fixed_offset" ]; then
    fail "no fixed version record in $dll"
else
    # shellcheck disable=SC2046
    set -- $(od -A n -t u2 -j $((fixed_offset + 8)) -N 8 "$dll")
    if [ "$2.$1.$4" = "$version" ] && [ "$3" = 0 ]; then
        pass "fixed file version $2.$1.$4.$3"
    else
        fail "fixed file version $2.$1.$4.$3, expected $version.0"
    fi
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed for $dll"
    exit 1
fi
echo "all checks passed for $dll"
exit 0
