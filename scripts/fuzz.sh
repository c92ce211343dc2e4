#!/usr/bin/env bash
# Builds the control link's fuzz target with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer in build-fuzz/ (or ZDR_FUZZ_BUILD_DIR) and runs
# it for a bounded time:  scripts/fuzz.sh [seconds]   (default 60)
# Exits non-zero when the fuzzer finds a crash. Without clang it says so and
# does nothing.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz: clang++ not found, skipped"
  exit 0
fi
build="${ZDR_FUZZ_BUILD_DIR:-$top/build-fuzz}"
jobs="$(nproc 2>/dev/null || echo 2)"
CC=clang CXX=clang++ cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DZDR_FUZZ=ON \
  -DZDR_BUILD_TESTS=OFF -DZDR_BUILD_BENCH=OFF >/dev/null
# The build runs instrumented helpers (the picture painter) whose Qt
# start-up leaks on purpose; leaks matter only in the fuzz run itself.
ASAN_OPTIONS=detect_leaks=0 cmake --build "$build" --target fuzz_link -j "$jobs"
corpus="$(mktemp -d)"
trap 'rm -rf "$corpus"' EXIT
cp "$top"/fuzz/corpus/* "$corpus"/ 2>/dev/null || true
export QT_QPA_PLATFORM=offscreen
"$build/fuzz/fuzz_link" -max_total_time="$seconds" -seed=1 -print_final_stats=1 \
  -artifact_prefix="$build/" "$corpus"
