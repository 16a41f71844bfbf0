#!/bin/sh
# Checks that a driver library exports the six functions by name at their ordinals, and that
# it needs no compiler runtime DLL (only system DLLs) beside it.
# Usage: check_exports.sh OBJDUMP LIBRARY
set -eu
"$1" -p "$2" | awk '
  /Export Address Table -- Ordinal Base/ { base = $NF }
  /\[Ordinal\/Name Pointer\] Table/ { names = 1; next }
  names && /^\t\[/ { gsub(/[\[\]]/, " "); ordinal[$2] = $1 + base; next }
  names { names = 0 }
  /DLL Name: / && tolower($NF) !~ /^(kernel32|msvcrt|user32)\.dll$/ { print "imports " $NF; failed = 1 }
  END {
    split("FT_Close=2 FT_Read=3 FT_SetTimeouts=17 FT_OpenEx=27 FT_SetBitMode=31 FT_SetUSBParameters=33", wanted, " ")
    for (i in wanted) {
      split(wanted[i], pair, "=")
      if (ordinal[pair[1]] != pair[2]) { print pair[1] " is at ordinal \"" ordinal[pair[1]] "\", not " pair[2]; failed = 1 }
      else print pair[1] " @" pair[2]
    }
    exit failed
  }'
