#!/usr/bin/env bash
# Installs the Debian 12 packages Tamsin needs to build and test.
# Runs apt-get only when something is missing; uses sudo when not root.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev
  nlohmann-json3-dev libcli11-dev
  qt6-base-dev xvfb xauth
  libvmdk-dev libvhdi-dev libqcow-dev libewf-dev zlib1g-dev ewf-tools qemu-utils
  shared-mime-info fonts-dejavu-core adwaita-icon-theme
  python3 xz-utils
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "install-deps: need root (or sudo) to install: ${missing[*]}" >&2; exit 1; }
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends "${missing[@]}"
