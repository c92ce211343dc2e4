#!/usr/bin/env bash
# Builds everything and runs every test (unit and end-to-end, headless).
# Exits non-zero when a test fails.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh"
build="${ZDR_BUILD_DIR:-$top/build}"
jobs="$(nproc 2>/dev/null || echo 2)"
export QT_QPA_PLATFORM=offscreen
# The control link's fuzz target, for a bounded time (clang only).
"$top/scripts/fuzz.sh" "${ZDR_FUZZ_SECONDS:-30}"
cd "$build"
ctest --output-on-failure -j "$jobs"
