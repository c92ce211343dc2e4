#!/usr/bin/env bash
# The concurrent soak: builds the program and the soak driver with a
# sanitizer (in build-<kind>/, as scripts/sanitize.sh does; kind none: a
# plain build in build/), starts the program on a temporary simulated board
# and drives every transport at once for the given time, then runs a
# randomized round of the pass-through line with a random seed (printed;
# tests/soak/soak.cpp tells what runs):
#   scripts/soak.sh [seconds] [address|thread|none]      (default: 120 thread)
# Exits non-zero when the program wrote any sanitizer report (kept in
# <build>/soak-reports/), died, reported an address nobody set, returned a
# record the PCs write whole mixed from two writes, left in the flash a
# command page record no PC asked to store (two PCs write the page at once),
# marked again (or kept the file of) a user-mode slot a PC emptied, answered
# later than the driver's bound for that kind of request (or not at all),
# closed the connection of a PC that reads or kept that of a PC that never
# reads, or when a driver never got its work done (the driver says which),
# or when the pass-through round's oracle found an answer not its own, a
# request answered that could not be or not answered, or places out of
# arrival order (the round's seed is printed).
# ZDR_SOAK_BUILD_DIR names another build folder; ZDR_SOAK_JOBS the build's
# parallel jobs (default ZDR_JOBS, else every processor).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
. "$top/scripts/sanitizer-common.sh"
. "$top/scripts/jobs.sh"
usage="usage: scripts/soak.sh [seconds] [address|thread|none]
Builds the program and the soak driver (with the sanitizer named; none: a
plain build in build/) and drives every transport of the running program at
once for the given time (1..86400 s, default 120; default kind thread).
Exits non-zero on any sanitizer report of the program, when it died, when
it reported an address nobody set, when a read showed a record mixed from
two writes (the LED size, a window rectangle), when the flash holds a
command page record no PC asked to store, when a user-mode slot a PC
emptied was marked again or kept its file, when an answer came later
than its bound (the driver lists the worst) or never, when it closed the
connection of a PC that reads or kept that of a PC that never reads, or
when a driver never got its work done (no card check posted, for one; the
driver names it), or when the randomized pass-through round that follows
found a fault (its seed is printed: ZDR_PASSTHROUGH_SEED=<seed> with the
unit test PassThroughRound.* runs it again).
Settings: ZDR_SOAK_BUILD_DIR the build folder (default build-<kind>/, build/
for none); ZDR_SOAK_JOBS the build's jobs at once (1 to 1024; default
ZDR_JOBS, else every processor)."
case "${1:-}" in
  --help|-h) echo "$usage"; exit 0 ;;
esac
if [ $# -gt 2 ]; then
  echo "soak: two arguments at most (seconds, kind), not: $*" >&2
  echo "$usage" >&2
  exit 2
fi
seconds="${1:-120}"
kind="${2:-thread}"
case "$seconds" in
  ''|*[!0-9]*|0*) echo "soak: the time is a number of seconds from 1 to 86400, not '$seconds'" >&2; echo "$usage" >&2; exit 2 ;;
esac
if [ "${#seconds}" -gt 5 ] || [ "$seconds" -gt 86400 ]; then
  echo "soak: the time is a number of seconds from 1 to 86400, not '$seconds'" >&2; echo "$usage" >&2; exit 2
fi
case "$kind" in
  address|thread) default_build="$top/build-$kind" ;;
  none) default_build="$top/build" ;;
  *) echo "soak: the kind is address, thread or none, not '$kind'" >&2; echo "$usage" >&2; exit 2 ;;
esac
build="${ZDR_SOAK_BUILD_DIR:-$default_build}"
if [ -n "${ZDR_SOAK_JOBS:-}" ]; then
  jobs="$(zdr_jobs soak ZDR_SOAK_JOBS)"
else
  jobs="$(zdr_jobs soak)"
fi
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
