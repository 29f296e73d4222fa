#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz, writes their seed
# corpora from the image builder and runs every target.
#
#   scripts/fuzz.sh [SECONDS]     run each target SECONDS (default 60)
#   scripts/fuzz.sh --seeds-only  run each target once over its seeds
#
# Fails on any crash, leak, sanitizer report or input slower than 2 s.
# Crash inputs are left in build-fuzz/runs/<target>/.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-fuzz"
seconds=60
seeds_only=0
case "${1:-}" in
  --seeds-only) seeds_only=1 ;;
  "") ;;
  *[!0-9]*) echo "usage: $0 [SECONDS | --seeds-only]" >&2; exit 2 ;;
  *) seconds="$1" ;;
esac

# containers_diff: the container target in its differential mode (our
# readers against the libraries); it shares the containers seeds and dict.
targets=(volume_tables mount snapshot wildcard volume_search rescue_map containers containers_diff)

if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DTAMSIN_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j "$(nproc)"

rm -rf "$build/corpus"
"$build/tests/fuzz/tamsin_fuzz_seeds" "$build/corpus"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:${UBSAN_OPTIONS:-}"
# libewf's own leak on damaged chunks (the containers targets read some).
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:${LSAN_OPTIONS:-}"

failed=()
for t in "${targets[@]}"; do
  bin="$build/tests/fuzz/fuzz_$t"
  run="$build/runs/$t"
  mkdir -p "$run/corpus"
  log="$run/log"
  base="${t%_diff}"
  flags=(-timeout=2 -rss_limit_mb=2048 -dict="$root/tests/fuzz/$base.dict" -artifact_prefix="$run/")
  if [ "$seeds_only" -eq 1 ]; then
    # Each seed once: the files as arguments.
    status=0
    (cd "$run" && "$bin" "${flags[@]}" "$build/corpus/$base"/*) >"$log" 2>&1 || status=$?
  else
    echo "fuzz: $t for ${seconds}s"
    status=0
    (cd "$run" && "$bin" "${flags[@]}" -max_total_time="$seconds" -print_final_stats=1 \
       "$run/corpus" "$build/corpus/$base") >"$log" 2>&1 || status=$?
  fi
  if [ "$status" -ne 0 ] || grep -qE "runtime error:|ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)" "$log"; then
    echo "fuzz: $t FAILED (exit $status), see $log" >&2
    grep -E "runtime error:|ERROR:|SUMMARY:|Test unit written" "$log" | head -5 >&2 || true
    failed+=("$t")
  else
    echo "fuzz: $t ok"
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz: failed: ${failed[*]}" >&2
  exit 1
fi
echo "fuzz: all ${#targets[@]} targets passed"
