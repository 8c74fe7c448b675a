#!/bin/sh
# Runs the benchmarks of a Release build and prints one table: each figure
# beside the limit it is held against (measured in the same run), their ratio
# and the target. The benchmarks' own output goes to <build>/bench.log.
#
# usage: scripts/bench.sh [build-dir]   (default: build-bench)
set -u
BUILD=${1:-build-bench}
BIN="$BUILD/bench"
LOG="$BUILD/bench.log"
ROWS="$BUILD/bench.rows"

if [ ! -x "$BIN/bench_receive" ]; then
    echo "bench.sh: no benchmarks in $BIN (is Google Benchmark, libbenchmark-dev, installed?)" >&2
    exit 1
fi

: >"$LOG"
: >"$ROWS"
failed=0
# Each program prints its result lines as "ROW|item|figure|limit|ratio|target|verdict".
for prog in bench_receive bench_roundtrip bench_download bench_idle bench_memory bench_many bench_sync bench_serve; do
    if [ ! -x "$BIN/$prog" ]; then
        echo "ROW|$prog|not built|-|-|-|-" >>"$ROWS"
        continue
    fi
    echo "== $prog" >>"$LOG"
    # No program takes a minute; a hung one must not hold `make bench`.
    status=0
    timeout 300 "$BIN/$prog" >"$BUILD/$prog.out" 2>>"$LOG" || status=$?
    if [ "$status" != 0 ]; then
        what="failed (status $status, see $LOG)"
        [ "$status" = 124 ] && what="timed out after 300 s"
        echo "ROW|$prog|$what|-|-|-|MISSED" >>"$ROWS"
        failed=1
    fi
    grep -v '^ROW|' "$BUILD/$prog.out" >>"$LOG"
    grep '^ROW|' "$BUILD/$prog.out" >>"$ROWS"
done

{
    echo "ROW|item|figure|limit (same run)|ratio|target|verdict"
    cat "$ROWS"
} | awk -F'|' '
    { n = NR; for (i = 2; i <= NF; i++) { cell[n, i] = $i; if (length($i) > w[i]) w[i] = length($i) } }
    END {
        for (r = 1; r <= n; r++) {
            line = ""
            for (i = 2; i <= 8; i++) line = line sprintf("%-" w[i] "s  ", cell[r, i])
            sub(/ +$/, "", line)
            print line
        }
    }'
# Figures from a loaded machine are not comparable: say what it was doing.
cpu=$(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //')
echo "machine: $(nproc) x $cpu, kernel $(uname -r), load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
met=$(grep -c '|met$' "$ROWS")
missed=$(grep -c '|MISSED$' "$ROWS")
echo "targets met: $met, missed: $missed   (log: $LOG)"
exit $failed
