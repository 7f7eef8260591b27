#!/usr/bin/env bash
# Builds the native tool and runs its main job against a simulated device:
# a download of a generated firmware package, then an upload of the flash.
# Arguments go to nuvo-demo (--image-size BYTES, --no-upload, --scale N).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target nuvo-demo
build/release/sim/nuvo-demo "$@"
