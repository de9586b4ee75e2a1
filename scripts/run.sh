#!/usr/bin/env bash
# Installs what is needed, builds, starts the simulated receiver as port Com1 and opens the
# window. Extra arguments go to the program (for example --connect).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build/run -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTORVIKEL_BUILD_BENCH=OFF >/dev/null
cmake --build build/run --target torvikel torvikel-sim

# A port map of our own, so the simulator never hides a real receiver's Com1 mapping.
TORVIKEL_PORT_DIR="$(mktemp -d)"
export TORVIKEL_PORT_DIR
build/run/sim/torvikel-sim --com 1 &
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; rm -rf "$TORVIKEL_PORT_DIR"' EXIT
for _ in $(seq 1 100); do
  [ -e "$TORVIKEL_PORT_DIR/com1" ] && break
  sleep 0.05
done
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display found (DISPLAY/WAYLAND_DISPLAY unset): the window cannot be shown here." >&2
  echo "Use torvikel-cli, or run this on a desktop session." >&2
  exit 1
fi
build/run/app/torvikel "$@"
