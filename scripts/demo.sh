#!/usr/bin/env bash
# Installs what is needed, builds Tamsin, writes the demo disk image and opens
# the wizard on it; without a display (or with TAMSIN_DEMO_CLI=1) it runs the
# command-line tool on it instead.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
# The programs alone: the test suites are built by scripts/test.sh.
cmake --build build -j "$(nproc)" --target tamsin tamsin-gui tamsin-mkimage Disk32 disk2

mkdir -p demo
build/tools/mkimage/tamsin-mkimage --demo demo/demo.img

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ "${TAMSIN_DEMO_CLI:-0}" != 1 ]; then
  exec build/src/app/tamsin-gui --no-devices demo/demo.img
fi

tamsin=build/src/cli/tamsin
rm -rf demo/recovered
set -x
"$tamsin" disks --no-devices demo/demo.img
"$tamsin" volumes demo/demo.img
"$tamsin" info demo/demo.img --volume 0
"$tamsin" ls demo/demo.img --volume 0
"$tamsin" ls demo/demo.img --volume 0 /USERS/ALICE
"$tamsin" recover demo/demo.img --volume 0 --to demo/recovered
