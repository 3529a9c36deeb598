#!/usr/bin/env bash
# delay-import.sh U NM DLLTOOL IMPORT_LIB DLL OUT: a delay-load import library
# for DLL with every function the ordinary import library names, so that the
# DLL is loaded at the first call of one of them instead of at the start.
# delay-import.sh U --check NM PROGRAM DEF...: fails when the program calls a
# function of those libraries whose stub the linker left out (address 0).
# U is the prefix of C names in symbols: "_" for 32-bit x86, "" for x64.
set -euo pipefail
. "$(dirname "$0")/fail-trap.sh"
u=$1
shift
if [ "$1" = --check ]; then
  nm=$2 program=$3
  shift 3
  sed '1,/^EXPORTS$/d' "$@" | sort -u >"$program.delayed"
  lost=$("$nm" "$program" | awk -v u="$u" '$2 == "A" && $1 ~ /^0+$/ && substr($3, 1, length(u)) == u {
      print substr($3, length(u) + 1) }' | sort -u | comm -12 - "$program.delayed")
  rm -f "$program.delayed"
  if [ -n "$lost" ]; then
    echo "delay-import: $program calls delay-loaded functions without their stubs:" $lost >&2
    exit 1
  fi
  exit 0
fi
nm=$1 dlltool=$2 implib=$3 dll=$4 out=$5
def=$out.def
{
  echo "LIBRARY $dll"
  echo "EXPORTS"
  # Import symbols are __imp_ and the symbol: Name (x64) or _Name@bytes (x86).
  "$nm" -g --defined-only "$implib" 2>/dev/null | sed -n "s/^[0-9a-fA-F]* I __imp_$u//p" | sort -u
} >"$def"
rm -f "$out"
# --kill-at: 32-bit programs call Name@bytes, the DLL exports Name.
"$dlltool" --kill-at --input-def "$def" --dllname "$dll" --output-delaylib "$out"
