#!/usr/bin/env bash
# Builds and runs every test: the native suite (release, then under
# AddressSanitizer + UBSan and ThreadSanitizer), then the 32-bit Windows
# build's suite under wine (and its cases about names beyond ASCII once more
# with the ANSI code page 936), then the product end to end under wine (its
# window against the simulated device). Where this machine cannot start
# 32-bit wine, the runs under wine use the 64-bit Windows build. Exits non-zero
# on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --windows

run_native() {
  local preset=$1
  echo "=== native tests: $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
}

run_native release
run_native asan
run_native tsan

echo "=== response handlers under libFuzzer (clang, fixed run count) ==="
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTAMRI_SANITIZE=ON -DTAMRI_FUZZ=ON -DTAMRI_BENCH=OFF >/dev/null
cmake --build build/fuzz --target handler_fuzz
build/fuzz/tests/fuzz/handler_fuzz -runs=50000 -seed=1 -max_len=512

echo "=== Windows (32-bit, under wine) ==="
cmake --preset mingw >/dev/null
cmake --build --preset mingw
source tools/win32/wine-common.sh
windows_build=$(wine_configure_build .)
if [[ $windows_build != build/mingw ]]; then
  # The product itself cannot run here; what can be checked without running
  # it is: its imports and the stand-in beside it.
  sh tests/vendor/check_imports.sh i686-w64-mingw32-objdump build/mingw/app/Tamri.exe build/mingw/app/QMSL_MSVC6R.dll
  echo "=== Windows (64-bit, under wine: this machine runs no 32-bit x86 code) ==="
  cmake --build "$windows_build"
fi
tools/win32/wine-test.sh "$windows_build"
echo "=== Windows names beyond ASCII under wine with the ANSI code page 936 ==="
tools/win32/wine-codepage-test.sh "$windows_build"

echo "=== the product end to end under wine: the window against the simulated device ==="
tools/win32/wine-e2e.sh "$windows_build"
