#!/usr/bin/env bash
# Configures and builds the program, the tests and the benchmarks in
# build/ (or the folder named by ZDR_BUILD_DIR).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${ZDR_BUILD_DIR:-$top/build}"
jobs="$(nproc 2>/dev/null || echo 2)"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE="${ZDR_BUILD_TYPE:-RelWithDebInfo}" >/dev/null
cmake --build "$build" -j "$jobs"
