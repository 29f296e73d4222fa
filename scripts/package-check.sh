#!/usr/bin/env bash
# Builds the Debian package, installs it with apt-get (as root) and runs the
# installed programs: versions, a demo image and its volumes. (The manual
# pages' presence is checked by tests/packaging/install-check.sh: some
# minimal systems leave man pages out when packages install.)
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "package-check: run as root (it installs the package)" >&2; exit 1; }

deb=$(scripts/package.sh | tail -1)
export DEBIAN_FRONTEND=noninteractive
apt-get install -y --no-install-recommends "$deb" >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
set -x
/usr/bin/tamsin --version
/usr/bin/tamsin-mkimage --demo "$work/x.img"
/usr/bin/tamsin volumes "$work/x.img"
/usr/bin/tamsin ls "$work/x.img" --volume 0 >/dev/null
QT_QPA_PLATFORM=offscreen /usr/bin/tamsin-gui --version
{ set +x; } 2>/dev/null
echo "package-check: $deb installs and runs"
