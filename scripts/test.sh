#!/usr/bin/env bash
# Builds and runs every test: an optimised build (with the host test under
# valgrind's memcheck, the install-and-link consumer test, the crash, fork and
# memory-scan hosts, and the constant-time checks under memcheck), a build with
# AddressSanitizer and UndefinedBehaviorSanitizer that halts on the first error,
# and a ThreadSanitizer build of the library that runs the host tests, 32 threads
# among them. The corpus of every fuzz target is replayed as a test in each
# build, and every target is fuzzed for 10 seconds. Installs missing Debian
# packages first.
#
# Quiet: one line per stage with its time; the output of a build, a test or the
# fuzzer is shown only when it fails (the whole of it stays in build-logs/). The
# last two lines are the fuzzing result and the total over every CTest run,
# "N passed, M failed, K skipped", where a skipped test is not counted as passed.
# Exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh || exit 1
jobs=$(nproc)
logs=build-logs
rm -rf "$logs"
mkdir -p "$logs"
passed=0
failed=0
skipped=0
broken=0  # a stage that failed outside CTest: a build, or the fuzzer

# The failing tests of a CTest log: each failed test's line and its output, then
# CTest's list of failures.
show_failures() {
  awk '/^ *[0-9]+\/[0-9]+ Test +#/ { show = ($0 !~ / Passed |\*\*\*Skipped /) }
       /^ *Start +[0-9]+:/ || /tests passed, / { show = 0 }
       /^The following tests FAILED:/ { show = 1 }
       show' "$1"
}

# run_build DIR TEST-REGEX CMAKE-OPTION...
run_build() {
  local dir=$1 tests=$2 start=$SECONDS; shift 2
  local log=$logs/$dir
  if ! cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@" >"$log.build.log" 2>&1 ||
     ! cmake --build "$dir" -j "$jobs" >>"$log.build.log" 2>&1; then
    echo "build $dir: FAILED after $((SECONDS - start)) s ($log.build.log)"
    grep -E -A4 'error|Error|undefined reference' "$log.build.log" | head -60
    broken=1
    return
  fi
  echo "build $dir: done in $((SECONDS - start)) s"

  start=$SECONDS
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" -R "$tests" >"$log.test.log" 2>&1
  # CTest's summary, "P% tests passed, F tests failed out of T", counts a test
  # that skipped itself among the passed ones; its list of the tests that did
  # not run names those "(Skipped)", and those switched off "(Disabled)" (which
  # T leaves out).
  local total fails skips disabled
  read -r fails total < <(sed -nE 's/.* tests passed, ([0-9]+) tests? failed out of ([0-9]+)$/\1 \2/p' \
                          "$log.test.log")
  if [[ -z ${total:-} ]]; then
    echo "test $dir: no CTest summary ($log.test.log)"
    tail -20 "$log.test.log"
    broken=1
    return
  fi
  skips=$(grep -cE '^[[:space:]]+[0-9]+ - .+ \(Skipped\)$' "$log.test.log")
  disabled=$(grep -cE '^[[:space:]]+[0-9]+ - .+ \(Disabled\)$' "$log.test.log")
  local passes=$((total - fails - skips))
  skips=$((skips + disabled))
  passed=$((passed + passes))
  failed=$((failed + fails))
  skipped=$((skipped + skips))
  echo "test $dir: $passes passed, $fails failed, $skips skipped in $((SECONDS - start)) s"
  ((fails == 0)) || show_failures "$log.test.log"
}

# Every fuzz target briefly (clang, libFuzzer), so that a new crash shows on the
# next change; scripts/fuzz.sh SECONDS fuzzes longer.
run_fuzz() {
  local start=$SECONDS seconds=10
  if bash scripts/fuzz.sh "$seconds" >"$logs/fuzz.log" 2>&1; then
    local targets
    targets=$(grep -c '^fuzz [a-z_0-9]*: #' "$logs/fuzz.log")
    fuzz_result="fuzzing: $targets targets for $seconds s each, no finding"
  else
    fuzz_result="fuzzing: FAILED ($logs/fuzz.log)"
    grep -E -A40 '^fuzz [a-z_0-9]*: FINDING|error' "$logs/fuzz.log" | head -80
    broken=1
  fi
  echo "$fuzz_result in $((SECONDS - start)) s"
}

run_build build . -DHIBE_SANITIZE=OFF -DHIBE_TSAN=OFF
run_fuzz
ASAN_OPTIONS=halt_on_error=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  run_build build-sanitize . -DHIBE_SANITIZE=ON -DHIBE_TSAN=OFF -DHIBE_BENCH=OFF
TSAN_OPTIONS=halt_on_error=1 \
  run_build build-tsan '^host_c' -DHIBE_TSAN=ON -DHIBE_SANITIZE=OFF -DHIBE_BENCH=OFF

echo "all stages: $SECONDS s"
echo "$fuzz_result"
echo "$passed passed, $failed failed, $skipped skipped"
((failed == 0 && broken == 0))
