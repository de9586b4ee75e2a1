#!/usr/bin/env bash
# Rewrites the stored expectations <capture>.json beside the captures: the JSON lines that
# torvikel-cli monitor --json prints while the simulated receiver replays each capture, as
# tests/core/test_cli_monitor.cpp plays it (TZ=UTC; fixTimerSeconds, a wall-clock count,
# stored as 0). Run it only when a change is meant to alter what monitor prints, look at
# the difference, and say in the commit why the lines changed.
#
# Usage: tests/data/regenerate-expectations.sh [BUILD_DIR]   (default build/release)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build/release}"
cmake --build "$build" --target torvikel_core_threaded_tests torvikel-cli torvikel-sim
TORVIKEL_WRITE_EXPECTATIONS=1 "$build/tests/torvikel_core_threaded_tests" \
  --gtest_filter='Captures/CliMonitorCaptureTest.*' --gtest_brief=1
git -C "$root" status --short -- tests/data
