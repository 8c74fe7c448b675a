#!/bin/sh
# Builds the whole project with a sanitizer and runs every test under it.
#
#   scripts/sanitizers.sh address   ASan + UBSan, build-asan
#   scripts/sanitizers.sh thread    TSan, build-tsan
#
# Any sanitizer report fails the test that produced it (halt_on_error, and
# the UBSan checks do not recover). TSan slows the tests several times, so
# each test gets a longer CTest time-out (SAN_TEST_TIMEOUT, seconds).
set -eu
cd "$(dirname "$0")/.."
kind=${1:?usage: scripts/sanitizers.sh address|thread}
case "$kind" in
address) BUILD=${SAN_BUILD:-build-asan}; timeout=${SAN_TEST_TIMEOUT:-300} ;;
thread) BUILD=${SAN_BUILD:-build-tsan}; timeout=${SAN_TEST_TIMEOUT:-600} ;;
*) echo "unknown sanitizer: $kind" >&2; exit 2 ;;
esac
JOBS=${JOBS:-$(nproc)}

cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVUXO_SANITIZE="$kind" ${CMAKE_FLAGS:-}
cmake --build "$BUILD" -j"$JOBS"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
# The installed-package and Debian-package tests build an uninstrumented
# consumer program against the instrumented library, which no sanitizer runtime
# can be loaded into; the plain `make test` runs them.
ctest --test-dir "$BUILD" --output-on-failure -j"$JOBS" --timeout "$timeout" \
    -E '^(install_consumer|package_deb)$'
