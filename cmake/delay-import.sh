#!/bin/sh
# delay-import.sh NM DLLTOOL IMPORT_LIB DLL OUT: a delay-load import library
# for DLL with every function the ordinary import library names, so that the
# DLL is loaded at the first call of one of them instead of at the start.
set -eu
nm=$1 dlltool=$2 implib=$3 dll=$4 out=$5
def=$out.def
{
  echo "LIBRARY $dll"
  echo "EXPORTS"
  # 64-bit import symbols are __imp_Name.
  "$nm" -g --defined-only "$implib" 2>/dev/null | sed -n 's/^[0-9a-fA-F]* I __imp_//p' | sort -u
} >"$def"
rm -f "$out"
"$dlltool" --input-def "$def" --dllname "$dll" --output-delaylib "$out"
