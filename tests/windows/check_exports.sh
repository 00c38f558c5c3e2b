#!/usr/bin/env bash
# The binary boundary as the files show it: ferrolink.dll exports exactly the functions the C
# header declares (FLK_SendPrintData undecorated among them), so no C++ name and nothing of the
# capture library it binds at run time; ferrolink.lib, the import library for Visual Studio,
# imports the same names.
#   check_exports.sh OBJDUMP NM ferrolink.dll ferrolink.lib ferrolink.h
set -euo pipefail
objdump=$1 nm=$2 dll=$3 implib=$4 header=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | sort >"$work/dll"
"$nm" "$implib" | sed -n 's/^.* T __imp_//p' | sort -u >"$work/lib"
# Every function the header declares: FLK_API <type> FLK_CALL name(
tr '\n' ' ' <"$header" | grep -oE 'FLK_API[^;{]*FLK_CALL[[:space:]]+[A-Za-z_][A-Za-z_0-9]*[[:space:]]*\(' |
  sed -E 's/.*FLK_CALL[[:space:]]+([A-Za-z_0-9]+).*/\1/' | sort -u >"$work/header"

status=0
[ -s "$work/dll" ] || { echo "no export table in $dll"; exit 1; }
grep -qx FLK_SendPrintData "$work/dll" || { echo "FLK_SendPrintData is not exported undecorated"; status=1; }
if grep -E '^(_Z|\?)' "$work/dll"; then echo "C++ names exported (above)"; status=1; fi
extra=$(comm -23 "$work/dll" <(sort -u "$work/header" <(echo FLK_SendPrintData)))
[ -z "$extra" ] || { echo "exported but not declared in the C header:"; echo "$extra"; status=1; }
missing=$(comm -13 "$work/dll" "$work/header")
[ -z "$missing" ] || { echo "declared in the C header but not exported:"; echo "$missing"; status=1; }
if ! cmp -s "$work/dll" "$work/lib"; then
  echo "ferrolink.lib and ferrolink.dll differ:"
  diff "$work/dll" "$work/lib" || true
  status=1
fi
[ $status -eq 0 ] && echo "exports: $(wc -l <"$work/dll") C names, the same in ferrolink.lib, FLK_SendPrintData undecorated"
exit $status
