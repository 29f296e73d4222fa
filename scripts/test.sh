#!/usr/bin/env bash
# Installs what is needed, builds Tamsin with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs the whole test suite; then the
# engine's tests under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAMSIN_SANITIZE=ON
cmake --build build-test -j "$(nproc)"

# As root (CI): build the Debian package, install it and run the installed programs.
if [ "$(id -u)" -eq 0 ]; then scripts/package-check.sh; fi

# Every fuzz target over its seed corpus (clang build in build-fuzz): a regression run of seconds.
scripts/fuzz.sh --seeds-only

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-test --output-on-failure -j "$(nproc)"

# The engine's tests once more under ThreadSanitizer.
scripts/tsan.sh
