#!/bin/bash
# Runs the CTest suite of a mingw build under wine:
#   tools/win32/wine-test.sh build/mingw [extra ctest arguments]
# Needs wine (32-bit), socat, and gcc-multilib for the pty shim.
#
# COM ports: for every n of POOL, a socat pair of linked pseudo-terminals,
# one end linked as COM<n> (the system's side) and the other as COM<n+100>
# (the test's peer) in the build's own wine prefix.
set -uo pipefail

build=$(cd "${1:?usage: wine-test.sh BUILD_DIR}" && pwd)
shift
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX="$build/wineprefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
POOL=$(seq 2 29)
ptys="$build/wine-ptys"

# Cases that pin behaviour wine does not have (Windows has it), as CTest
# name patterns:
# - WaitCommEvent needs the pty shim (every wait ends at once without it).
# - Wine falls back to /dev/ttyS<n-1> for a COM number without a device
#   link of ours, so a port that "does not exist" still opens there; and
#   wine 8 cannot take a COM link of the prefix away (renaming it renames
#   its target), so an unlinked port still opens too.
# - Wine opens a COM port a second time although the first open shares
#   nothing, so a held port does not refuse the next open.
exclude=(MissingComIsNotFound UnregisteredPortIsNotFound AMissingPortFailsToOpen
         UnlinkedPortCannotBeOpenedByNumber ConnectOpensClosesAndReopens)

# The shim answers the modem-control ioctls for ptys. It is preloaded in both
# word sizes ($LIB picks one) so that 64-bit helpers do not complain.
shim="$build/ptyshim"
if gcc -m32 -shared -fPIC -O2 -Wall -Wextra -Werror -o /dev/null "$here/ptyshim.c" -ldl 2>/dev/null; then
  mkdir -p "$shim/lib/i386-linux-gnu" "$shim/lib/x86_64-linux-gnu"
  gcc -m32 -shared -fPIC -O2 -o "$shim/lib/i386-linux-gnu/ptyshim.so" "$here/ptyshim.c" -ldl
  gcc -shared -fPIC -O2 -o "$shim/lib/x86_64-linux-gnu/ptyshim.so" "$here/ptyshim.c" -ldl
  export LD_PRELOAD="$shim/\$LIB/ptyshim.so"
else
  echo "wine-test: no gcc -m32 (gcc-multilib): WaitCommEvent cases skipped" >&2
  exclude+=(WaitCommEvent)
fi

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wineserver -k 2>/dev/null
}
trap cleanup EXIT

"$here/wine-run.sh" "$WINEPREFIX" cmd /c exit </dev/null >/dev/null 2>&1
wineserver -w
rm -rf "$ptys"
mkdir -p "$ptys"
for n in $POOL; do
  socat pty,rawer,link="$ptys/com$n" pty,rawer,link="$ptys/com$((n + 100))" </dev/null 2>/dev/null &
  pids+=($!)
done
for n in $POOL; do
  for _ in $(seq 100); do [ -e "$ptys/com$n" ] && [ -e "$ptys/com$((n + 100))" ] && break; sleep 0.05; done
  for c in $n $((n + 100)); do
    rm -f "$WINEPREFIX/dosdevices/com$c" "$WINEPREFIX/dosdevices/com$c.off"
    ln -s "$ptys/com$c" "$WINEPREFIX/dosdevices/com$c"
  done
done

# A server that lives for the whole run, and wine's service processes
# started without CTest's pipes (else CTest waits for them forever).
wineserver -p </dev/null >/dev/null 2>&1
wine cmd /c exit </dev/null >/dev/null 2>&1

# One test at a time: the COM pool and the registry's serial-port map are
# shared by every test process of the prefix.
filter=()
if [ ${#exclude[@]} -gt 0 ]; then filter=(-E "$(IFS='|'; echo "${exclude[*]}")"); fi
ctest --test-dir "$build" -j1 --output-on-failure "${filter[@]}" "$@"
