#!/bin/sh
# Builds the libFuzzer targets with clang and runs each for a while.
#
#   scripts/fuzz.sh                 every target, FUZZ_SECONDS (default 60) each
#   FUZZ_SECONDS=10 scripts/fuzz.sh a short smoke run (CI)
#   scripts/fuzz.sh fuzz_receive    one target
#
# The library, the scripted transport and the console library are compiled
# with coverage instrumentation and ASan/UBSan in their own build directory
# (FUZZ_BUILD, default build-fuzz). Each run starts from the seed corpus in
# fuzz/corpus/<target> and keeps what it finds in fuzz/corpus-run/<target>
# (not in the repository). A crash leaves its input in <FUZZ_BUILD>/crashes/ and
# fails the script. The last line per target gives its executions for docs/testing.md.
set -eu
cd "$(dirname "$0")/.."
BUILD=${FUZZ_BUILD:-build-fuzz}
SECONDS_EACH=${FUZZ_SECONDS:-60}
JOBS=${JOBS:-2}
TARGETS=${*:-"fuzz_receive fuzz_transaction fuzz_chunks fuzz_printers fuzz_transport"}

FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
CC=clang CXX=clang++ cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_FLAGS="$FLAGS" -DCMAKE_CXX_FLAGS="$FLAGS" >/dev/null
cmake --build "$BUILD" --target fuzz_targets -j"$JOBS"

mkdir -p "$BUILD/crashes"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
for t in $TARGETS; do
    bin="$BUILD/fuzz/$t"
    if [ ! -x "$bin" ]; then
        echo "fuzz: $t not built, skipped"
        continue
    fi
    mkdir -p "fuzz/corpus-run/$t"
    log="$BUILD/fuzz/$t.log"
    if "$bin" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$BUILD/crashes/$t-" \
        "fuzz/corpus-run/$t" "fuzz/corpus/$t" >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        echo "fuzz: $t ok, $runs executions in ${SECONDS_EACH} s"
    else
        echo "fuzz: $t FAILED; log $log, input in $BUILD/crashes/"
        grep -E "invariant broken|ERROR|runtime error|SUMMARY" "$log" | head -5
        status=1
    fi
done
exit $status
