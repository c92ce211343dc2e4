#!/usr/bin/env bash
# Builds the control link's fuzz target with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer in build-fuzz/ (or ZDR_FUZZ_BUILD_DIR) and runs
# it for a bounded time:  scripts/fuzz.sh [seconds]   (default 60)
# Exits non-zero when the target cannot be built (clang missing included)
# or when the fuzzer finds a crash.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
. "$top/scripts/jobs.sh"
usage="usage: scripts/fuzz.sh [SECONDS]
Builds the control link's fuzz target with clang, ASan and UBSan in
build-fuzz/ (or ZDR_FUZZ_BUILD_DIR) and runs it for SECONDS (1 to 86400,
default 60), building with ZDR_JOBS jobs at once (1 to 1024; default: every
processor). Installs clang first when it is missing. Exit status: 0 no
crash found, 1 a crash or the target could not be built, 2 wrong arguments."
case "${1:-}" in
  --help|-h) echo "$usage"; exit 0 ;;
esac
if [ $# -gt 1 ]; then
  echo "fuzz: one argument (the seconds), not: $*" >&2
  echo "$usage" >&2
  exit 2
fi
seconds="${1:-60}"
# A time limit of 0 would run without end: the run is always bounded.
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "${#seconds}" -gt 5 ] || [ "$seconds" -lt 1 ] || [ "$seconds" -gt 86400 ]; then
  echo "fuzz: the seconds must be a whole number from 1 to 86400, not '$seconds'" >&2
  echo "$usage" >&2
  exit 2
fi
jobs="$(zdr_jobs fuzz)"
"$top/scripts/install-deps.sh"
if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz: clang++ not found: the fuzz target cannot be built (scripts/install-deps.sh installs it)" >&2
  exit 1
fi
build="${ZDR_FUZZ_BUILD_DIR:-$top/build-fuzz}"
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
