#!/usr/bin/env bash
# Builds everything and runs every test (unit and end-to-end, headless).
# Exits non-zero when a test fails.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
. "$top/scripts/jobs.sh"
usage="usage: scripts/test.sh
Installs what is missing, builds everything (scripts/build.sh: ZDR_BUILD_DIR,
ZDR_BUILD_TYPE), runs the control link's fuzz target for ZDR_FUZZ_SECONDS
(default 30; scripts/fuzz.sh) and every test, headless, ZDR_JOBS at once
(1 to 1024; default: every processor; the build and the fuzz build too).
Exits non-zero when the build, the fuzz run or a test fails."
case "${1:-}" in
  --help|-h) echo "$usage"; exit 0 ;;
esac
if [ $# -gt 0 ]; then
  echo "test: takes no arguments, not: $*" >&2
  echo "$usage" >&2
  exit 2
fi
fuzz_seconds="${ZDR_FUZZ_SECONDS:-30}"
if ! [[ "$fuzz_seconds" =~ ^[0-9]+$ ]] || [ "${#fuzz_seconds}" -gt 5 ] || [ "$fuzz_seconds" -lt 1 ] \
  || [ "$fuzz_seconds" -gt 86400 ]; then
  echo "test: ZDR_FUZZ_SECONDS must be a whole number from 1 to 86400, not '$fuzz_seconds'" >&2
  exit 2
fi
jobs="$(zdr_jobs test)"
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh"
build="${ZDR_BUILD_DIR:-$top/build}"
export QT_QPA_PLATFORM=offscreen
# The control link's fuzz target, for a bounded time (clang only).
"$top/scripts/fuzz.sh" "$fuzz_seconds"
cd "$build"
ctest --output-on-failure -j "$jobs"
