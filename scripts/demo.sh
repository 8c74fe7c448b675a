#!/bin/bash
# make demo: starts a simulated instrument on an ephemeral local port and runs
# vuxoint-test against it over TCP. The simulator stores a new measurement by itself
# shortly after the program has read the log, so the run ends on its own.
# Usage: scripts/demo.sh [BUILD_DIR] [v1|v2]
set -eu

build=${1:-build}
gen=${2:-v2}
case "$gen" in
v1 | v2) ;;
*)
    echo "demo: GEN must be v1 or v2, not '$gen'" >&2
    exit 2
    ;;
esac
sim="$build/sim/vuxoint-sim"
console="$build/console/vuxoint-test"
for bin in "$sim" "$console"; do
    if [ ! -x "$bin" ]; then
        echo "demo: $bin is missing; build first (make demo builds it)" >&2
        exit 1
    fi
done

work=$(mktemp -d)
sim_pid=""
drain_pid=""
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    if [ -n "$drain_pid" ]; then
        wait "$drain_pid" 2>/dev/null || true
    fi
    exec 3<&- 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The simulator's first output line is "port <n>"; a FIFO hands it over without polling.
mkfifo "$work/sim.out"
"$sim" "--$gen" --port 0 >"$work/sim.out" 2>"$work/sim.log" &
sim_pid=$!
exec 3<"$work/sim.out"
if ! read -r -t 20 word port <&3 || [ "$word" != port ] || [ -z "$port" ]; then
    echo "demo: the simulator did not report its port" >&2
    cat "$work/sim.log" >&2
    exit 1
fi
# Keep reading, so the simulator never blocks on a full pipe.
cat <&3 >/dev/null &
drain_pid=$!

echo "demo: simulated $gen instrument on 127.0.0.1:$port"
status=0
timeout --foreground 120 "$console" --net "127.0.0.1:$port" || status=$?
if [ "$status" = 124 ]; then
    echo "demo: vuxoint-test did not finish within 120 s" >&2
fi
exit "$status"
