#!/usr/bin/env bash
# Builds the native tool and runs its demo against a simulated device.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target plat_demo
build/release/sim/plat_demo "$@"
