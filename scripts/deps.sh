#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
# Runs as root on a fresh Debian machine; does nothing when all are present.
set -euo pipefail

# python3-venv, -setuptools and -wheel: the consumer test installs the Python
# package into a virtual environment with no package registry to reach. git:
# it copies the tree as git sees it. strace: the descriptor test traces every
# descriptor that the library opens, those it closes again included, which no
# host can see from inside.
packages=(
  build-essential cmake pkg-config python3 git
  libssl-dev libgmp-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  valgrind python3-venv python3-setuptools python3-wheel strace
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
