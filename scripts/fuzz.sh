#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer, UndefinedBehavior-
# Sanitizer and leak checks on) into ./build-fuzz and runs each for a bounded
# time from its seed corpus in fuzz/corpus/NAME, two at a time.
#   QUILLON_FUZZ_SECONDS  time per target (default 60)
#   QUILLON_FUZZ_TARGETS  space-separated subset of: codec link_frame hex_text channel_dispatch
# Any crash, leak, undefined behaviour, time-out or broken invariant fails the
# run; the input that caused it is kept as build-fuzz/artifacts/NAME-*.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT="$PWD"
BUILD_DIR="${QUILLON_FUZZ_BUILD_DIR:-build-fuzz}"
SECONDS_PER_TARGET="${QUILLON_FUZZ_SECONDS:-60}"
read -r -a TARGETS <<<"${QUILLON_FUZZ_TARGETS:-codec link_frame hex_text channel_dispatch}"

if [[ ! -f "$BUILD_DIR/build.ninja" ]]; then
  CC=clang CXX=clang++ cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE= \
    -DQUILLON_FUZZ=ON -DQUILLON_SANITIZE=address,undefined -DQUILLON_WERROR=ON \
    -DCMAKE_C_FLAGS="-O1 -g1 -fno-sanitize-recover=undefined" \
    -DCMAKE_CXX_FLAGS="-O1 -g1 -fno-sanitize-recover=undefined" >/dev/null
fi
cmake --build "$BUILD_DIR" --target fuzz_all -j 2

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$ROOT/tests/sanitizers/lsan.supp:print_suppressions=0"

mkdir -p "$BUILD_DIR/artifacts" "$BUILD_DIR/fuzz-logs"
run_target() {
  local name="$1"
  # New inputs go to a scratch corpus so the checked-in seeds stay small.
  local work="$BUILD_DIR/corpus/$name"
  mkdir -p "$work"
  "$BUILD_DIR/fuzz/fuzz_$name" "$work" "fuzz/corpus/$name" \
    -max_total_time="$SECONDS_PER_TARGET" -timeout=30 -rss_limit_mb=2048 -max_len=4096 \
    -print_final_stats=1 -artifact_prefix="$BUILD_DIR/artifacts/$name-" \
    >"$BUILD_DIR/fuzz-logs/$name.log" 2>&1
}

failed=()
report() {
  local name="$1" status="$2"
  local runs
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$BUILD_DIR/fuzz-logs/$name.log" | grep -o '[0-9]*$' || true)
  if [[ "$status" -eq 0 ]]; then
    echo "fuzz: $name passed (${runs:-?} runs in ${SECONDS_PER_TARGET} s)"
  else
    echo "fuzz: $name FAILED (exit $status); log $BUILD_DIR/fuzz-logs/$name.log:"
    tail -n 60 "$BUILD_DIR/fuzz-logs/$name.log"
    failed+=("$name")
  fi
}

# Two targets at a time, one per core.
for ((i = 0; i < ${#TARGETS[@]}; i += 2)); do
  pids=()
  names=()
  for name in "${TARGETS[@]:i:2}"; do
    run_target "$name" &
    pids+=($!)
    names+=("$name")
  done
  for j in "${!pids[@]}"; do
    status=0
    wait "${pids[$j]}" || status=$?
    report "${names[$j]}" "$status"
  done
done

if ((${#failed[@]} > 0)); then
  echo "fuzz: failures in ${failed[*]}"
  exit 1
fi
echo "fuzz: ${#TARGETS[@]} passed, 0 failed"
