#!/bin/sh
# Installs the Debian packages the build, tests, benchmarks and fuzzers need,
# when any is missing. As root it runs apt-get; otherwise it prints the line to run.
set -eu
PACKAGES="cmake make g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev"
# vuxoint (the user tool): its database, command line and JSON; python3 reads its exports back in the tests.
PACKAGES="$PACKAGES libsqlite3-dev libcli11-dev nlohmann-json3-dev python3"
# Tests: vuxoint report's page rendered by a headless browser, the screenshot read with libpng;
# librsvg2-bin's rsvg-convert draws report --png's files (needed at run time only for --png).
TEST_PACKAGES="chromium libpng-dev librsvg2-bin"
PACKAGES="$PACKAGES $TEST_PACKAGES"
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
