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
usage="usage: scripts/sanitize.sh address|thread
Builds everything with clang and a sanitizer in build-address/ or
build-thread/ (or ZDR_SANITIZE_BUILD_DIR) and runs every test:
  address  AddressSanitizer and UndefinedBehaviorSanitizer
  thread   ThreadSanitizer
Exits non-zero when a test fails or any process wrote a sanitizer report."
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
# clang and its sanitizer run-times come with the rest.
"$top/scripts/install-deps.sh"
build="${ZDR_SANITIZE_BUILD_DIR:-$top/build-$kind}"
jobs="$(nproc 2>/dev/null || echo 2)"
reports="$build/reports"
CC=clang CXX=clang++ cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZDR_SANITIZE="$kind" \
  -DZDR_BUILD_BENCH=OFF >/dev/null
# The build runs instrumented helpers (the picture painter); their reports
# do not count.
ASAN_OPTIONS=detect_leaks=0 TSAN_OPTIONS=report_bugs=0 cmake --build "$build" -j "$jobs"
rm -rf "$reports"
mkdir -p "$reports"
export QT_QPA_PLATFORM=offscreen
export ZDR_SANITIZER_REPORTS="$reports"
# Every process (the test programs and, through the end-to-end runner, the
# program under test) writes its reports into files; a report does not stop
# the run, so that one run shows them all. Qt's start-up keeps a few
# allocations for the life of the process: leaks are not looked for.
export ASAN_OPTIONS="detect_leaks=0:log_path=$reports/asan"
export UBSAN_OPTIONS="print_stacktrace=1:log_path=$reports/ubsan"
export TSAN_OPTIONS="second_deadlock_stack=1:history_size=4:suppressions=$top/tools/sanitize/tsan.supp:log_path=$reports/tsan"
status=0
(cd "$build" && ctest --output-on-failure -j "$jobs" --timeout 900) || status=$?
shopt -s nullglob
found=("$reports"/*)
if [ "${#found[@]}" -gt 0 ]; then
  echo "sanitize: ${#found[@]} report file(s) in $reports:"
  for f in "${found[@]}"; do
    echo "== $f"
    head -n 60 "$f"
  done
  status=1
fi
if [ "$status" -eq 0 ]; then
  echo "sanitize ($kind): every test passed, no reports"
fi
exit "$status"
