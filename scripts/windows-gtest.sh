#!/bin/sh
# Builds GoogleTest for the Windows cross build from Debian's sources
# (/usr/src/googletest, package googletest) into BUILD_DIR/gtest-install, where
# the Windows configure finds it. Does nothing when it is already there.
#
#   scripts/windows-gtest.sh BUILD_DIR
set -eu
build_dir=${1:?usage: $0 BUILD_DIR}
install_dir=$build_dir/gtest-install
[ -f "$install_dir/lib/cmake/GTest/GTestConfig.cmake" ] && exit 0

src=/usr/src/googletest
[ -f "$src/CMakeLists.txt" ] || {
    echo "$src not found: run scripts/install-deps.sh windows-test" >&2
    exit 1
}
top=$(cd "$(dirname "$0")/.." && pwd)
work=$build_dir/gtest-build
cmake -S "$src" -B "$work" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$(realpath -m "$install_dir")" \
    -DBUILD_GMOCK=ON -Dgtest_disable_pthreads=OFF >/dev/null
cmake --build "$work" -j"${JOBS:-2}"
cmake --install "$work" >/dev/null
rm -rf "$work"
