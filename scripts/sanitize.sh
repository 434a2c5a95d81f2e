#!/usr/bin/env bash
# Sanitizer runs of the test suite:
#   asan  the whole suite built with AddressSanitizer and UndefinedBehavior-
#         Sanitizer (leak checks on) in ./build-asan
#   tsan  the threaded tests built with ThreadSanitizer in ./build-tsan
# With no argument both run. Any report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT="$PWD"
SUPP="$ROOT/tests/sanitizers"
# Sanitizer builds trade optimisation for build time; line tables are enough
# for the reports' stacks. gcc 12 with sanitizers reports false
# maybe-uninitialized warnings inside libstdc++'s <regex>; warnings stay errors
# in the normal build, which keeps that check.
FLAGS="-O1 -g1 -Wno-maybe-uninitialized"

configure() {
  local dir="$1" sanitizer="$2" extra="$3"
  if [[ ! -f "$dir/build.ninja" ]]; then
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE= -DQUILLON_SANITIZE="$sanitizer" -DQUILLON_WERROR=ON \
      -DCMAKE_C_FLAGS="$FLAGS $extra" -DCMAKE_CXX_FLAGS="$FLAGS $extra" >/dev/null
  fi
}

# Reports go to files as well as failing the process, so a report from a
# process whose exit status a test harness does not look at (a host started by
# an integration test, a helper killed at the end) still fails the run.
prepare_reports() {
  REPORTS="$ROOT/$1/sanitizer-reports"
  rm -rf "$REPORTS"
  mkdir -p "$REPORTS"
}

check_reports() {
  if compgen -G "$REPORTS/*" >/dev/null; then
    echo "sanitize: reports in $REPORTS:"
    cat "$REPORTS"/*
    return 1
  fi
}

PRELOADED_TESTS='^integration\.test_(ffi|faults_io)$'

run_asan() {
  local dir="${QUILLON_ASAN_BUILD_DIR:-build-asan}"
  configure "$dir" address,undefined "-fno-sanitize-recover=undefined" || return 1
  cmake --build "$dir" -j 2 || return 1
  prepare_reports "$dir"
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1:log_path=$REPORTS/asan"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:suppressions=$SUPP/ubsan.supp:log_path=$REPORTS/ubsan"
  export LSAN_OPTIONS="suppressions=$SUPP/lsan.supp:print_suppressions=0"
  echo "sanitize: AddressSanitizer + UndefinedBehaviorSanitizer, whole suite"
  # The C-surface tests load the library into an uninstrumented Python, so they
  # run on their own with the sanitizer runtimes preloaded and without leak
  # checks (they would report the interpreter's own allocations).
  local status=0
  (cd "$dir" && ctest --output-on-failure -j 2 -E "$PRELOADED_TESTS") || status=1
  local runtimes
  runtimes="$(gcc -print-file-name=libasan.so):$(gcc -print-file-name=libubsan.so)"
  (cd "$dir" && LD_PRELOAD="$runtimes" ASAN_OPTIONS="$ASAN_OPTIONS:detect_leaks=0" \
    ctest --output-on-failure -R "$PRELOADED_TESTS") || status=1
  check_reports || status=1
  return "$status"
}

# The threaded parts: the logger, the recording's worker and its queues, the
# mixer fed from two threads, the port
# watcher starting and stopping, engine link sends from several threads, the
# captures and their output observer, the host recording end to end against a
# real PulseAudio daemon, the facade starting both captures in parallel and the
# audio channel taking their buffers to the main thread.
TSAN_TESTS='^(logging\.|recording\.(RecordingWorker|PeriodQueue)\.|recording\.AudioMixer\.|recording\.AudioFactory\.TwoFeedingThreads|usb\.Watcher\.|engine\.EngineLink\.|engine\.EngineLinkTest\.OneEngineAtATime|capture\.|facade\.|app\.AudioChannel\.|integration\.test_recording$)'
TSAN_TARGETS=(test_logging test_recording test_usb test_engine test_capture test_facade test_app
              quillon-host quillon-engine)

run_tsan() {
  local dir="${QUILLON_TSAN_BUILD_DIR:-build-tsan}"
  configure "$dir" thread "" || return 1
  cmake --build "$dir" -j 2 --target "${TSAN_TARGETS[@]}" || return 1
  prepare_reports "$dir"
  export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$SUPP/tsan.supp:log_path=$REPORTS/tsan"
  echo "sanitize: ThreadSanitizer, threaded tests"
  local status=0
  (cd "$dir" && ctest --output-on-failure -j 2 -R "$TSAN_TESTS") || status=1
  check_reports || status=1
  return "$status"
}

case "${1:-all}" in
  asan) run_asan ;;
  tsan) run_tsan ;;
  all) status=0; run_asan || status=1; run_tsan || status=1; exit "$status" ;;
  *) echo "usage: $0 [asan|tsan|all]" >&2; exit 2 ;;
esac
