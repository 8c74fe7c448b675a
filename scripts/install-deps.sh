#!/bin/sh
# Installs the Debian packages that a purpose needs, when any is missing. As
# root it runs apt-get; otherwise it prints the line to run.
#
#   scripts/install-deps.sh build   the library and the programs (make demo, make deb)
#   scripts/install-deps.sh test    build, plus what the tests need (make test)
#   scripts/install-deps.sh dev     test, plus fuzzing, sanitizers and benchmarks
#   scripts/install-deps.sh windows       the Windows cross build, zip and installer (make windows)
#   scripts/install-deps.sh windows-test  windows, plus GoogleTest's sources and Wine (make windows-test)
#
# The README's dependency table says what each package is for.
set -eu
BUILD_PACKAGES="cmake make g++ pkg-config libbluetooth-dev dpkg-dev libsqlite3-dev libcli11-dev nlohmann-json3-dev libpq-dev libcpp-httplib-dev libudev-dev"
TEST_PACKAGES="libgtest-dev libgmock-dev lintian python3 chromium chromium-driver python3-selenium libpng-dev librsvg2-bin python3-setuptools python3-wheel python3-pip python3-venv python3-pytest postgresql"
DEV_PACKAGES="clang libclang-rt-14-dev libbenchmark-dev"
# Header-only libraries are taken from the Debian packages; SQLite is vendored.
WINDOWS_PACKAGES="cmake make libcli11-dev nlohmann-json3-dev g++-mingw-w64-x86-64-posix nsis zip"
WINDOWS_TEST_PACKAGES="googletest wine64 socat"

purpose=${1:-build}
case "$purpose" in
build) PACKAGES="$BUILD_PACKAGES" ;;
test) PACKAGES="$BUILD_PACKAGES $TEST_PACKAGES" ;;
dev) PACKAGES="$BUILD_PACKAGES $TEST_PACKAGES $DEV_PACKAGES" ;;
windows) PACKAGES="$WINDOWS_PACKAGES" ;;
windows-test) PACKAGES="$WINDOWS_PACKAGES $WINDOWS_TEST_PACKAGES" ;;
*)
    echo "usage: $0 build|test|dev|windows|windows-test" >&2
    exit 2
    ;;
esac

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
[ -z "$missing" ] && exit 0
if [ "$(id -u)" = 0 ]; then
    echo "installing:$missing"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing
else
    echo "missing Debian packages; run as root:"
    echo "  apt-get install -y$missing"
    exit 1
fi
