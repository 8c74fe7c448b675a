#!/bin/sh
# usage: configure_test.sh SOURCE_DIR WORK_DIR
# Configures through the Makefile's own targets with an interpreter that cannot
# import pytest (python3 -S reads no site packages), all in one build directory
# so that what one configure leaves in the cache is seen by the next.
set -eu
src=$1
work=$2
rm -rf "$work"
mkdir -p "$work"
fail() {
    echo "FAIL: $*"
    exit 1
}
# Run from ctest under `make test`, the outer make's job server is not ours.
unset MAKEFLAGS MFLAGS MAKELEVEL

python=$work/python3
printf '#!/bin/sh\nexec /usr/bin/python3 -S "$@"\n' >"$python"
chmod +x "$python"
"$python" -c "import pytest" 2>/dev/null && fail "the wrapper still finds pytest"

configure() {
    make -C "$src" --no-print-directory "$1" BUILD="$work/build" \
        CMAKE_FLAGS="-DVUXO_PYTHON=$python" >"$work/$1.log" 2>&1
}

echo "== make configure (demo, build): succeeds without pytest"
configure configure || {
    cat "$work/configure.log"
    fail "make configure failed without pytest"
}
grep -q "No python3 with pytest" "$work/configure.log" || fail "no warning that the Python tests are left out"

echo "== make configure-test (test): refuses without pytest"
if configure configure-test; then
    fail "make configure-test passed without pytest"
fi
grep -q "python3-pytest" "$work/configure-test.log" ||
    fail "configure-test failed for another reason: $(tail -n 20 "$work/configure-test.log")"

echo "== make configure again, after the refused one: succeeds"
configure configure || {
    cat "$work/configure.log"
    fail "make configure failed after configure-test"
}
rm -rf "$work"
echo "ok"
