#!/usr/bin/env bash
# run-conformance.sh TAMSIN: checks the built tamsin against the shared
# conformance volumes (../shared/conformance beside the checkout), whose
# undefined bytes hold random values. Skips (status 77) with a message where
# the volumes, python3 or xz are missing.
set -u
tool=$1
top=$(cd "$(dirname "$0")/../.." && pwd)
suite=$top/../shared/conformance/run.sh
if [ ! -x "$suite" ]; then echo "skipped: no conformance volumes at $suite"; exit 77; fi
for need in python3 xz; do
  command -v "$need" >/dev/null || { echo "skipped: $need is not installed"; exit 77; }
done
exec "$suite" "$tool"
