#!/usr/bin/env bash
# Builds everything and runs every test (unit, integration, end to end).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
BUILD_DIR="${QUILLON_BUILD_DIR:-build}"
cd "$BUILD_DIR"
ctest --output-on-failure -j "$(nproc)" "$@"
