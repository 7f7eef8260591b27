#!/bin/sh
# Runs a Windows program under wine in a project-local 32-bit prefix:
#   wine-run.sh PREFIX PROGRAM.exe ARGS...
# Used as the cross build's emulator (test discovery at build time, CTest at
# test time). Creates the prefix on first use.
set -eu
prefix=$1
shift
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

if [ ! -f "$prefix/.tamri-ready" ]; then
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    if [ ! -f "$prefix/.tamri-ready" ]; then
      wineboot -i </dev/null >/dev/null 2>&1
      # No display: the null graphics driver keeps wine from looking for X.
      wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
      wineserver -w
      touch "$prefix/.tamri-ready"
    fi
  ) 9>"$prefix.lock"
fi

# A wine server that outlives this run, and wine's service processes started
# with no inherited pipes: otherwise they hold the caller's output open and
# the caller (ninja, CTest) waits for them.
if ! wineserver -k0 2>/dev/null; then
  wineserver -p30 </dev/null >/dev/null 2>&1
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
fi
exec wine "$@"
