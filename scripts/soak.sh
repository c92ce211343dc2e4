#!/usr/bin/env bash
# The concurrent soak: builds the program and the soak driver with a
# sanitizer (in build-<kind>/, as scripts/sanitize.sh does; kind none: a
# plain build in build/), starts the program on a temporary simulated board
# and drives every transport at once for the given time (tests/soak/soak.cpp
# tells what runs):
#   scripts/soak.sh [seconds] [address|thread|none]      (default: 120 thread)
# Exits non-zero when the program wrote any sanitizer report (kept in
# <build>/soak-reports/), died, or reported an address nobody set.
# ZDR_SOAK_BUILD_DIR names another build folder; ZDR_SOAK_JOBS the build's
# parallel jobs.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
. "$top/scripts/sanitizer-common.sh"
seconds="${1:-120}"
kind="${2:-thread}"
case "$seconds" in
  ''|*[!0-9]*) echo "usage: scripts/soak.sh [seconds] [address|thread|none]" >&2; exit 2 ;;
esac
case "$kind" in
  address|thread) default_build="$top/build-$kind" ;;
  none) default_build="$top/build" ;;
  *) echo "usage: scripts/soak.sh [seconds] [address|thread|none]" >&2; exit 2 ;;
esac
build="${ZDR_SOAK_BUILD_DIR:-$default_build}"
jobs="${ZDR_SOAK_JOBS:-$(nproc 2>/dev/null || echo 2)}"
reports="$build/soak-reports"
sanitizer_configure "$top" "$kind" "$build"
sanitizer_build "$build" "$jobs" zdrK47N zdr_soak
rm -rf "$reports"
mkdir -p "$reports"
export QT_QPA_PLATFORM=offscreen
sanitizer_options "$top" "$reports"
export ZDR_SOAK_SECONDS="$seconds"
status=0
"$build/tests/zdr_soak" || status=$?
if ! sanitizer_summary "$reports"; then
  echo "soak: reports found"
  status=1
fi
if [ "$status" -eq 0 ]; then
  echo "soak ($kind, $seconds s): no reports, the program ran throughout"
fi
exit "$status"
