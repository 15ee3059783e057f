#!/usr/bin/env bash
# Builds libhibe.so and runs the demo host against it in a scratch directory.
# Installs missing Debian packages first.
#
# Quiet like scripts/test.sh: one line for the build with its time (its output
# only when it fails; the whole of it stays in build-logs/demo.build.log), then
# the demo's own lines.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
mkdir -p build-logs
log=build-logs/demo.build.log
start=$SECONDS
if ! { cmake -S . -B build -DCMAKE_BUILD_TYPE=Release &&
       cmake --build build -j "$(nproc)" --target hibe hibe_demo; } >"$log" 2>&1; then
  echo "build: FAILED after $((SECONDS - start)) s ($log)"
  grep -E -A4 'error|Error' "$log" | head -60
  exit 1
fi
echo "build: done in $((SECONDS - start)) s"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
./build/examples/hibe_demo "$PWD/build/src/hibe_c/libhibe.so" "$work"
