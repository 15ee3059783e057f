#!/usr/bin/env bash
# Builds libhibe.so and runs the demo host against it in a scratch directory.
# Installs missing Debian packages first.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" --target hibe hibe_demo
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
./build/examples/hibe_demo "$PWD/build/src/hibe_c/libhibe.so" "$work"
