#!/usr/bin/env bash
# Builds the program (and the tools zdrsim and zdrlink) and starts it on the
# simulated board.
#   scripts/run-sim.sh [board-root]
# The board root (default build/board) holds the board's file system: /data,
# /dev, /etc, /mnt/usb1, ... and sim/ with the shell log and the control
# socket. With a display the window opens on it; without one (or with
# QT_QPA_PLATFORM=offscreen) the program runs headless. The PC ports (UDP
# 5008, TCP 5005, UDP 13769) open on 127.0.0.1 only. The program's trace
# (its standard output) goes to <board-root>/sim/trace.log, the last run's
# to trace.log.1; its errors stay on the terminal.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
usage="usage: scripts/run-sim.sh [BOARD_ROOT]
Installs what is missing, builds the program and the tools zdrsim and zdrlink
(scripts/build.sh: ZDR_BUILD_DIR, ZDR_BUILD_TYPE; not the tests and the
benchmarks) and starts it on the simulated board whose root is BOARD_ROOT
(default ZDR_BOARD_ROOT, or else <build>/board). Headless without a display or
with QT_QPA_PLATFORM=offscreen. The program's trace goes to
BOARD_ROOT/sim/trace.log (the run before's to trace.log.1), whose path it
prints first; errors stay on the terminal. The program's own options:
zdrK47N --help."
case "${1:-}" in
  --help|-h) echo "$usage"; exit 0 ;;
  -*) echo "run-sim: unknown option $1" >&2; echo "$usage" >&2; exit 2 ;;
esac
if [ $# -gt 1 ]; then
  echo "run-sim: one board root at most, not: $*" >&2
  echo "$usage" >&2
  exit 2
fi
if [ $# -eq 1 ] && [ -z "$1" ]; then
  echo "run-sim: the board root is an empty name" >&2
  exit 2
fi
# ZDR_JOBS (for the build) is checked before anything is installed.
. "$top/scripts/jobs.sh"
zdr_jobs run-sim >/dev/null
"$top/scripts/install-deps.sh"
# What it runs, and the two tools the README uses next: not the tests.
"$top/scripts/build.sh" zdrK47N zdrsim zdrlink
build="${ZDR_BUILD_DIR:-$top/build}"
if [ $# -ge 1 ]; then
  mkdir -p "$1"
  export ZDR_BOARD_ROOT="$(cd "$1" && pwd)"
fi
# The board root the program takes: ZDR_BOARD_ROOT, or else the build's own
# (its CMake setting ZDR_DEFAULT_BOARD_ROOT, <build>/board unless changed).
root="${ZDR_BOARD_ROOT:-}"
if [ -z "$root" ]; then
  root="$(sed -n 's/^ZDR_DEFAULT_BOARD_ROOT:[A-Z]*=//p' "$build/CMakeCache.txt" 2>/dev/null | head -n 1)"
  root="${root:-$build/board}"
fi
if [ -z "${QT_QPA_PLATFORM:-}" ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  export QT_QPA_PLATFORM=offscreen
fi
# The trace is written under the board root only when the program will run
# there: not on the system's root, which it refuses, and not over the trace
# of a program that runs on that board (it holds sim/program.lock; this one
# says which pid that is and exits).
mkdir -p "$root"
if [ "$(cd "$root" && pwd -P)" != "/" ]; then
  mkdir -p "$root/sim"
  trace="$root/sim/trace.log"
  if ! command -v flock >/dev/null || flock -n "$root/sim/program.lock" true; then
    if [ -e "$trace" ]; then
      mv -f "$trace" "$trace.1"
    fi
    echo "run-sim: board root $root; the program's trace goes to $trace"
    exec "$build/zdrK47N" >"$trace"
  fi
fi
exec "$build/zdrK47N"
