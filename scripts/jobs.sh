# Shared by the scripts that build or run tests (sourced, not run): how
# many jobs run at once. ZDR_JOBS caps them on a shared machine; without it
# every processor is used.

# zdr_jobs SCRIPT [VARIABLE]: prints the number of jobs VARIABLE (default
# ZDR_JOBS) asks for, a whole number from 1 to 1024, or the processor count
# when it is not set; refuses any other value (exit status 2) with a line
# that names SCRIPT. Call it as jobs="$(zdr_jobs NAME)" under set -e.
zdr_jobs() {
  local script="$1" name="${2:-ZDR_JOBS}"
  local value="${!name:-}"
  if [ -z "$value" ]; then
    nproc 2>/dev/null || echo 2
    return 0
  fi
  if ! [[ "$value" =~ ^[1-9][0-9]{0,3}$ ]] || [ "$value" -gt 1024 ]; then
    echo "$script: $name must be a whole number from 1 to 1024, not '$value'" >&2
    exit 2
  fi
  echo "$value"
}
