#!/usr/bin/env bash
# Builds and runs every test twice: an optimised build, and a build with
# AddressSanitizer and UndefinedBehaviorSanitizer that halts on the first error.
# Installs missing Debian packages first.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
jobs=$(nproc)

run_build() {
  local dir=$1; shift
  echo "=== build ${dir} ($*)"
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

run_build build -DHIBE_SANITIZE=OFF
ASAN_OPTIONS=halt_on_error=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  run_build build-sanitize -DHIBE_SANITIZE=ON -DHIBE_BENCH=OFF
