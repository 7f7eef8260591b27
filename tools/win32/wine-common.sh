# shellcheck shell=bash
# What the wine runners share (wine-run.sh, wine-test.sh, wine-e2e.sh, and
# the scripts that pick a Windows build): sourced, not run. Bash.
#
# Two kinds of prefix: win32 for the product's 32-bit build, win64 for the
# 64-bit build (cmake/mingw-x86_64.cmake) on machines whose kernel runs no
# 32-bit x86 code, where the 32-bit wine loader cannot start at all.

wine_common_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# Whether this machine can start 32-bit wine.
wine_runs_win32() {
  [[ -x /usr/lib/wine/wine ]] && /usr/lib/wine/wine --version >/dev/null 2>&1
}

# The prefix kind a build's programs need: win64 for the 64-bit cross build.
wine_build_arch() {
  if grep -q 'x86_64-w64-mingw32' "$1/CMakeCache.txt" 2>/dev/null; then
    echo win64
  else
    echo win32
  fi
}

# Configures the Windows build that this machine can run under wine: the
# preset build/mingw, or where 32-bit wine cannot start, the 64-bit build
# build/mingw64. Prints its folder (relative to the source folder).
wine_configure_build() {
  local source=$1
  if wine_runs_win32; then
    (cd "$source" && cmake --preset mingw >/dev/null) || return 1
    echo build/mingw
  else
    echo "This machine cannot start 32-bit wine (its kernel runs no 32-bit x86 code):" \
      "the Windows programs run from the 64-bit build build/mingw64." >&2
    cmake -S "$source" -B "$source/build/mingw64" -G Ninja --toolchain "$source/cmake/mingw-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DTAMRI_BENCH=OFF >/dev/null || return 1
    echo build/mingw64
  fi
}

# wine_env PREFIX ARCH: the quiet environment for a prefix of ARCH; WINE is
# the loader that runs the prefix's programs.
wine_env() {
  export WINEPREFIX="$1" WINEARCH="$2" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [[ $2 == win64 ]]; then
    WINE=$(command -v wine64 || echo /usr/lib/wine/wine64)
    export WINELOADER=$WINE
  else
    WINE=wine
  fi
}

# wine_make_prefix [SETUP]: creates $WINEPREFIX on first use, one creator at
# a time, and runs the command SETUP in it once (settings such as the
# graphics driver).
wine_make_prefix() {
  local setup=${1:-true}
  [[ -f "$WINEPREFIX/.tamri-ready" ]] && return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [[ ! -f "$WINEPREFIX/.tamri-ready" ]]; then
      "$WINE" wineboot -i </dev/null >/dev/null 2>&1
      "$setup"
      wineserver -w
      touch "$WINEPREFIX/.tamri-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
}

# wine_reg_add KEY VALUE DATA: one string value in the prefix's registry.
wine_reg_add() {
  "$WINE" reg add "$1" /v "$2" /d "$3" /f </dev/null >/dev/null 2>&1
}

# wine_ptyshim DIR: builds the pty shim (ptyshim.c) into DIR and preloads it
# into everything started from here on. Built in both word sizes where it
# can be ($LIB picks one), so that helpers of the other size do not
# complain. False when the size that $WINEARCH runs cannot be built.
wine_ptyshim() {
  local dir=$1 built32=0
  mkdir -p "$dir/lib/i386-linux-gnu" "$dir/lib/x86_64-linux-gnu"
  gcc -m32 -shared -fPIC -O2 -Wall -Wextra -Werror -o "$dir/lib/i386-linux-gnu/ptyshim.so" \
    "$wine_common_dir/ptyshim.c" -ldl 2>/dev/null && built32=1
  gcc -shared -fPIC -O2 -Wall -Wextra -Werror -o "$dir/lib/x86_64-linux-gnu/ptyshim.so" \
    "$wine_common_dir/ptyshim.c" -ldl 2>/dev/null || return 1
  [[ $WINEARCH == win64 ]] || ((built32)) || return 1
  export LD_PRELOAD="$dir/\$LIB/ptyshim.so"
}

# wine_com_pairs DIR N...: for every N a socat pair of linked
# pseudo-terminals, one end linked as COM<N> (the system's side) and the
# other as COM<N+100> (the device's) in $WINEPREFIX's dosdevices; the pty
# links live in DIR. The socat processes go into WINE_PAIR_PIDS
# (wine_stop_pairs ends them). False when a pair does not come up.
#
# The system's side starts unplugged, as a port of a fresh device root
# does: dosdevices/com<N> leads through the folder
# $WINEPREFIX/com-switch/port<N> (not com<N>: that names the device on
# every path), which stands renamed to port<N>.off, so the
# link points at nothing and COM<N> is not found. The test kit's device end
# (platform/win32/device_port.cpp) plugs it in and out by renaming that
# folder, which a program under wine can do (wine renames what a link
# points to, never the link itself, and fails for a terminal).
WINE_PAIR_PIDS=()
wine_com_pairs() {
  local dir=$1 n c
  local switch=$WINEPREFIX/com-switch
  shift
  rm -rf "$dir" "$switch"
  mkdir -p "$dir" "$switch"
  for n in "$@"; do
    socat pty,rawer,link="$dir/com$n" pty,rawer,link="$dir/com$((n + 100))" </dev/null 2>/dev/null &
    WINE_PAIR_PIDS+=($!)
  done
  for n in "$@"; do
    for _ in $(seq 100); do [[ -e "$dir/com$n" && -e "$dir/com$((n + 100))" ]] && break; sleep 0.05; done
    [[ -e "$dir/com$n" && -e "$dir/com$((n + 100))" ]] || return 1
    for c in $n $((n + 100)); do rm -f "$WINEPREFIX/dosdevices/com$c" "$WINEPREFIX/dosdevices/com$c.off"; done
    mkdir "$switch/port$n.off"
    ln -s "$dir/com$n" "$switch/port$n.off/tty"
    ln -s "$switch/port$n/tty" "$WINEPREFIX/dosdevices/com$n"
    ln -s "$dir/com$((n + 100))" "$WINEPREFIX/dosdevices/com$((n + 100))"
  done
}

wine_stop_pairs() {
  local pid
  for pid in "${WINE_PAIR_PIDS[@]}"; do kill "$pid" 2>/dev/null; done
  WINE_PAIR_PIDS=()
}

# wine_stop_all: ends the COM pairs and the prefix's server with every
# program still running under it.
wine_stop_all() {
  wine_stop_pairs
  wineserver -k 2>/dev/null
}

# wine_server_start: a wine server that lives until wineserver -k, and
# wine's service processes started without the caller's pipes (else a
# caller that reads our output, CTest say, waits for them forever).
wine_server_start() {
  wineserver -p </dev/null >/dev/null 2>&1
  "$WINE" cmd /c exit </dev/null >/dev/null 2>&1
}

# wine_bench_prefix BUILD NAME TOOL: a prefix BUILD/NAME of the build's word
# size with the pty shim preloaded, for the benchmark scripts; sets `arch`,
# `prefix` and `run_flag` (the wine-run.sh flag of that word size).
wine_bench_prefix() {
  arch=$(wine_build_arch "$1")
  run_flag=()
  [[ $arch == win64 ]] && run_flag=(--win64)
  prefix="$1/$2"
  wine_env "$prefix" "$arch"
  wine_ptyshim "$1/ptyshim" || echo "$3: no pty shim: WaitCommEvent ends at once" >&2
}
