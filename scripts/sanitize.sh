#!/usr/bin/env bash
# Builds everything with a sanitizer, with clang, in build-<kind>/ (or the
# folder named by ZDR_SANITIZE_BUILD_DIR), and runs every test, end-to-end
# included:  scripts/sanitize.sh address|thread
#   address: AddressSanitizer and UndefinedBehaviorSanitizer
#   thread:  ThreadSanitizer (QMutex made visible to it)
# Exits non-zero when a test fails or when any test process, or the program
# under test, wrote a sanitizer report (they are kept in <build>/reports/).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
. "$top/scripts/sanitizer-common.sh"
. "$top/scripts/jobs.sh"
usage="usage: scripts/sanitize.sh address|thread
Builds everything with clang and a sanitizer in build-address/ or
build-thread/ (or ZDR_SANITIZE_BUILD_DIR) and runs every test:
  address  AddressSanitizer and UndefinedBehaviorSanitizer
  thread   ThreadSanitizer
ZDR_JOBS caps the jobs of the build and of the test run (1 to 1024; default:
every processor). Exits non-zero when a test fails or any process wrote a
sanitizer report."
kind="${1:-}"
case "$kind" in
  --help|-h) echo "$usage"; exit 0 ;;
  address|thread) ;;
  *) echo "sanitize: the kind is address or thread${kind:+, not '$kind'}" >&2; echo "$usage" >&2; exit 2 ;;
esac
if [ $# -gt 1 ]; then
  echo "sanitize: one argument (address or thread), not: $*" >&2
  echo "$usage" >&2
  exit 2
fi
build="${ZDR_SANITIZE_BUILD_DIR:-$top/build-$kind}"
jobs="$(zdr_jobs sanitize)"
reports="$build/reports"
sanitizer_configure "$top" "$kind" "$build"
sanitizer_build "$build" "$jobs"
rm -rf "$reports"
mkdir -p "$reports"
export QT_QPA_PLATFORM=offscreen
sanitizer_options "$top" "$reports"
status=0
(cd "$build" && ctest --output-on-failure -j "$jobs" --timeout 900) || status=$?
if ! sanitizer_summary "$reports"; then
  echo "sanitize: reports found"
  status=1
fi
if [ "$status" -eq 0 ]; then
  echo "sanitize ($kind): every test passed, no reports"
fi
exit "$status"
