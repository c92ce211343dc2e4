#!/usr/bin/env bash
# Installs, with apt-get, whatever the build and the tests need and this
# machine lacks. Safe to run again: it installs only missing packages.
#   scripts/install-deps.sh
set -euo pipefail
usage="usage: scripts/install-deps.sh
Installs with apt-get (as root, or through sudo) the packages the build, the
tests, the fuzz run and the sanitizer runs need and this machine lacks."
case "${1:-}" in
  --help|-h) echo "$usage"; exit 0 ;;
esac
if [ $# -gt 0 ]; then
  echo "install-deps: takes no arguments, not: $*" >&2
  echo "$usage" >&2
  exit 2
fi

packages=(
  build-essential cmake pkg-config
  qtbase5-dev qtbase5-dev-tools
  libboost-dev
  libgtest-dev libgmock-dev googletest
  libbenchmark-dev
  # Fonts of the touch pages and of the pictures drawn at build time:
  # DejaVu for Latin, Cyrillic and Vietnamese, Noto CJK for Chinese.
  fontconfig fonts-dejavu-core fonts-noto-cjk
  # The fuzz run and the sanitizer runs: clang and its run-times (libFuzzer,
  # ASan, UBSan, TSan). On Debian 12 these pull clang-14 and
  # libclang-rt-14-dev; llvm-symbolizer (llvm) names the frames of a report.
  clang libclang-rt-dev llvm
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
