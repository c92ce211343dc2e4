#!/usr/bin/env bash
# Configures and builds the program, the tests and the benchmarks in
# build/ (or the folder named by ZDR_BUILD_DIR); given target names, only
# those (and what they need).
#   scripts/build.sh [TARGET ...]
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
. "$top/scripts/jobs.sh"
usage="usage: scripts/build.sh [TARGET ...]
Configures and builds in build/ (or ZDR_BUILD_DIR), of the build type
ZDR_BUILD_TYPE (default RelWithDebInfo), with ZDR_JOBS jobs at once (1 to
1024; default: every processor): the program, the tests and the benchmarks,
or only the CMake targets named (e.g. zdrK47N zdrsim zdrlink)."
case "${1:-}" in
  --help|-h) echo "$usage"; exit 0 ;;
esac
targets=()
for t in "$@"; do
  if ! [[ "$t" =~ ^[A-Za-z0-9_.+-]+$ ]] || [[ "$t" == -* ]]; then
    echo "build: not a target name: '$t'" >&2
    echo "$usage" >&2
    exit 2
  fi
  targets+=(--target "$t")
done
build="${ZDR_BUILD_DIR:-$top/build}"
jobs="$(zdr_jobs build)"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE="${ZDR_BUILD_TYPE:-RelWithDebInfo}" >/dev/null
cmake --build "$build" -j "$jobs" "${targets[@]}"
