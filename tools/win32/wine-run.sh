#!/usr/bin/env bash
# Runs a Windows program under wine in a project-local prefix:
#   wine-run.sh [--win64] PREFIX PROGRAM.exe ARGS...
# (--win64 for the 64-bit build's programs, else a 32-bit prefix). Used as
# the cross build's emulator (test discovery at build time, CTest at test
# time). Creates the prefix on first use.
set -eu
arch=win32
if [[ ${1:-} == --win64 ]]; then
  arch=win64
  shift
fi
prefix=$1
shift
source "$(dirname "$0")/wine-common.sh"
wine_env "$prefix" "$arch"

# No display: the null graphics driver keeps wine from looking for X.
null_graphics() { wine_reg_add 'HKCU\Software\Wine\Drivers' Graphics null; }
wine_make_prefix null_graphics

# A wine server that outlives this run, and wine's service processes
# started with no inherited pipes: otherwise they hold the caller's output
# open and the caller (ninja, CTest) waits for them.
if ! wineserver -k0 2>/dev/null; then
  wineserver -p30 </dev/null >/dev/null 2>&1
  "$WINE" cmd /c exit </dev/null >/dev/null 2>&1 || true
fi
exec "$WINE" "$@"
