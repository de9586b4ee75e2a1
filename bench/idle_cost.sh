#!/usr/bin/env bash
# Idle cost: the program connected to a receiver that says nothing. Measures the CPU time
# the program uses over a fixed window and prints it as a share of one core.
# (bench/window_cost.py measures the same beside its other figures, and against a baseline.)
# Usage: bench/idle_cost.sh [BUILD_DIR] [SECONDS]   (default build/release, 30 s)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/release}"
seconds="${2:-30}"
program="$build/app/torvikel"
[ -x "$program" ] || { echo "build $program first" >&2; exit 2; }

portdir="$(mktemp -d)"
export TORVIKEL_PORT_DIR="$portdir"
# A silent receiver: a pseudo-terminal whose other end never writes.
python3 - "$portdir" <<'PY' &
import os, pty, sys, time, tty
master, slave = pty.openpty()
tty.setraw(slave)
os.symlink(os.ttyname(slave), os.path.join(sys.argv[1], "com1"))
while True:
    try:
        os.read(master, 4096)   # swallow the program's queries, answer nothing
    except OSError:
        time.sleep(0.1)
PY
peer=$!
trap 'kill $peer $app 2>/dev/null; rm -rf "$portdir"' EXIT
app=""
for _ in $(seq 1 100); do [ -e "$portdir/com1" ] && break; sleep 0.05; done

QT_QPA_PLATFORM=offscreen "$program" --connect &
app=$!
sleep 3   # let start-up finish
# Time on a CPU in nanoseconds, summed over the program's threads (the scheduler's own
# account: clock ticks are too coarse for a program that should hardly run at all).
read_cpu() { cat /proc/"$app"/task/*/schedstat | awk '{ ns += $1 } END { printf "%d", ns }'; }
before=$(read_cpu)
sleep "$seconds"
after=$(read_cpu)
awk -v b="$before" -v a="$after" -v s="$seconds" \
  'BEGIN { pct = (a - b) / 1e9 / s * 100; printf "idle CPU: %.3f%% of one core over %d s (%.1f ms)\n", pct, s, (a - b) / 1e6 }'
