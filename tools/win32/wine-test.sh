#!/bin/bash
# Runs the CTest suite of a mingw build under wine:
#   tools/win32/wine-test.sh build/mingw [extra ctest arguments]
# Needs wine (32-bit, or 64-bit for the 64-bit build), socat, and gcc for
# the pty shim (with gcc-multilib for the 32-bit build); without the shim
# the run fails rather than test less than it says.
#
# COM ports: for every n of POOL, a socat pair of linked pseudo-terminals,
# one end linked as COM<n> (the system's side) and the other as COM<n+100>
# (the test's peer) in the build's own wine prefix. The system's side
# starts unplugged (its link points at nothing) and the test kit plugs it
# in for a test port, so a number no test port holds is not found.
set -uo pipefail

build=$(cd "${1:?usage: wine-test.sh BUILD_DIR}" && pwd)
shift
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-common.sh"
arch=$(wine_build_arch "$build")
if [[ $arch == win32 ]] && ! wine_runs_win32; then
  echo "wine-test: this machine cannot start 32-bit wine (its kernel runs no 32-bit x86 code);" \
    "test the 64-bit build (cmake/mingw-x86_64.cmake) instead" >&2
  exit 1
fi
wine_env "$build/wineprefix" "$arch"
run_flag=()
[[ $arch == win64 ]] && run_flag=(--win64)
POOL=$(seq 2 29)
ptys="$build/wine-ptys"

# Cases that pin behaviour wine does not have (Windows has it), as CTest
# name patterns:
# - The scan purges a candidate's first answer before it asks again; wine
#   can deliver that first answer after the purge, so the case that pins
#   what one read holds where the type byte would stand sees the second
#   answer's first byte there.
exclude=(TypeBeyondTheBytesRead)

# The shim answers the modem-control ioctls for ptys; without it every
# WaitCommEvent ends at once.
if ! wine_ptyshim "$build/ptyshim"; then
  need=gcc
  [[ $arch == win32 ]] && need="a 32-bit gcc (gcc -m32, from gcc-multilib)"
  echo "wine-test: the pty shim cannot be built for $arch: it needs $need;" \
    "scripts/install-deps.sh --windows installs it" >&2
  exit 1
fi

trap wine_stop_all EXIT

"$here/wine-run.sh" "${run_flag[@]}" "$WINEPREFIX" cmd /c exit </dev/null >/dev/null 2>&1
wineserver -w
# shellcheck disable=SC2086 # the pool is a list of numbers
wine_com_pairs "$ptys" $POOL || echo "wine-test: not every COM pair came up" >&2

# A server that lives for the whole run.
wine_server_start

# One test at a time: the COM pool and the registry's serial-port map are
# shared by every test process of the prefix.
filter=()
if [ ${#exclude[@]} -gt 0 ]; then filter=(-E "$(IFS='|'; echo "${exclude[*]}")"); fi
ctest --test-dir "$build" -j1 --output-on-failure "${filter[@]}" "$@"
