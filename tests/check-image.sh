#!/usr/bin/env bash
# Checks a built clientca.dll: the expected PE format, imports of Windows
# system DLLs only (the C and C++ runtimes are linked in), and every name of
# the export list exported undecorated.
#   check-image.sh OBJDUMP DLL FORMAT DEF
set -u
objdump=$1 dll=$2 format=$3 def=$4
fail=0

if ! "$objdump" -f "$dll" | grep -q "file format $format\$"; then
    echo "FAIL: $dll is not $format: $("$objdump" -f "$dll" | grep 'file format')"
    fail=1
fi

system='^(kernel32|advapi32|user32|gdi32|msi|shlwapi|psapi|version|ole32|oleaut32|rpcrt4|bcrypt|crypt32|wintrust|cabinet|shell32|msvcrt|ntdll|ws2_32|secur32|userenv|setupapi|wtsapi32|netapi32|iphlpapi|api-ms-win-[a-z0-9-]+)\.dll$'
while read -r name; do
    lower=$(printf '%s' "$name" | tr 'A-Z' 'a-z')
    if ! printf '%s' "$lower" | grep -Eq "$system"; then
        echo "FAIL: imports a non-system DLL: $name"
        fail=1
    fi
done < <("$objdump" -p "$dll" | awk '/DLL Name:/ {print $3}')

exports=$("$objdump" -p "$dll" | awk '/\[Ordinal\/Name Pointer\] Table/{t=1;next} t&&/^[ \t]*\[/{print $NF} t&&/^$/{t=0}')
while read -r name; do
    if ! printf '%s\n' "$exports" | grep -qx "$name"; then
        echo "FAIL: export $name is missing or decorated"
        fail=1
    fi
done < <(awk '/^EXPORTS/{e=1;next} e && $1 !~ /^;/ && NF {print $1}' "$def")

if printf '%s\n' "$exports" | grep -q '@'; then
    echo "FAIL: decorated export names: $(printf '%s\n' "$exports" | grep '@' | tr '\n' ' ')"
    fail=1
fi

[ $fail -eq 0 ] && echo "ok: $dll is $format, imports system DLLs only, exports $(printf '%s\n' "$exports" | grep -c .) plain names"
exit $fail
