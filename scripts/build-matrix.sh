#!/usr/bin/env bash
# Builds everything (programs, library, tests, benchmarks) with warnings as
# errors for each compiler and build type a packager may pick: gcc and clang,
# each in Debug, RelWithDebInfo and Release. The six builds run one after the
# other, each in a folder of its own under $QUILLON_MATRIX_DIR (default
# /tmp/quillon-matrix) that is removed once it built; a failed build keeps its
# folder and its log. Not part of scripts/test.sh, whose time it would double.
#   QUILLON_MATRIX_JOBS  parallel compile jobs (default 2)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
ROOT="${QUILLON_MATRIX_DIR:-/tmp/quillon-matrix}"
mkdir -p "$ROOT"

passed=0
failed=()
for compiler in gcc:g++ clang:clang++; do
  for type in Debug RelWithDebInfo Release; do
    name="${compiler%%:*}-$type"
    dir="$ROOT/$name"
    start=$SECONDS
    if CC="${compiler%%:*}" CXX="${compiler##*:}" cmake -S . -B "$dir" -G Ninja \
         -DCMAKE_BUILD_TYPE="$type" -DQUILLON_WERROR=ON -DQUILLON_TESTS=ON >"$dir.log" 2>&1 &&
       cmake --build "$dir" -j "${QUILLON_MATRIX_JOBS:-2}" >>"$dir.log" 2>&1; then
      echo "build-matrix: $name built in $((SECONDS - start)) s"
      rm -rf "$dir" "$dir.log"
      passed=$((passed + 1))
    else
      echo "build-matrix: $name FAILED; log $dir.log:"
      tail -n 40 "$dir.log"
      failed+=("$name")
    fi
  done
done
echo "build-matrix: $passed passed, ${#failed[@]} failed"
((${#failed[@]} == 0))
