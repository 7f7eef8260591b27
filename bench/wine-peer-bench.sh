#!/bin/bash
# The engine's 32 MiB upload and download against the answering-only peer
# (peer_bench), natively and under wine side by side in one run: one native
# peer whose pseudo-terminal is both the device root's COM31 for the native
# build and the wine prefix's com31 for the Windows build; each round runs
# the two builds one after the other, every other round the other way round.
#   bench/wine-peer-bench.sh NATIVE_BUILD WINDOWS_BUILD [ROUNDS]
# WINDOWS_BUILD is a cross build with -DTAMRI_BENCH=ON; where 32-bit wine
# cannot start, the 64-bit one (cmake/mingw-x86_64.cmake).
set -uo pipefail

native=$(cd "${1:?usage: wine-peer-bench.sh NATIVE_BUILD WINDOWS_BUILD [ROUNDS]}" && pwd)
build=$(cd "${2:?usage: wine-peer-bench.sh NATIVE_BUILD WINDOWS_BUILD [ROUNDS]}" && pwd)
rounds=${3:-2}
here=$(cd "$(dirname "$0")" && pwd)
tools="$here/../tools/win32"
source "$tools/wine-common.sh"
wine_bench_prefix "$build" wineprefix-peer-bench wine-peer-bench

work=$(mktemp -d)
peer_pid=
cleanup() {
  [[ -n $peer_pid ]] && kill "$peer_pid" 2>/dev/null
  wineserver -k 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

"$tools/wine-run.sh" "${run_flag[@]}" "$prefix" cmd /c exit </dev/null >/dev/null 2>&1
wineserver -w
source "$here/peer-serve.sh"
peer_serve "$native/bench/peer_bench" "$work" || { echo "wine-peer-bench: the peer did not come up" >&2; exit 1; }
rm -f "$WINEPREFIX/dosdevices/com31"
ln -s "$tty" "$WINEPREFIX/dosdevices/com31"
wine_server_start

uptime
for ((round = 0; round < rounds; ++round)); do
  for direction in upload download; do
    if ((round % 2 == 0)); then order=(native wine); else order=(wine native); fi
    for side in "${order[@]}"; do
      if [[ $side == native ]]; then
        printf 'native '
        "$native/bench/peer_bench" engine "$direction" 31 "$root" || exit 1
      else
        printf 'wine   '
        "$WINE" "$build/bench/peer_bench.exe" engine "$direction" 31 </dev/null | tr -d '\r' || exit 1
      fi
    done
  done
done
uptime
