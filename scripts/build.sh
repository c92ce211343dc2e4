#!/usr/bin/env bash
# Configures and builds the program, the tests and the benchmarks in
# build/ (or the folder named by ZDR_BUILD_DIR).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
. "$top/scripts/jobs.sh"
usage="usage: scripts/build.sh
Configures and builds the program, the tests and the benchmarks in build/
(or ZDR_BUILD_DIR), of the build type ZDR_BUILD_TYPE (default RelWithDebInfo),
with ZDR_JOBS jobs at once (1 to 1024; default: every processor)."
case "${1:-}" in
  --help|-h) echo "$usage"; exit 0 ;;
esac
if [ $# -gt 0 ]; then
  echo "build: takes no arguments, not: $*" >&2
  echo "$usage" >&2
  exit 2
fi
build="${ZDR_BUILD_DIR:-$top/build}"
jobs="$(zdr_jobs build)"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE="${ZDR_BUILD_TYPE:-RelWithDebInfo}" >/dev/null
cmake --build "$build" -j "$jobs"
