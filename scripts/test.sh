#!/usr/bin/env bash
# Runs every test suite; exits non-zero when any fails.
#   1. unit and integration tests (CTest) in the normal build
#   2. browser tests of the console
#   3. the same C++ suites under AddressSanitizer + UndefinedBehaviorSanitizer
#   4. the unit and integration tests under ThreadSanitizer (the integration
#      tests run the TSan-built kamora and stand-in SDK; KAMORA_TSAN_INTEGRATION=0
#      leaves them out)
#   5. a clang build of the fuzz targets, the program and the virtual camera
#      with -Wthread-safety as errors: a member touched without the lock its
#      GUARDED_BY names fails the run; then a short run of every libFuzzer
#      target (KAMORA_FUZZ_SECONDS each, 10 s)
#   6. a short load test on loopback (bench/load_test.sh)
# KAMORA_QUICK=1 stops after step 2. Each step prints its time. The extra
# build directories default to build-asan, build-tsan and build-fuzz
# (KAMORA_ASAN_BUILD, KAMORA_TSAN_BUILD, KAMORA_FUZZ_BUILD move them).
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
jobs=$(nproc 2>/dev/null || echo 2)
asan=${KAMORA_ASAN_BUILD:-build-asan}
tsan=${KAMORA_TSAN_BUILD:-build-tsan}
fuzzb=${KAMORA_FUZZ_BUILD:-build-fuzz}
status=0
started=$SECONDS

# Each step's name and length, printed again at the end: CI shows only the
# tail of the output, and the time budget is spent by steps.
steps=()
lastStep=""
lastStart=$SECONDS
step() {
  [[ -n $lastStep ]] && steps+=("$(printf '%5d s  %s' $((SECONDS - lastStart)) "$lastStep")")
  lastStep=$1
  lastStart=$SECONDS
  echo "== $1 ($((SECONDS - started)) s in)"
}
summary() {
  step "done"
  # make sets KAMORA_MAKE_STARTED before installing and building.
  if [[ -n ${KAMORA_MAKE_STARTED:-} ]]; then
    printf '%5d s  %s\n' $(($(date +%s) - SECONDS + started - KAMORA_MAKE_STARTED)) \
      "dependencies and the normal build (make)"
  fi
  printf '%s\n' "${steps[@]}"
  if ((${#failures[@]})); then
    printf '!! failed: %s\n' "${failures[@]}"
  fi
}
# What failed, repeated in the summary; for CTest steps, the tests' names too.
failures=()
fail() {  # what, [build directory whose CTest run failed]
  echo "!! $1"
  local named=""
  if [[ -n ${2:-} && -f $2/Testing/Temporary/LastTestsFailed.log ]]; then
    named=" ($(cut -d: -f2 "$2/Testing/Temporary/LastTestsFailed.log" | tr '\n' ' ' | sed 's/ $//'))"
  fi
  failures+=("$1$named")
  status=1
}

step "unit and integration tests ($build)"
ctest --test-dir "$build" -j "$jobs" --output-on-failure || fail "tests ($build)" "$build"

# Browser tests of the console (headless Chromium), when present.
if [[ -x tests/web/run.sh ]]; then
  step "browser tests"
  webLog=$(mktemp)
  tests/web/run.sh "$build" 2>&1 | tee "$webLog"
  if ((PIPESTATUS[0])); then
    fail "browser tests ($(grep -E '^ *not ok' "$webLog" | grep -v '# TODO' |
      sed -E 's/^ *not ok [0-9]+ - //' | head -5 | tr '\n' ';' | sed 's/;$//'))"
  fi
  rm -f "$webLog"
fi

if [[ ${KAMORA_QUICK:-0} == 1 ]]; then
  summary
  exit $status
fi

# Sanitizer runs fail on the first report. halt_on_error and the compiled-in
# -fno-sanitize-recover make every report fatal; exitcode keeps the failure
# visible even where a test's own code would exit 0.
supp=$PWD/sanitizers
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=0:exitcode=86:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:exitcode=87"
export LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0"
export TSAN_OPTIONS="halt_on_error=1:exitcode=88:second_deadlock_stack=1:suppressions=$supp/tsan.supp:print_suppressions=0"

# The extra builds are for checking, not for speed: lighter optimisation and
# line tables only halve their compile time on two cores, and sanitizer
# reports still name file and line.
light=(-DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG")

configure() {  # dir, extra cmake arguments...
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null && cmake --build "$dir" -j "$jobs"
}

step "AddressSanitizer + UndefinedBehaviorSanitizer build ($asan)"
if configure "$asan" -DKAMORA_SANITIZE=address -DKAMORA_BENCH=OFF "${light[@]}"; then
  # LeakSanitizer cannot run under a tracer (some CI sandboxes): probe it
  # once and say so instead of failing every test.
  probe=$(ASAN_OPTIONS="$ASAN_OPTIONS:exitcode=0" "$asan/tests/kamora_unit_tests" \
    --gtest_list_tests 2>&1 >/dev/null)
  if grep -q "LeakSanitizer has encountered a fatal error" <<<"$probe"; then
    echo "   LeakSanitizer cannot run here (traced process): leak checks off"
    export ASAN_OPTIONS="${ASAN_OPTIONS/detect_leaks=1/detect_leaks=0}"
  fi
  step "unit and integration tests under ASan+UBSan"
  ctest --test-dir "$asan" -j "$jobs" --output-on-failure || fail "tests under ASan+UBSan" "$asan"
else
  fail "ASan build"
fi

step "ThreadSanitizer build ($tsan)"
if configure "$tsan" -DKAMORA_SANITIZE=thread -DKAMORA_BENCH=OFF "${light[@]}"; then
  step "unit tests under TSan"
  ctest --test-dir "$tsan" -j "$jobs" -L unit --output-on-failure || fail "unit tests under TSan" "$tsan"
  if [[ ${KAMORA_TSAN_INTEGRATION:-1} == 1 ]]; then
    step "integration tests under TSan"
    ctest --test-dir "$tsan" -j "$jobs" -L integration --output-on-failure ||
      fail "integration tests under TSan" "$tsan"
  fi
else
  fail "TSan build"
fi

# One clang build serves the fuzz targets and the thread-safety analysis: the
# program and the virtual camera are built beside the targets so every lock
# annotation is checked, and clang compiles the libraries once for both.
step "fuzz targets and thread-safety analysis ($fuzzb, clang)"
if CC=clang CXX=clang++ cmake -S . -B "$fuzzb" -G Ninja -DKAMORA_FUZZ=ON -DKAMORA_THREAD_SAFETY=ON \
  -DKAMORA_SANITIZE=address -DKAMORA_TESTS=OFF "${light[@]}" >/dev/null &&
  cmake --build "$fuzzb" -j "$jobs" --target fuzz_all kamora kamora-vcam; then
  fuzz/run.sh "$fuzzb" "${KAMORA_FUZZ_SECONDS:-10}" || fail "fuzzing"
else
  fail "clang build (fuzz targets, -Wthread-safety)"
fi

if [[ -x bench/load_test.sh ]]; then
  step "load test (short)"
  bench/load_test.sh "$build" "${KAMORA_LOAD_SECONDS:-10}" || fail "load test"
fi

summary
exit $status
