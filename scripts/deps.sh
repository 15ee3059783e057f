#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
# Runs as root on a fresh Debian machine; does nothing when all are present.
set -euo pipefail

packages=(
  build-essential cmake pkg-config python3
  libssl-dev libgmp-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  valgrind
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
