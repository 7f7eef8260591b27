#!/bin/bash
# Runs the Windows build of app_transfer_bench under wine, the way the
# Windows suite runs (tools/win32/wine-common.sh): a prefix of the build's
# own, the null graphics driver, the pty shim, and socat pairs for the
# simulated device's ports (COM21 and its AT ports; the device's side is
# COM<n+100>).
#   bench/wine-app-bench.sh BUILD_DIR [app_transfer_bench arguments]
# BUILD_DIR is a cross build with -DTAMRI_BENCH=ON; where 32-bit wine cannot
# start, the 64-bit one (cmake/mingw-x86_64.cmake).
set -uo pipefail

build=$(cd "${1:?usage: wine-app-bench.sh BUILD_DIR [ARGS]}" && pwd)
shift
here=$(cd "$(dirname "$0")" && pwd)
tools="$here/../tools/win32"
source "$tools/wine-common.sh"
wine_bench_prefix "$build" wineprefix-bench wine-app-bench

cleanup() {
  wine_stop_pairs
  wineserver -k 2>/dev/null
}
trap cleanup EXIT

"$tools/wine-run.sh" "${run_flag[@]}" "$prefix" cmd /c exit </dev/null >/dev/null 2>&1
wineserver -w
wine_com_pairs "$build/wine-ptys-bench" 21 22 23 24 || { echo "wine-app-bench: the COM pairs did not come up" >&2; exit 1; }
wine_server_start
# The program imports the vendor library's stand-in, built beside Tamri.exe.
export WINEPATH="$build/app"
"$WINE" "$build/bench/app_transfer_bench.exe" "$@"
