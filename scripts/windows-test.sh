#!/bin/sh
# Runs the Windows build's tests under Wine: ctest starts every test program through
# the build's emulator (wine64 in BUILD_DIR/wineprefix, set by cmake/VuxoWindows.cmake).
# A wineserver kept running for the whole run saves seconds per program start; it is
# stopped afterwards, also when a test fails.
#
# Then the Windows programs are tried from outside against the Linux simulator
# (tests/windows: TCP, a Wine COM port that is a pseudo-terminal, an unplugged
# port, the console's golden output), with the Linux build in LINUX_BUILD_DIR.
#
#   scripts/windows-test.sh BUILD_DIR LINUX_BUILD_DIR
set -eu
build_dir=${1:?usage: $0 BUILD_DIR LINUX_BUILD_DIR}
linux_dir=$(realpath "${2:?usage: $0 BUILD_DIR LINUX_BUILD_DIR}")
WINEPREFIX=$(realpath -m "$build_dir/wineprefix")
WINEDEBUG=-all
export WINEPREFIX WINEDEBUG
mkdir -p "$WINEPREFIX"

stop_server() {
    /usr/lib/wine/wineserver -k 2>/dev/null || true
    /usr/lib/wine/wineserver -w
}
# A server left in this prefix (an interrupted run, a program started by hand)
# would refuse the persistent one.
stop_server
# Its output goes to a file: a Wine COM port that is a pseudo-terminal becomes the
# server's controlling terminal, and when the far end closes, the hang-up makes
# the server list every object it holds (tens of thousands of lines).
/usr/lib/wine/wineserver -p >"$build_dir/wineserver.log" 2>&1
trap stop_server EXIT INT TERM
# The first start fills the prefix (about 15 s, 700 MB); later ones reuse it.
/usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1
ctest --test-dir "$build_dir" --output-on-failure --no-tests=error -j"${JOBS:-2}"

# Debian's python3, which has Debian's pytest (not another python3 on PATH).
VUXOINT_WIN_BIN=$(realpath "$build_dir/bin") \
VUXOINT_TEST_SUPPORT=$(realpath tests/support) \
VUXOINT_SIM="$linux_dir/sim/vuxoint-sim" \
VUXOINT_TOOL="$linux_dir/cli/vuxoint" \
VUXOINT_CONSOLE_RUN_TESTS="$linux_dir/tests/console/console_run_tests" \
    /usr/bin/python3 -m pytest -q -p no:cacheprovider tests/windows
