#!/bin/sh
# Tamri.exe imports the vendor library's stand-in, finds it beside itself,
# and everything it imports from it is exported there; the stand-in itself
# imports system DLLs only.
#   check_imports.sh OBJDUMP Tamri.exe QMSL_MSVC6R.dll
set -u
objdump=$1 exe=$2 dll=$3
fail() { echo "check_imports: $*" >&2; exit 1; }

# The names one DLL's import block lists, from objdump's private headers.
imports_from() {
  "$objdump" -p "$1" | awk -v want="$2" '
    /^[[:space:]]*DLL Name:/ { current = tolower($3); next }
    current == tolower(want) && /^[[:space:]]+[0-9a-f]+[[:space:]]+[0-9]+[[:space:]]+[A-Za-z_]/ { print $3 }'
}

[ -f "$dll" ] || fail "no $dll"
[ "$(dirname "$exe")" = "$(dirname "$dll")" ] || fail "$(basename "$dll") is not beside $(basename "$exe")"
"$objdump" -p "$exe" | grep -qi "DLL Name: QMSL_MSVC6R.dll" || fail "$(basename "$exe") does not import QMSL_MSVC6R.dll"

imported=$(imports_from "$exe" QMSL_MSVC6R.dll | sort -u)
[ -n "$imported" ] || fail "no functions imported from QMSL_MSVC6R.dll"
exported=$("$objdump" -p "$dll" | awk '
  /\[Ordinal\/Name Pointer\] Table/ { table = 1; next }
  table && /^[[:space:]]*\[/ { print $NF }
  table && /^$/ { table = 0 }' | sort -u)
for name in $imported; do
  echo "$exported" | grep -qx "$name" || fail "$name is imported but not exported by the stand-in"
  case $name in QLIB_*) ;; *) fail "$(basename "$exe") imports $name, which is not a QLIB_ function" ;; esac
done

for lib in $("$objdump" -p "$dll" | awk '/DLL Name:/ { print tolower($3) }'); do
  case $lib in
    kernel32.dll | msvcrt.dll | user32.dll | advapi32.dll) ;;
    *) fail "the stand-in imports $lib, which is no system DLL" ;;
  esac
done
echo "Tamri.exe imports $(echo "$imported" | wc -l) QLIB_ functions from the stand-in beside it"
