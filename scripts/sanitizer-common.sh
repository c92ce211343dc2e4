# Shared by scripts/sanitize.sh and scripts/soak.sh (sourced, not run):
# the sanitizer build set-up and the options every sanitized process runs
# with.

# sanitizer_configure TOP KIND BUILD: installs what the build needs (clang
# and its sanitizer run-times come with the rest) and configures BUILD
# with that sanitizer; KIND none configures a plain build.
sanitizer_configure() {
  local top="$1" kind="$2" build="$3"
  "$top/scripts/install-deps.sh"
  if [ "$kind" = none ]; then
    cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    return
  fi
  CC=clang CXX=clang++ cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZDR_SANITIZE="$kind" \
    -DZDR_BUILD_BENCH=OFF >/dev/null
}

# sanitizer_build BUILD JOBS [TARGET...]: builds; the build runs instrumented
# helpers (the picture painter), whose reports do not count.
sanitizer_build() {
  local build="$1" jobs="$2"
  shift 2
  local targets=()
  if [ $# -gt 0 ]; then targets=(--target "$@"); fi
  ASAN_OPTIONS=detect_leaks=0 TSAN_OPTIONS=report_bugs=0 cmake --build "$build" -j "$jobs" "${targets[@]}"
}

# sanitizer_options TOP REPORTS: every process (the test programs and,
# through the end-to-end runner, the program under test) writes its reports
# into files under REPORTS; a report does not stop the run, so that one run
# shows them all. Qt's start-up keeps a few allocations for the life of the
# process: leaks are not looked for.
sanitizer_options() {
  local top="$1" reports="$2"
  export ZDR_SANITIZER_REPORTS="$reports"
  export ASAN_OPTIONS="detect_leaks=0:log_path=$reports/asan"
  export UBSAN_OPTIONS="print_stacktrace=1:log_path=$reports/ubsan"
  export TSAN_OPTIONS="second_deadlock_stack=1:history_size=4:suppressions=$top/tools/sanitize/tsan.supp:log_path=$reports/tsan"
}

# sanitizer_summary REPORTS: prints the report files; fails when there is one.
sanitizer_summary() {
  local reports="$1" f
  shopt -s nullglob
  local found=("$reports"/*)
  shopt -u nullglob
  if [ "${#found[@]}" -eq 0 ]; then
    return 0
  fi
  echo "${#found[@]} report file(s) in $reports:"
  for f in "${found[@]}"; do
    echo "== $f"
    head -n 60 "$f"
  done
  return 1
}
