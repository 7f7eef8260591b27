#!/usr/bin/env bash
# Installs what the build needs on Debian 12 (as root, or through sudo;
# without either it prints the commands to run as root and fails);
# clang and its runtime libraries serve the fuzz target.
# With --windows also the mingw-w64 cross compilers and wine for the
# 32-bit Windows build and its tests (and the 64-bit ones for machines that
# run no 32-bit x86 code), Xvfb and the screenshot tools of the end-to-end
# run (xwd, netpbm), and the locale sources from which the code page 936
# run under wine builds its zh_CN.UTF-8 (locales).
set -euo pipefail

packages=(cmake ninja-build g++ libgtest-dev libgmock-dev googletest libbenchmark-dev clang libclang-rt-14-dev)
windows=0
[[ "${1:-}" == "--windows" ]] && windows=1
if ((windows)); then
  packages+=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine32:i386 wine64 socat xvfb gcc-multilib
             x11-apps netpbm locales)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
((${#missing[@]})) || exit 0

add_i386=0
((windows)) && ! dpkg --print-foreign-architectures | grep -qx i386 && add_i386=1

sudo=""
if [[ $(id -u) -ne 0 ]]; then
  if ! command -v sudo >/dev/null 2>&1; then
    # Nothing here can install packages: say what root has to run.
    {
      echo "install-deps: not root and no sudo; as root, run:"
      ((add_i386)) && echo "  dpkg --add-architecture i386"
      echo "  apt-get update"
      echo "  apt-get install -y --no-install-recommends ${missing[*]}"
    } >&2
    exit 1
  fi
  sudo=sudo
fi
export DEBIAN_FRONTEND=noninteractive
((add_i386)) && $sudo dpkg --add-architecture i386
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
