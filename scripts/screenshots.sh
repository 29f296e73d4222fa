#!/usr/bin/env bash
# Renders the wizard's three steps on the demo disk into docs/ under Xvfb.
# BUILD_DIR chooses the build tree (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."

build="${BUILD_DIR:-build}"
scripts/install-deps.sh
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j "$(nproc)" --target tamsin_gui_screenshots tamsin-mkimage

mkdir -p demo docs
"$build/tools/mkimage/tamsin-mkimage" --demo demo/demo.img
xvfb-run -a -s "-screen 0 1280x800x24" "$build/tests/app/tamsin_gui_screenshots" demo/demo.img docs
