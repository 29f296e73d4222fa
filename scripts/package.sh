#!/usr/bin/env bash
# Builds the Debian package of Tamsin (Release, without tests or benchmarks)
# in build-package and prints the path of the .deb.
# TAMSIN_PACKAGE_BUILD_DIR names another build folder.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
build=${TAMSIN_PACKAGE_BUILD_DIR:-build-package}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DTAMSIN_BUILD_TESTS=OFF -DTAMSIN_BUILD_BENCH=OFF -DTAMSIN_SANITIZE=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
rm -f "$build"/tamsin_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/tamsin_*.deb)
echo "$PWD/$deb"
