#!/usr/bin/env bash
# Builds and runs every test: an optimised build (with the host test under
# valgrind's memcheck), a build with AddressSanitizer and UndefinedBehaviorSanitizer
# that halts on the first error, and a ThreadSanitizer build of the library that
# runs the host tests, 32 threads among them. The corpus of every fuzz target is
# replayed as a test in each build, and every target is fuzzed for 10 seconds.
# Installs missing Debian packages first.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
jobs=$(nproc)

# run_build DIR TEST-REGEX CMAKE-OPTION...
run_build() {
  local dir=$1 tests=$2; shift 2
  echo "=== build ${dir} ($*)"
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" -R "$tests"
}

run_build build . -DHIBE_SANITIZE=OFF -DHIBE_TSAN=OFF
# Every fuzz target briefly (clang, libFuzzer), so that a new crash shows on the
# next change; scripts/fuzz.sh SECONDS fuzzes longer.
bash scripts/fuzz.sh 10
ASAN_OPTIONS=halt_on_error=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  run_build build-sanitize . -DHIBE_SANITIZE=ON -DHIBE_TSAN=OFF -DHIBE_BENCH=OFF
TSAN_OPTIONS=halt_on_error=1 \
  run_build build-tsan '^host_c' -DHIBE_TSAN=ON -DHIBE_SANITIZE=OFF -DHIBE_BENCH=OFF
