#!/usr/bin/env bash
# Builds the release configuration and runs every benchmark. Scratch images
# go to the folder given (default: a temporary folder on this file system).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target tamsin-bench
scratch=${1:-build}
mkdir -p "$scratch"
for b in mount snapshot recovery search containers damaged-containers listing; do
  echo "== $b"
  build/bench/tamsin-bench "$b" "$scratch"
done
