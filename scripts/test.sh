#!/usr/bin/env bash
# Builds everything and runs every test (unit, integration, end to end), then
# the hardening runs: the suite under sanitizers (scripts/sanitize.sh) and the
# fuzz targets (scripts/fuzz.sh). QUILLON_TEST_QUICK=1 stops after the normal
# build and tests; under CI (CI=true) everything always runs.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
BUILD_DIR="${QUILLON_BUILD_DIR:-build}"
(cd "$BUILD_DIR" && ctest --output-on-failure -j "$(nproc)" "$@")

if [[ "${QUILLON_TEST_QUICK:-0}" == "1" && "${CI:-}" != "true" ]]; then
  exit 0
fi

# Each stage runs even when an earlier one failed, so one run shows every finding.
failed=()
bash scripts/sanitize.sh asan || failed+=(asan)
bash scripts/sanitize.sh tsan || failed+=(tsan)
bash scripts/fuzz.sh || failed+=(fuzz)
if ((${#failed[@]} > 0)); then
  echo "test: failed stages: ${failed[*]}"
  exit 1
fi
echo "test: normal, sanitizer and fuzz stages passed"
