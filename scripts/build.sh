#!/usr/bin/env bash
# Installs what is missing, configures and builds into ./build (or $QUILLON_BUILD_DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
BUILD_DIR="${QUILLON_BUILD_DIR:-build}"
if [[ ! -f "$BUILD_DIR/build.ninja" ]]; then
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE="${QUILLON_BUILD_TYPE:-RelWithDebInfo}" \
    -DQUILLON_WERROR=ON >/dev/null
fi
cmake --build "$BUILD_DIR" -j "$(nproc)"
