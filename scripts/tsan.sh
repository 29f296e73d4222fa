#!/usr/bin/env bash
# Builds the engine's tests with ThreadSanitizer (in build-tsan) and runs
# them: recovery copies on one thread while another reads and makes files
# ahead of it, and the disk readers are read from both.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS="-fsanitize=thread -g" -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread \
  -DTAMSIN_BUILD_GUI=OFF -DTAMSIN_BUILD_BENCH=OFF
cmake --build build-tsan -j "$(nproc)" --target tamsin_core_tests

export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp"
build-tsan/tests/tamsin_core_tests --gtest_brief=1
