#!/usr/bin/env bash
# Builds the tool and runs it against a simulated device.
#
#   scripts/run.sh [--interactive] [--image-size BYTES] [--version TEXT] [--scale N]
#     Tamri.exe, the Windows program, under wine: its window on the display
#     (on an Xvfb of its own when there is none, with a screenshot of every
#     stage), the simulated Nuvo device found by itself, a download and an
#     upload driven through the window and checked byte for byte
#     (tools/win32/wine-e2e.sh). --interactive leaves the window to you.
#   scripts/run.sh --headless [--image-size BYTES] [--no-upload] [--scale N]
#     the same job natively, without the window (nuvo-demo).
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ ${1:-} == --headless ]]; then
  shift
  scripts/install-deps.sh
  cmake --preset release >/dev/null
  cmake --build --preset release --target nuvo-demo
  exec build/release/sim/nuvo-demo "$@"
fi

scripts/install-deps.sh --windows
source tools/win32/wine-common.sh
build=$(wine_configure_build .)
cmake --build "$build" --target Tamri nuvo-sim tamri-drive
exec tools/win32/wine-e2e.sh "$build" "$@"
