#!/bin/sh
# Checks that a stand-in driver library exports its functions: a DLL the six by name at their
# ordinals, needing no compiler runtime DLL (only system DLLs) beside it; a shared object those
# and the two of the device list by name, and nothing else.
# Usage: check_exports.sh OBJDUMP FTD2XX.dll | check_exports.sh NM libftd2xx.so
set -eu
case "$2" in
*.so)
  "$1" -D --defined-only "$2" | awk '
    { exported[$NF] = $2 }
    END {
      split("FT_Close FT_Read FT_SetTimeouts FT_OpenEx FT_SetBitMode FT_SetUSBParameters FT_CreateDeviceInfoList FT_GetDeviceInfoDetail", wanted, " ")
      for (i in wanted) {
        if (exported[wanted[i]] != "T") { print wanted[i] " is not exported as a function"; failed = 1 }
        else print wanted[i]
        delete exported[wanted[i]]
      }
      for (name in exported) { print "also exports " name; failed = 1 }
      exit failed
    }'
  ;;
*)
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
  ;;
esac
