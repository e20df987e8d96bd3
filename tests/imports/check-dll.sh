#!/usr/bin/env bash
# check-dll.sh OBJDUMP FILE [--exports InitDll@1]
# Reads FILE's PE tables with objdump -p and checks that every imported DLL is
# a system DLL (the driver is linked statically) and, with --exports, that the
# export table holds exactly the given name at the given ordinal.
set -euo pipefail

objdump=$1 file=$2
shift 2
expected_export=""
if [ "${1:-}" = --exports ]; then expected_export=$2; fi

[ -f "$file" ] || { echo "FAIL: $file does not exist"; exit 1; }
dump=$("$objdump" -p "$file")
status=0

# DLLs every Windows installation has; nothing of the compiler's runtime.
system_dll='^(kernel32|user32|gdi32|advapi32|oleaut32|ole32|msvcrt|shell32|comctl32|comdlg32|ws2_32|winmm|version|shlwapi|ntdll|bcrypt|uxtheme|api-ms-win-.*)\.dll$'
while read -r dll; do
    lower=$(tr '[:upper:]' '[:lower:]' <<<"$dll")
    if [[ $lower =~ $system_dll ]]; then
        echo "ok: imports $dll"
    else
        echo "FAIL: imports $dll, which is not a system DLL"
        status=1
    fi
done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump")

if [ -n "$expected_export" ]; then
    name=${expected_export%@*} ordinal=${expected_export#*@}
    base=$(sed -n 's/^Export Address Table -- Ordinal Base \([0-9]*\).*/\1/p' <<<"$dump")
    # "[Ordinal/Name Pointer] Table" lines: "[   0] InitDll", index from the base.
    names=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | sed -n 's/^[[:space:]]*\[ *\([0-9]*\)\] \(.*\)$/\1 \2/p')
    count=$(grep -c . <<<"$names" || true)
    if [ "$count" != 1 ]; then
        echo "FAIL: expected one export, found $count:"; echo "$names"
        status=1
    elif [ -z "$base" ] || [ "$names" != "$((ordinal - base)) $name" ]; then
        echo "FAIL: expected $name at ordinal $ordinal, found '$names' with ordinal base '$base'"
        status=1
    else
        echo "ok: exports $name at ordinal $ordinal"
    fi
fi
exit $status
