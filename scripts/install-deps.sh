#!/bin/sh
# Installs the Debian packages the build, tests, benchmarks and fuzzers need,
# when any is missing. As root it runs apt-get; otherwise it prints the line to run.
set -eu
PACKAGES="cmake make g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev"
# vuxoint (the user tool): its database, command line and JSON; python3 reads its exports back in the tests.
PACKAGES="$PACKAGES libsqlite3-dev libcli11-dev nlohmann-json3-dev python3"
# The Python package: installed with pip offline (setuptools, wheel, pip, venv) and tested with pytest.
PACKAGES="$PACKAGES python3-setuptools python3-wheel python3-pip python3-venv python3-pytest"
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
